// Requests per second through the encrypted transport beside the plain TCP transport, in
// one run, against the server's listening half and tunnel half in this process with an
// echo dispatcher (payload sizes 0, 1 KiB and 16 KiB both ways); and the cost of sealing
// and opening one envelope alone.
//
//   build/bench/tunnel/tunnel_bench --benchmark_min_time=2
//
// Compare items_per_second of BM_SecuredRequest/N with BM_PlainRequest/N.
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "dbconn/nxtsBlowfishRC4SecuredTransport.h"
#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/secured_envelope.h"
#include "server/tcp_server.h"
#include "server/tunnel_dispatcher.h"

namespace vantera {
namespace {

class EchoDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession&, uint32_t, std::string_view payload) override {
    return DispatchReply{0, Bytes(payload)};
  }
};

constexpr const char* kKey = "bench-avain";

struct Setup {
  TransportRegistry registry;
  AccountStore accounts;
  LoginChecker login;
  TunnelDispatcher dispatcher{std::make_unique<EchoDispatcher>(), accounts, kKey,
                              ServerLog::Null()};
  ServerContext ctx{registry, dispatcher, accounts, login, ServerLog::Null()};
  std::unique_ptr<TcpServer> server;

  TnxWinsockTransport plain{"Plain"};
  uint32_t plainSession = 0;
  TnxWinsockTransport inner{"Inner"};
  TnxBlowfishRC4SecuredTransport secured{"Secured"};
  uint32_t securedSession = 0;

  Setup() {
    AddTunnelAccount(accounts);
    TcpServerOptions options;
    options.port = 0;
    options.discovery = false;
    server = std::make_unique<TcpServer>(ctx, options);
    server->Start();
    for (TnxWinsockTransport* t : {&plain, &inner}) {
      t->SetServerNameRuntime("127.0.0.1");
      t->SetPort(server->Port());
    }
    plain.Open();
    secured.SetTransport(&inner);
    secured.SetKey(kKey);
    secured.Open();
    if (plain.EstablishSession(0, "", "", 10000, plainSession) != 0 ||
        secured.EstablishSession(0, "", "", 10000, securedSession) != 0)
      throw std::runtime_error("no session");
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void Check(uint32_t, uint32_t error, const char*, uint32_t length, void* cookie) {
  if (error != 0 || length != *static_cast<uint32_t*>(cookie))
    throw std::runtime_error("wrong reply");
}

void Run(benchmark::State& state, TnxBaseTransport& t, uint32_t session) {
  std::string payload(static_cast<size_t>(state.range(0)), 'x');
  uint32_t n = static_cast<uint32_t>(payload.size());
  for (auto _ : state)
    t.Request(0, session, 1, payload.data(), n, 10000, &Check, &n);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2 * state.range(0));
}

void BM_PlainRequest(benchmark::State& state) {
  Setup& s = Shared();
  Run(state, s.plain, s.plainSession);
}
BENCHMARK(BM_PlainRequest)->Arg(0)->Arg(1024)->Arg(16384)->UseRealTime();

void BM_SecuredRequest(benchmark::State& state) {
  Setup& s = Shared();
  Run(state, s.secured, s.securedSession);
}
BENCHMARK(BM_SecuredRequest)->Arg(0)->Arg(1024)->Arg(16384)->UseRealTime();

// One envelope sealed and opened, as each end does per message.
void BM_SealAndOpen(benchmark::State& state) {
  TnxBlowFishRC4 sender(kKey), receiver(kKey);
  std::string payload(static_cast<size_t>(state.range(0)), 'x');
  Bytes buffer;
  OpenedEnvelope opened;
  for (auto _ : state) {
    Bytes env = SealEnvelope(sender, 1, 0, payload);
    if (OpenEnvelope(receiver, env, buffer, opened) != EnvelopeCheck::Ok)
      throw std::runtime_error("bad envelope");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SealAndOpen)->Arg(0)->Arg(1024)->Arg(16384);

}  // namespace
}  // namespace vantera
