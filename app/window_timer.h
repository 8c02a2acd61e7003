// A window timer: an Enabled switch and an Interval in milliseconds; while enabled it fires
// every Interval. An interval of 0 never fires. Enabling an enabled timer changes nothing;
// disabling and enabling again starts a full interval anew; a new interval set while
// enabled starts anew as well. GUI thread only.
#pragma once

#include <QTimer>
#include <functional>
#include <string>

namespace vantera {

class WindowTimer {
 public:
  WindowTimer(std::string name, int interval_ms);
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  const std::string& Name() const { return name_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);

  int Interval() const { return interval_ms_; }
  void SetInterval(int interval_ms);  // a negative interval counts as 0

  // True while the timer will fire: enabled with an interval above 0.
  bool Running() const { return timer_.isActive(); }

  // The handler of the timer's ticks (none at first).
  void SetOnTimer(std::function<void()> handler) { on_timer_ = std::move(handler); }

 private:
  void Restart();

  std::string name_;
  int interval_ms_;
  bool enabled_ = false;
  std::function<void()> on_timer_;
  QTimer timer_;
};

}  // namespace vantera
