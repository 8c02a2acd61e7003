// One identification pass against kantadb-server over loopback TCP, in the worst case: the
// waiting cards hold 600 stored templates in all and none matches, so the pass reads and
// compares every one (bench/common/identification_cards.h). Beside it, in the same run, the cursor
// walk of the same records (the same ranges, reads and blob copies, without comparing) and the
// comparisons alone.
//
//   build/bench/identification/identification_bench --benchmark_min_time=2
//
// The pass should stay within 1.3 times the walk plus the comparisons.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/common/identification_cards.h"
#include "bench/common/server_child.h"
#include "bench/common/tcp_database.h"
#include "fingerprint/identification.h"
#include "fingerprint/store.h"

namespace vantera {
namespace {

using bench::kCards;
using bench::kPerCard;

struct Setup {
  bench::ServerChild server;
  bench::TcpDatabase chain{server.Port()};
  TnxDatabase& database = chain.database;
  FingerprintStore store;
  CardMessageTable messages;
  bench::NullView view;
  std::vector<Bytes> stored;  // the 600 templates, for the comparisons alone
  IFPTemplate captured;

  Setup() {
    store.SetDatabase(&database);
    stored = bench::FillCards(database);
    bench::AddCardMessages(messages);
    captured = bench::StrangerCapture();
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_IdentificationPass(benchmark::State& state) {
  Setup& s = Shared();
  Identification ident(
      s.view, s.store, s.messages, [](const std::string&) {}, [] { return std::string("B"); });
  // One pass untimed: the server's page cache and the buffers start warm, as they are for
  // the walk measured after it.
  ident.FPGetTemplateXDone(s.captured);
  for (auto _ : state) {
    ident.FPGetTemplateXDone(s.captured);
    if (ident.LastResult().comparisons != kCards * kPerCard || ident.LastResult().matched)
      state.SkipWithError(("unexpected pass: " + s.view.last_summary).c_str());
  }
  state.SetItemsProcessed(state.iterations() * kCards * kPerCard);
}
BENCHMARK(BM_IdentificationPass)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same ranges and reads through the store, without comparing.
void BM_CursorWalk(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) {
    int records = 0;
    s.store.OpenForIdentification();
    for (const std::string& key : s.messages.Keys()) {
      CardFingerprints card(s.store.TblAsSormi, key);
      for (; !card.AtEnd(); card.Next()) {
        benchmark::DoNotOptimize(card.Read());
        ++records;
      }
      card.Cancel();
    }
    s.store.CloseFingerprints();
    if (records != kCards * kPerCard)
      state.SkipWithError("wrong record count");
  }
  state.SetItemsProcessed(state.iterations() * kCards * kPerCard);
}
BENCHMARK(BM_CursorWalk)->UseRealTime()->Unit(benchmark::kMillisecond);

// The 600 imports and comparisons of a pass without the database.
void BM_ComparisonsOfAPass(benchmark::State& state) {
  Setup& s = Shared();
  CoFPVerify verify = CoFPVerify::Create();
  for (auto _ : state) {
    for (const Bytes& b : s.stored) {
      IFPTemplate t = CoFPTemplate::Create();
      t.ImportBytes(b);
      benchmark::DoNotOptimize(verify.CompareTemplates(t, s.captured).verified);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.stored.size()));
}
BENCHMARK(BM_ComparisonsOfAPass)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantera
