// vantera-msgserver routing between two clients over loopback, beside a bare loopback echo
// of the same wire lines measured in the same run.
//
//   Routed*: card point -> server -> workstation, and the OK reply back the same way
//            (two routed lines per round trip; the server deciphers each to read its
//            recipient and logs nothing per line: --quiet).
//   Echo*:   client -> a plain echo thread -> client, the same bytes, no cipher.
//
// Round trips report p50 and p99 in microseconds; throughput reports lines per second
// (items_per_second), one way, pipelined.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/msglink/program_runner.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using Clock = MsgLineClient::Clock;

const char kCard[] = "Crd^Vantera01^Kassa01^-^17^Kortti esitetty^0123456789^E1^S1^";
const char kReply[] = "Crd^Kassa01^Vantera01^-^17^Kortti esitetty^OK^E1^S1^";

Clock::time_point Soon() {
  return Clock::now() + std::chrono::seconds(10);
}

// CPU seconds (user + system) a process has used so far, from /proc/PID/stat.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14)
      utime = std::stoul(field);
    if (i == 15)
      stime = std::stoul(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& us) {
  if (us.empty())
    return;
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

// The server and two logged-in clients, shared by the routed benchmarks.
struct Routed {
  Routed() : server(0, {"--quiet", "--max-rate", "0"}) {
    point.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
    point.Login("Kassa01", std::chrono::seconds(5));
    station.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
    station.Login("Vantera01", std::chrono::seconds(5));
    if (!server.program().WaitForStderr("(Vantera01) logged in") ||
        !server.program().WaitForStderr("(Kassa01) logged in"))
      throw std::runtime_error("login failed");
    card_wire = point.Encipher(kCard) + "\r\n";
    reply_wire = station.Encipher(kReply) + "\r\n";
  }
  test::MsgServerProcess server;
  MsgLineClient point, station;
  std::string card_wire, reply_wire;
};

// A bare echo over loopback: one connection, every byte sent back.
class EchoServer {
 public:
  EchoServer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listen_fd_, 1) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
      throw std::runtime_error("echo listen failed");
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EchoServer() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  uint16_t port() const { return port_; }

 private:
  void Serve() {
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0)
      return;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0)
        break;
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::send(fd, buf + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
        if (w <= 0) {
          ::close(fd);
          return;
        }
        done += w;
      }
    }
    ::close(fd);
  }

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

void RoutedRoundTrip(benchmark::State& state) {
  Routed r;
  std::vector<double> us;
  std::string wire;
  double cpu0 = ProcessCpuSeconds(r.server.program().pid());
  for (auto _ : state) {
    auto t0 = Clock::now();
    r.point.SendRaw(r.card_wire);
    if (!r.station.ReadWire(&wire, Soon()))
      state.SkipWithError("card line lost");
    r.station.SendRaw(r.reply_wire);
    if (!r.point.ReadWire(&wire, Soon()))
      state.SkipWithError("reply lost");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ReportPercentiles(state, us);
  state.counters["server_cpu_us_per_line"] = (ProcessCpuSeconds(r.server.program().pid()) - cpu0) *
                                             1e6 / static_cast<double>(2 * state.iterations());
}
BENCHMARK(RoutedRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

void EchoRoundTrip(benchmark::State& state) {
  EchoServer echo;
  MsgLineClient c;
  c.Connect("127.0.0.1", echo.port(), std::chrono::seconds(5));
  std::string line = c.Encipher(kCard) + "\r\n", wire;
  std::vector<double> us;
  for (auto _ : state) {
    auto t0 = Clock::now();
    c.SendRaw(line);
    if (!c.ReadWire(&wire, Soon()))
      state.SkipWithError("echo lost");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ReportPercentiles(state, us);
  c.Close();
}
BENCHMARK(EchoRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// One way, pipelined: a sender thread writes `lines` lines, the reader takes them all.
void Pipelined(benchmark::State& state, MsgLineClient& from, MsgLineClient& to,
               const std::string& wire_line) {
  const int64_t lines = state.range(0);
  std::string batch;
  for (int i = 0; i < 64; ++i)
    batch += wire_line;
  std::string wire;
  for (auto _ : state) {
    std::thread sender([&] {
      for (int64_t sent = 0; sent < lines; sent += 64)
        from.SendRaw(batch);
    });
    for (int64_t got = 0; got < lines; ++got) {
      if (!to.ReadWire(&wire, Soon())) {
        state.SkipWithError("line lost");
        break;
      }
    }
    sender.join();
  }
  state.SetItemsProcessed(state.iterations() * lines);
}

void RoutedThroughput(benchmark::State& state) {
  Routed r;
  double cpu0 = ProcessCpuSeconds(r.server.program().pid());
  Pipelined(state, r.point, r.station, r.card_wire);
  double cpu = ProcessCpuSeconds(r.server.program().pid()) - cpu0;
  double lines = static_cast<double>(state.iterations() * state.range(0));
  state.counters["server_cpu_us_per_line"] = cpu * 1e6 / lines;
  // What one unshared core would route at that cost.
  state.counters["lines_per_server_cpu_s"] = cpu > 0 ? lines / cpu : 0;
}
BENCHMARK(RoutedThroughput)->Arg(64 * 1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void EchoThroughput(benchmark::State& state) {
  EchoServer echo;
  MsgLineClient c;
  c.Connect("127.0.0.1", echo.port(), std::chrono::seconds(5));
  std::string line = c.Encipher(kCard) + "\r\n";
  Pipelined(state, c, c, line);
  c.Close();
}
BENCHMARK(EchoThroughput)->Arg(64 * 1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantera
