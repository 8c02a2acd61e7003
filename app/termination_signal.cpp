#include "app/termination_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "protocol/bounded_wait.h"

namespace vantera {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipes of the one installed instance, [0] read end, [1] write end: the GUI thread's,
// the watchdog's signal pipe, and the one that tells the watchdog to stop.
int g_pipe[2] = {-1, -1};
int g_watch[2] = {-1, -1};
int g_stop[2] = {-1, -1};
std::atomic<bool> g_installed{false};

extern "C" void OnTerminationSignal(int) {
  int saved = errno;
  InterruptDatabaseWaits();
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(g_pipe[1], &byte, 1);  // full pipe: one is enough
  ignored = ::write(g_watch[1], &byte, 1);
  errno = saved;
}

void ClosePipe(int (&fds)[2]) {
  for (int& fd : fds) {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
}

// Waits until `fd` is readable or `ms` passed (-1: no limit); true when readable.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int ready = ::poll(&p, 1, ms);
    if (ready >= 0)
      return ready > 0;
    if (errno != EINTR)
      return false;
  }
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
  if (g_installed.exchange(true))
    throw std::logic_error("termination signals are already watched");
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(g_watch, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(g_stop, O_CLOEXEC) != 0) {
    ClosePipe(g_pipe);
    ClosePipe(g_watch);
    ClosePipe(g_stop);
    g_installed = false;
    throw std::runtime_error("cannot create the signal pipe");
  }
  notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
  watchdog_ = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : kSignals)
    ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  for (int signal : kSignals)
    std::signal(signal, SIG_DFL);
  notifier_.reset();
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(g_stop[1], &byte, 1);
  if (watchdog_.joinable())
    watchdog_.join();
  ClosePipe(g_pipe);
  ClosePipe(g_watch);
  ClosePipe(g_stop);
  g_installed = false;
}

void TerminationSignals::Watch() {
  pollfd p[2] = {{g_watch[0], POLLIN, 0}, {g_stop[0], POLLIN, 0}};
  for (;;) {
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (p[1].revents != 0)
      return;  // stopped: the program ends by itself
    if (p[0].revents != 0)
      break;
  }
  if (Readable(g_stop[0], static_cast<int>(kForcedExitDelay.count())))
    return;  // the orderly end came in time
  static const char kMessage[] = "vantera: the shut-down did not end in time; ending now\n";
  [[maybe_unused]] ssize_t ignored = ::write(2, kMessage, sizeof kMessage - 1);
  ::_exit(kForcedExitCode);
}

void TerminationSignals::Drain() {
  char buffer[64];
  while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
  }
  if (on_signal_)
    on_signal_();
}

}  // namespace vantera
