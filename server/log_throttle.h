// A limit on how often one kind of log line is written, so that a flood of refused
// connections does not flood the log: at most one line per interval, the next line
// written telling how many were held back since the one before.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantera {

class LogThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LogThrottle(std::chrono::milliseconds interval) : interval_(interval) {}

  // Whether a line may be written at `now`. When it may, `held` is set to the remark to
  // append (empty when nothing was held back, else " (N similar line(s) held back)").
  bool Allow(Clock::time_point now, std::string& held) {
    if (written_ && now - last_ < interval_) {
      ++held_back_;
      return false;
    }
    Force(now, held);
    return true;
  }

  // A line that is written whatever the interval (a more important one of the same kind):
  // sets `held` as Allow does and starts a new interval at `now`.
  void Force(Clock::time_point now, std::string& held) {
    held = held_back_ == 0 ? std::string()
                           : " (" + std::to_string(held_back_) + " similar line(s) held back)";
    written_ = true;
    last_ = now;
    held_back_ = 0;
  }

 private:
  const std::chrono::milliseconds interval_;
  bool written_ = false;
  Clock::time_point last_;
  uint64_t held_back_ = 0;
};

}  // namespace vantera
