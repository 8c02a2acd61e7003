// Empty requests per second against one kantadb-server over the local pipe, the local
// registry and TCP on loopback, in one run.
//
//   build/bench/localtx/localtx_bench --benchmark_min_time=2
//
// Compare items_per_second of BM_EmptyRequest/Pipe, /Registry and /Tcp.
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "bench/common/server_child.h"
#include "dbconn/nxtcCOMTransport.h"
#include "dbconn/nxtnNamedPipeTransport.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera {
namespace {

// The server runs without a data folder: empty requests need none.
bench::ServerChild& Server() {
  static bench::ServerChild server({"--name", "Bench"}, bench::DataFolder::None);
  return server;
}

void Ignore(uint32_t, uint32_t, const char*, uint32_t, void*) {}

std::unique_ptr<TnxBaseTransport> MakeTransport(int kind) {
  bench::ServerChild& server = Server();
  switch (kind) {
    case 0: {
      auto t = std::make_unique<TnxNamedPipeTransport>("nxNamedPipeTransport");
      t->SetRuntimeFolder(server.RuntimeFolder());
      t->SetPort(server.Port());
      t->SetHeartbeatInterval(0);
      t->SetServerNameRuntime("Bench");
      return t;
    }
    case 1: {
      auto t = std::make_unique<TnxRegisteredCOMTransport>("nxCOMTransport");
      t->SetRuntimeFolder(server.RuntimeFolder());
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
