// The activity log and the message-display switch: the model behind the list MemoSa and
// the check box "Näytä viestit".
//
// Rules:
//  1. A line written with always == false is dropped while message display is off.
//  2. A log holding more than kMaxLines lines is emptied before the next line is added,
//     so it never holds more than kMaxLines + 1 lines.
//  3. Changing message display notifies the view once per change; setting the state it
//     already has notifies nothing.
// One entry per written line; the texts are Windows-1252. Not thread-safe: GUI thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantera {

// What the window shows of the log; called after each change of the model.
class ActivityLogView {
 public:
  virtual ~ActivityLogView() = default;
  virtual void LogLineAdded(const std::string& line) = 0;
  virtual void LogCleared() = 0;
  virtual void MessageDisplayChanged(bool on) = 0;
};

class ActivityLog {
 public:
  static constexpr size_t kMaxLines = 500;

  // The view is not owned and may be null; it must outlive the log or be detached first.
  void SetView(ActivityLogView* view) { view_ = view; }

  void WriteLog(std::string_view text, bool always);
  void Clear();

  bool MessageDisplay() const { return message_display_; }
  void SetMessageDisplay(bool on);

  const std::vector<std::string>& Lines() const { return lines_; }
  size_t LineCount() const { return lines_.size(); }

 private:
  std::vector<std::string> lines_;
  bool message_display_ = false;
  ActivityLogView* view_ = nullptr;
};

}  // namespace vantera
