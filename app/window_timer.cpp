#include "app/window_timer.h"

namespace vantera {

WindowTimer::WindowTimer(std::string name, int interval_ms)
    : name_(std::move(name)), interval_ms_(interval_ms < 0 ? 0 : interval_ms) {
  timer_.setObjectName(QString::fromStdString(name_));
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (on_timer_)
      on_timer_();
  });
}

void WindowTimer::SetEnabled(bool on) {
  if (on == enabled_)
    return;
  enabled_ = on;
  Restart();
}

void WindowTimer::SetInterval(int interval_ms) {
  if (interval_ms < 0)
    interval_ms = 0;
  if (interval_ms == interval_ms_)
    return;
  interval_ms_ = interval_ms;
  Restart();
}

void WindowTimer::Restart() {
  timer_.stop();
  if (enabled_ && interval_ms_ > 0)
    timer_.start(interval_ms_);
}

}  // namespace vantera
