#include "app/activity_log.h"

namespace vantera {

void ActivityLog::WriteLog(std::string_view text, bool always) {
  if (!always && !message_display_)
    return;
  if (lines_.size() > kMaxLines)
    Clear();
  lines_.emplace_back(text);
  if (view_ != nullptr)
    view_->LogLineAdded(lines_.back());
}

void ActivityLog::Clear() {
  lines_.clear();
  if (view_ != nullptr)
    view_->LogCleared();
}

void ActivityLog::SetMessageDisplay(bool on) {
  if (on == message_display_)
    return;
  message_display_ = on;
  if (view_ != nullptr)
    view_->MessageDisplayChanged(on);
}

}  // namespace vantera
