// Empty requests per second against one kantadb-server over the local pipe, the local
// registry and TCP on loopback, in one run.
//
//   build/bench/localtx/localtx_bench --benchmark_min_time=2
//
// Compare items_per_second of BM_EmptyRequest/Pipe, /Registry and /Tcp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "dbconn/nxtcCOMTransport.h"
#include "dbconn/nxtnNamedPipeTransport.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera {
namespace {

// The real server program in a private runtime folder, stopped with SIGTERM at the end.
class ServerChild {
 public:
  ServerChild() {
    char tmpl[] = "/tmp/vantera-localtx-bench-XXXXXX";
    if (!mkdtemp(tmpl))
      throw std::runtime_error("mkdtemp");
    folder_ = tmpl;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(KANTADB_SERVER_PATH, KANTADB_SERVER_PATH, "--listen", "127.0.0.1:0", "--no-discovery",
            "--name", "Bench", "--runtime-dir", folder_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (line.size() < 200 && ::read(out[0], &c, 1) == 1 && c != '\n')
      line.push_back(c);
    ::close(out[0]);
    size_t colon = line.rfind(':');
    if (colon == std::string::npos)
      throw std::runtime_error("kantadb-server did not start");
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
  }
  ~ServerChild() {
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  uint16_t Port() const { return port_; }
  const std::string& Folder() const { return folder_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string folder_;
};

ServerChild& Server() {
  static ServerChild server;
  return server;
}

void Ignore(uint32_t, uint32_t, const char*, uint32_t, void*) {}

std::unique_ptr<TnxBaseTransport> MakeTransport(int kind) {
  ServerChild& server = Server();
  switch (kind) {
    case 0: {
      auto t = std::make_unique<TnxNamedPipeTransport>("nxNamedPipeTransport");
      t->SetRuntimeFolder(server.Folder());
      t->SetPort(server.Port());
      t->SetHeartbeatInterval(0);
      t->SetServerNameRuntime("Bench");
      return t;
    }
    case 1: {
      auto t = std::make_unique<TnxRegisteredCOMTransport>("nxCOMTransport");
      t->SetRuntimeFolder(server.Folder());
      t->SetServerNameRuntime("Bench");
      return t;
    }
    default: {
      auto t = std::make_unique<TnxWinsockTransport>("nxWinsockTransport");
      t->SetPort(server.Port());
      t->SetHeartbeatInterval(0);
      t->SetServerNameRuntime("Bench@127.0.0.1");
      return t;
    }
  }
}

void BM_EmptyRequest(benchmark::State& state) {
  std::unique_ptr<TnxBaseTransport> transport = MakeTransport(static_cast<int>(state.range(0)));
  transport->Open();
  uint32_t session = 0;
  if (transport->EstablishSession(0, "", "", 0, session) != 0) {
    state.SkipWithError("no session");
    return;
  }
  for (auto _ : state)
    transport->Request(0, session, 1, nullptr, 0, 0, &Ignore, nullptr);
  state.SetItemsProcessed(state.iterations());
  transport->CloseSession(0, session, 0);
  transport->Close();
}

BENCHMARK(BM_EmptyRequest)->Arg(0)->Arg(1)->Arg(2)->ArgName("pipe0_registry1_tcp2")->UseRealTime();

}  // namespace
}  // namespace vantera
