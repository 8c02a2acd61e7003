// The identification-shaped cursor walk over each transport of the connection module, in
// one run: plain TCP, TCP through the encrypted tunnel, the local pipe and the local
// registry, each with its own kantadb-server on loopback.
//
//   build/bench/transportwalk/transportwalk_bench --benchmark_min_time=2
//
// BM_Walk/<kind>: open ASSORMI on KorttiLyh, SetRangeBounds on one card short number, then
// for each of its 600 records read AsNo and save Jalki (1 KiB) into a stream; close.
// BM_EmptyRequest/<kind>: one request without payload through the chosen transport.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/cursor/walk_fixture.h"
#include "dbclient/nxDbEngine.h"

namespace vantera {
namespace {

enum Kind { kTcp, kTunnel, kPipe, kRegistry, kKinds };
const char* const kKindNames[kKinds] = {"Tcp", "Tunnel", "Pipe", "Registry"};
const char* const kKey = "Salainen avain";

// A server and a connection module wired for one transport, its table filled.
struct Setup {
  std::unique_ptr<bench::ServerChild> server;
  TnxDbEng eng;

  explicit Setup(Kind kind) {
    std::vector<std::string> extra{"--name", "Bench"};
    if (kind == kTunnel) {
      extra.push_back("--tunnel-key");
      extra.push_back(kKey);
    }
    server = std::make_unique<bench::ServerChild>(extra);
    eng.nxNamedPipeTransport.SetRuntimeFolder(server->RuntimeFolder());
    eng.nxNamedPipeTransport.SetPort(server->Port());
    eng.nxCOMTransport.SetRuntimeFolder(server->RuntimeFolder());
    eng.Values.ServerName = "Bench";
    eng.Values.ServerAddress = "127.0.0.1";
    eng.Values.Port = server->Port();
    eng.Values.SecuredTransport = kind == kTunnel;
    eng.Values.Key = kKey;
    eng.OpenConnection(kind == kPipe ? 2 : kind == kRegistry ? 3 : 1, "");
    eng.nxSession.Open();
    bench::FillWalkTable(eng.nxDatabase);
  }
};

Setup& Shared(Kind kind) {
  static std::unique_ptr<Setup> setups[kKinds];
  if (!setups[kind])
    setups[kind] = std::make_unique<Setup>(kind);
  return *setups[kind];
}

void BM_Walk(benchmark::State& state) {
  Kind kind = static_cast<Kind>(state.range(0));
  state.SetLabel(kKindNames[kind]);
  Setup& s = Shared(kind);
  int64_t records = 0;
  for (auto _ : state)
    records += bench::WalkOnce(s.eng.nxDatabase, state);
  state.SetItemsProcessed(records);
}
BENCHMARK(BM_Walk)->DenseRange(kTcp, kRegistry)->UseRealTime()->Unit(benchmark::kMillisecond);

void Ignore(uint32_t, uint32_t, const char*, uint32_t, void*) {}

void BM_EmptyRequest(benchmark::State& state) {
  Kind kind = static_cast<Kind>(state.range(0));
  state.SetLabel(kKindNames[kind]);
  Setup& s = Shared(kind);
  uint32_t id = s.eng.nxSession.RemoteSession()->SessionId();
  TnxBaseTransport* transport = s.eng.nxRemoteServerEngine.Transport();
  for (auto _ : state)
    transport->Request(0, id, 1, nullptr, 0, 10000, &Ignore, nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EmptyRequest)->DenseRange(kTcp, kRegistry)->UseRealTime();

}  // namespace
}  // namespace vantera
