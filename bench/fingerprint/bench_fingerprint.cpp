// CompareTemplates per second (the identification pass compares up to 600 stored templates
// with one capture) and the simulated reader's template generation per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "fingerprint/enrolment_merge.h"
#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/simulated_finger.h"

namespace vantera {
namespace {

constexpr int kStored = 600;

IFPTemplate Template(Minutiae minutiae, TemplateKind kind, FingerRandom& rng) {
  TemplateData data;
  data.instance_id = rng.Next();
  data.kind = kind;
  data.placements = kind == TemplateKind::kEnrolment ? 4 : 1;
  data.minutiae = std::move(minutiae);
  return IFPTemplate(data);
}

IFPTemplate Enrolled(const std::string& finger, FingerRandom& rng) {
  Minutiae pattern = PatternOfFinger(finger);
  std::vector<Minutiae> placements;
  for (int p = 0; p < 4; ++p)
    placements.push_back(PlaceFinger(pattern, rng));
  return Template(CombinePlacements(placements), TemplateKind::kEnrolment, rng);
}

// Stored enrolment templates of other fingers against one capture: the worst case of an
// identification pass (no match, every comparison made).
void BM_CompareTemplatesNoMatch(benchmark::State& state) {
  FingerRandom rng(1);
  std::vector<IFPTemplate> stored;
  for (int i = 0; i < kStored; ++i)
    stored.push_back(Enrolled("stored " + std::to_string(i), rng));
  IFPTemplate captured =
      Template(PlaceFinger(PatternOfFinger("captured"), rng), TemplateKind::kCapture, rng);
  CoFPVerify verify;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(verify.CompareTemplates(stored[i], captured).verified);
    i = (i + 1) % stored.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompareTemplatesNoMatch);

// The same with the stored bytes imported before every comparison, as the pass does.
void BM_ImportAndCompareNoMatch(benchmark::State& state) {
  FingerRandom rng(2);
  std::vector<Bytes> stored;
  for (int i = 0; i < kStored; ++i)
    stored.push_back(Enrolled("stored " + std::to_string(i), rng).ExportBytes());
  IFPTemplate captured =
      Template(PlaceFinger(PatternOfFinger("captured"), rng), TemplateKind::kCapture, rng);
  CoFPVerify verify;
  size_t i = 0;
  for (auto _ : state) {
    IFPTemplate t = CoFPTemplate::Create();
    t.ImportBytes(stored[i]);
    benchmark::DoNotOptimize(verify.CompareTemplates(t, captured).verified);
    i = (i + 1) % stored.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ImportAndCompareNoMatch);

// Same finger: enrolment against fresh captures.
void BM_CompareTemplatesMatch(benchmark::State& state) {
  FingerRandom rng(3);
  std::vector<IFPTemplate> stored;
  std::vector<IFPTemplate> captures;
  for (int i = 0; i < 100; ++i) {
    std::string name = "finger " + std::to_string(i);
    stored.push_back(Enrolled(name, rng));
    captures.push_back(
        Template(PlaceFinger(PatternOfFinger(name), rng), TemplateKind::kCapture, rng));
  }
  CoFPVerify verify;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(verify.CompareTemplates(stored[i], captures[i]).verified);
    i = (i + 1) % stored.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompareTemplatesMatch);

// One placement of a named finger made into template bytes (what a capture costs).
void BM_CaptureTemplate(benchmark::State& state) {
  FingerRandom rng(4);
  int n = 0;
  for (auto _ : state) {
    std::string name = "12345/finger " + std::to_string(n++ % 1000);
    benchmark::DoNotOptimize(
        Template(PlaceFinger(PatternOfFinger(name), rng), TemplateKind::kCapture, rng)
            .ExportBytes());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptureTemplate);

// Four placements combined into an enrolment template.
void BM_EnrolmentTemplate(benchmark::State& state) {
  FingerRandom rng(5);
  int n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        Enrolled("12345/finger " + std::to_string(n++ % 1000), rng).ExportBytes());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnrolmentTemplate);

}  // namespace
}  // namespace vantera
