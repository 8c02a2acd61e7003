#include "bench/frontends/pass_clients.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>

#include "bench/common/identification_cards.h"
#include "bench/common/tcp_database.h"
#include "fingerprint/identification.h"
#include "fingerprint/store.h"

namespace vantera::bench {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// One workstation's database road and identification.
struct Workstation {
  explicit Workstation(uint16_t port) : chain(port) {
    store.SetDatabase(&chain.database);
    AddCardMessages(messages);
  }
  TcpDatabase chain;
  FingerprintStore store;
  CardMessageTable messages;
  NullView view;
  Identification ident{view, store, messages, [](const std::string&) {},
                       [] { return std::string("B"); }};
};

// A child process running `work`, which writes doubles to the descriptor it is given; a
// negative value marks a failure. Returns the child and the read end.
std::pair<pid_t, int> Spawn(const std::function<void(int)>& work) {
  int fds[2];
  if (pipe(fds) != 0)
    throw std::runtime_error("pipe");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork");
  if (pid == 0) {
    ::close(fds[0]);
    int status = 0;
    try {
      work(fds[1]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "client: %s\n", e.what());
      status = 1;
    }
    ::close(fds[1]);
    _exit(status);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

void Put(int fd, double v) {
  if (::write(fd, &v, sizeof v) != static_cast<ssize_t>(sizeof v))
    throw std::runtime_error("result pipe");
}

// Reads the child's values to the end and waits for it; false when it failed.
bool Collect(std::pair<pid_t, int> child, std::vector<double>& out, int& failed) {
  double v;
  while (::read(child.second, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
    if (v < 0)
      ++failed;
    else
      out.push_back(v);
  }
  ::close(child.second);
  int status = 0;
  waitpid(child.first, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

void FillThrough(uint16_t port) {
  std::vector<double> none;
  int failed = 0;
  if (!Collect(Spawn([port](int) {
                 TcpDatabase chain(port);
                 FillCards(chain.database);
               }),
               none, failed))
    throw std::runtime_error("filling the cards failed");
}

PassTimes RunPassClients(const std::vector<uint16_t>& ports, int clients, double seconds) {
  const IFPTemplate capture = StrangerCapture();
  std::vector<std::pair<pid_t, int>> children;
  auto t0 = Clock::now();
  for (int i = 0; i < clients; ++i) {
    uint16_t port = ports[static_cast<size_t>(i) % ports.size()];
    children.push_back(Spawn([port, seconds, &capture](int fd) {
      Workstation w(port);
      w.ident.FPGetTemplateXDone(capture);  // warm: connection, cursors, page cache
      auto start = Clock::now();
      while (MsSince(start) < seconds * 1000) {
        auto p0 = Clock::now();
        w.ident.FPGetTemplateXDone(capture);
        bool whole =
            w.ident.LastResult().comparisons == kCards * kPerCard && !w.ident.LastResult().matched;
        Put(fd, whole ? MsSince(p0) : -1);
      }
    }));
  }
  PassTimes r;
  for (auto& c : children)
    if (!Collect(c, r.ms, r.failed))
      ++r.failed;
  r.seconds = MsSince(t0) / 1000;
  return r;
}

std::vector<double> RunWalks(uint16_t port, int count) {
  std::vector<double> times;
  int failed = 0;
  Collect(Spawn([port, count](int fd) {
            Workstation w(port);
            for (int n = -1; n < count; ++n) {  // the first one warms up, untimed
              auto t0 = Clock::now();
              int records = 0;
              w.store.OpenForIdentification();
              for (const std::string& key : w.messages.Keys()) {
                CardFingerprints card(w.store.TblAsSormi, key);
                for (; !card.AtEnd(); card.Next()) {
                  (void)card.Read();
                  ++records;
                }
                card.Cancel();
              }
              w.store.CloseFingerprints();
              if (n >= 0)
                Put(fd, records == kCards * kPerCard ? MsSince(t0) : -1);
            }
          }),
          times, failed);
  if (failed || static_cast<int>(times.size()) != count)
    throw std::runtime_error("cursor walk failed");
  return times;
}

double Quantile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

}  // namespace vantera::bench
