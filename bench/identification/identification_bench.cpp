// One identification pass against kantadb-server over loopback TCP, in the worst case: the
// waiting cards hold 600 stored templates in all and none matches, so the pass reads and
// compares every one. The templates come from rendered finger images through the
// extractor, as the reader makes them (a few distinct fingers, each stored many times,
// keep the set-up short). Beside it, in the same run, the cursor walk of the same records
// (the same ranges, reads and blob copies, without comparing) and the comparisons alone.
//
//   build/bench/identification/identification_bench --benchmark_min_time=2
//
// The pass should stay within 1.3 times the walk plus the comparisons.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/common/server_child.h"
#include "bench/common/tcp_database.h"
#include "fingerprint/enrolment_merge.h"
#include "fingerprint/identification.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"
#include "fingerprint/store.h"

namespace vantera {
namespace {

constexpr int kCards = 6;
constexpr int kPerCard = 100;  // 600 templates in all

class NullView : public WorkflowView {
 public:
  void SetText(std::string_view, const std::string&) override {}
  std::string Text(std::string_view) const override { return {}; }
  void SetEnabled(std::string_view, bool) override {}
  void AddLine(std::string_view, const std::string&) override {}
  void ClearLines(std::string_view) override {}
  void StartControl(std::string_view) override {}
  void StopControl(std::string_view) override {}
  void WriteLog(const std::string& text, bool always) override {
    if (always)
      last_summary = text;
  }
  std::string last_summary;
};

constexpr int kDistinctFingers = 12;

Minutiae Extracted(const std::string& finger, uint64_t placement) {
  return ExtractMinutiae(RenderFinger(finger, placement)).minutiae;
}

IFPTemplate Enrolled(const std::string& finger, uint64_t seed) {
  std::vector<Minutiae> placements;
  for (uint64_t i = 0; i < 4; ++i)
    placements.push_back(Extracted(finger, i));
  TemplateData d;
  d.instance_id = seed;
  d.kind = TemplateKind::kEnrolment;
  d.placements = 4;
  d.minutiae = CombinePlacements(placements);
  return IFPTemplate(d);
}

std::string CardKey(int card) {
  return "BENCH" + std::to_string(100 + card);
}

struct Setup {
  bench::ServerChild server;
  bench::TcpDatabase chain{server.Port()};
  TnxDatabase& database = chain.database;
  FingerprintStore store;
  CardMessageTable messages;
  NullView view;
  std::vector<Bytes> stored;  // the 600 templates, for the comparisons alone
  IFPTemplate captured;

  Setup() {
    store.SetDatabase(&database);
    TnxTable t("BenchAsSormi");
    t.SetDatabase(&database);
    t.SetTableName("ASSORMI");
    t.Open();
    std::vector<Bytes> fingers;
    for (int f = 0; f < kDistinctFingers; ++f)
      fingers.push_back(
          Enrolled(std::to_string(1000 + f) + "/etusormi", static_cast<uint64_t>(f)).ExportBytes());
    for (int card = 0; card < kCards; ++card) {
      for (int i = 0; i < kPerCard; ++i) {
        int customer = 1000 + card * kPerCard + i;
        const Bytes& templ = fingers[static_cast<size_t>(customer % kDistinctFingers)];
        stored.push_back(templ);
        t.Append();
        t.FieldByName("AsNo").SetAsString(StoredAsNo(std::to_string(customer)));
        t.FieldByName("KorttiLyh").SetAsString(CardKey(card));
        t.FieldByName("Maara").SetAsInteger(1);
        TMemoryStream s(templ);
        t.FieldByName("Jalki").LoadFromStream(s);
        t.Post();
      }
    }
    t.Close();
    messages.Open();
    for (int card = 0; card < kCards; ++card) {
      CardMessage m;
      m.KorttiLyh = CardKey(card);
      m.Tyyppi = "Crd";
      messages.Store(m);
    }
    TemplateData d;
    d.instance_id = 99;
    d.minutiae = Extracted("stranger/peukalo", 99);
    captured = IFPTemplate(d);
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
