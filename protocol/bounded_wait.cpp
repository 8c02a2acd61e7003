#include "protocol/bounded_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace vantera {

namespace {

// The wake-up pipe: written once by the interrupt and never drained, so that every wait
// that polls its read end wakes at once. Made before main runs, so that a signal handler
// finds it ready.
struct WakePipe {
  int fds[2] = {-1, -1};
  WakePipe() {
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
      fds[0] = fds[1] = -1;  // waits then only see their deadlines and the flag
  }
};

WakePipe g_wake;
std::atomic<bool> g_interrupted{false};
// When the interrupt came, in ns of the monotonic clock (the clock of WaitClock).
std::atomic<int64_t> g_interrupt_ns{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
              "the interrupt is set from a signal handler");

// Polls in slices of this length when the wake-up pipe is missing.
constexpr int kSliceMs = 100;

int64_t MonotonicNs() noexcept {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

WaitClock::time_point GraceEnd() {
  const int64_t at = g_interrupt_ns.load();
  return WaitClock::time_point(
             std::chrono::duration_cast<WaitClock::duration>(std::chrono::nanoseconds(at))) +
         kShutdownGrace;
}

}  // namespace

WaitClock::time_point DeadlineAfter(uint32_t ms) {
  return WaitClock::now() + std::chrono::milliseconds(ms);
}

bool WaitForSocket(int fd, short events, WaitClock::time_point deadline) {
  for (;;) {
    const bool interrupted = g_interrupted.load();
    const WaitClock::time_point until = interrupted ? std::min(deadline, GraceEnd()) : deadline;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - WaitClock::now()).count();
    if (left <= 0) {
      pollfd now{fd, events, 0};
      return ::poll(&now, 1, 0) > 0;  // ready at the last moment still counts
    }
    pollfd p[2] = {{fd, events, 0}, {g_wake.fds[0], POLLIN, 0}};
    const bool watch_wake = !interrupted && g_wake.fds[0] >= 0;
    int slice = static_cast<int>(std::min<int64_t>(left, 60000));
    if (!interrupted && g_wake.fds[0] < 0)
      slice = std::min(slice, kSliceMs);
    const int ready = ::poll(p, watch_wake ? 2 : 1, slice);
    if (ready < 0 && errno != EINTR)
      return true;  // the socket itself is unusable: the read or write says why
    if (ready > 0 && p[0].revents != 0)
      return true;
    // Woken by the interrupt, a slice end or a signal: look at the bounds again.
  }
}

void InterruptDatabaseWaits() noexcept {
  if (!g_interrupted.load()) {
    g_interrupt_ns.store(MonotonicNs());
    g_interrupted.store(true);
  }
  if (g_wake.fds[1] >= 0) {
    const int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(g_wake.fds[1], &byte, 1);
    errno = saved;
  }
}

bool DatabaseWaitsInterrupted() noexcept {
  return g_interrupted.load();
}

void ResetDatabaseWaitInterrupt() noexcept {
  g_interrupted.store(false);
  g_interrupt_ns.store(0);
  if (g_wake.fds[0] >= 0) {
    char buffer[64];
    while (::read(g_wake.fds[0], buffer, sizeof buffer) > 0) {
    }
  }
}

}  // namespace vantera
