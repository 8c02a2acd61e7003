// Empty requests per second through the TCP transport against kantadb-server on loopback,
// beside a bare ping-pong of 32-byte frames over one loopback TCP socket in the same run.
//
//   build/bench/transport/transport_bench --benchmark_min_time=2
//
// Compare items_per_second of BM_TransportEmptyRequest/threads:1 with BM_BarePingPong32.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/common/server_child.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera {
namespace {

struct Setup {
  bench::ServerChild server{{}, bench::DataFolder::None};
  TnxWinsockTransport transport;
  uint32_t session = 0;

  Setup() {
    transport.SetServerNameRuntime("127.0.0.1");
    transport.SetPort(server.Port());
    transport.Open();
    if (transport.EstablishSession(0, "", "", 10000, session) != 0)
      throw std::runtime_error("no session");
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void Ignore(uint32_t, uint32_t, const char*, uint32_t, void*) {}

void BM_TransportEmptyRequest(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state)
    s.transport.Request(0, s.session, 1, nullptr, 0, 10000, &Ignore, nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransportEmptyRequest)->Threads(1)->Threads(4)->UseRealTime();

bool ReadExact(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t got = ::recv(fd, p, n, 0);
    if (got <= 0)
      return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

void BM_BarePingPong32(benchmark::State& state) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::listen(listener, 1);
  socklen_t len = sizeof sa;
  getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(client, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int server = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  std::thread echo([server] {
    char frame[32];
    while (ReadExact(server, frame, sizeof frame)) {
      if (::send(server, frame, sizeof frame, MSG_NOSIGNAL) != sizeof frame)
        break;
    }
  });
  char frame[32] = {};
  for (auto _ : state) {
    ::send(client, frame, sizeof frame, MSG_NOSIGNAL);
    ReadExact(client, frame, sizeof frame);
  }
  state.SetItemsProcessed(state.iterations());
  ::shutdown(client, SHUT_RDWR);
  echo.join();
  ::close(client);
  ::close(server);
}
BENCHMARK(BM_BarePingPong32)->UseRealTime();

}  // namespace
}  // namespace vantera
