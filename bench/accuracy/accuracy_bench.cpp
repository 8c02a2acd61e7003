// accuracy_bench: the error rates of the template extractor and matcher on a fingerprint
// database, on the protocol of the public fingerprint verification competitions.
//
//   accuracy_bench --rendered F [--impressions N]   F rendered fingers, N impressions each
//   accuracy_bench --images DIR                     images named F_I.pgm/.png/.tif
//
// Genuine comparisons: every impression against every later impression of its finger.
// Impostor comparisons: the first impression of every finger against the first of every
// other. Each figure is printed on its own line as NAME=VALUE.
#include <time.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "bench/accuracy/accuracy_metrics.h"
#include "bench/accuracy/image_files.h"
#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"
#include "fingerprint/matcher.h"

namespace vantera {
namespace {

// Times are the processor time of this thread, so that other work on a shared machine
// does not count.
struct Clock {
  static double now() {  // milliseconds
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  }
};

struct Database {
  // fingers[f][i]: the minutiae of impression i of finger f (empty when enrolment failed).
  std::vector<std::vector<Minutiae>> fingers;
  long long images = 0;
  long long failures = 0;  // images that gave too few minutiae to be a template
  double extract_ms = 0;   // total
};

constexpr size_t kFewestMinutiae = 8;

void Add(Database& db, size_t f, size_t i, const GreyImage& image) {
  auto t0 = Clock::now();
  Minutiae m;
  try {
    m = ExtractMinutiae(image).minutiae;
  } catch (const EImageError&) {
  }
  db.extract_ms += Clock::now() - t0;
  ++db.images;
  if (m.size() < kFewestMinutiae) {
    ++db.failures;
    m.clear();
  }
  if (db.fingers.size() <= f)
    db.fingers.resize(f + 1);
  if (db.fingers[f].size() <= i)
    db.fingers[f].resize(i + 1);
  db.fingers[f][i] = std::move(m);
}

Database Rendered(int fingers, int impressions) {
  Database db;
  for (int f = 0; f < fingers; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "bench/%05d", f);
    MasterPrint master = RenderMaster(name);
    for (int i = 0; i < impressions; ++i)
      Add(db, static_cast<size_t>(f), static_cast<size_t>(i),
          RenderImpression(master, name, static_cast<uint64_t>(i)));
  }
  return db;
}

Database FromFolder(const std::string& dir) {
  Database db;
  for (const ImageFile& file : ImageFilesOf(dir)) {
    GreyImage image;
    std::string why;
    if (!LoadGreyImage(file.path, &image, &why)) {
      // Unreadable counts as a failed enrolment: its comparisons are non-matches.
      std::fprintf(stderr, "accuracy_bench: %s: %s\n", file.path.c_str(), why.c_str());
      image = GreyImage();
    }
    Add(db, static_cast<size_t>(file.finger), static_cast<size_t>(file.impression), image);
  }
  return db;
}

int Usage() {
  std::fprintf(stderr, "Usage: accuracy_bench --rendered F [--impressions N] | --images DIR\n");
  return 2;
}

}  // namespace
}  // namespace vantera

int main(int argc, char** argv) {
  using namespace vantera;
  int rendered = 0, impressions = 8;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rendered" && i + 1 < argc)
      rendered = std::atoi(argv[++i]);
    else if (a == "--impressions" && i + 1 < argc)
      impressions = std::atoi(argv[++i]);
    else if (a == "--images" && i + 1 < argc)
      dir = argv[++i];
    else
      return Usage();
  }
  if ((rendered <= 0) == dir.empty() || impressions < 1 || impressions > 64)
    return Usage();
  Database db = rendered > 0 ? Rendered(rendered, impressions) : FromFolder(dir);

  // Scores of the empty templates are 0: a failed enrolment counts as a non-match.
  std::vector<double> genuine, impostor;
  long long comparisons = 0;
  // The decision rule before the score (10 pairs and a third of the smaller set), beside
  // the score's for comparison.
  long long old_rule_misses = 0, old_rule_false_matches = 0;
  auto old_rule = [](const MatchResult& r, const Minutiae& x, const Minutiae& y) {
    size_t smaller = std::min(x.size(), y.size());
    return r.pairs >= kMinPairs && static_cast<size_t>(r.pairs) * 3 >= smaller;
  };
  auto t0 = Clock::now();
  for (const auto& finger : db.fingers)
    for (size_t i = 0; i < finger.size(); ++i)
      for (size_t j = i + 1; j < finger.size(); ++j) {
        MatchResult r = MatchMinutiae(finger[i], finger[j]);
        genuine.push_back(r.score);
        old_rule_misses += !old_rule(r, finger[i], finger[j]);
        ++comparisons;
      }
  for (size_t f = 0; f < db.fingers.size(); ++f)
    for (size_t g = f + 1; g < db.fingers.size(); ++g) {
      if (db.fingers[f].empty() || db.fingers[g].empty())
        continue;
      MatchResult r = MatchMinutiae(db.fingers[f][0], db.fingers[g][0]);
      impostor.push_back(r.score);
      old_rule_false_matches += old_rule(r, db.fingers[f][0], db.fingers[g][0]);
      ++comparisons;
    }
  double compare_ms = Clock::now() - t0;

  // The identification pass: one capture against the stored templates, each compared as
  // CompareTemplates does (stored first, capture second). Captures: the second impression
  // (the first when there is one) of up to 20 fingers; stored: the first impressions of up
  // to 600 fingers.
  long long pass_comparisons = 0;
  size_t stored_count = std::min<size_t>(db.fingers.size(), 600);
  auto t1 = Clock::now();
  for (size_t f = 0; f < std::min<size_t>(db.fingers.size(), 20); ++f) {
    const Minutiae& capture = db.fingers[f].back();
    for (size_t g = 0; g < stored_count; ++g) {
      MatchResult r = MatchMinutiae(db.fingers[g][0], capture);
      pass_comparisons += r.pairs >= 0;
    }
  }
  double pass_ms = Clock::now() - t1;
  double minutiae_total = 0;
  for (const auto& finger : db.fingers)
    for (const Minutiae& m : finger)
      minutiae_total += static_cast<double>(m.size());

  ErrorRates r = RatesOf(genuine, impostor);
  AtThreshold at = RatesAt(genuine, impostor, kMatchThreshold);
  std::printf("fingers=%zu\n", db.fingers.size());
  std::printf("images=%lld\n", db.images);
  std::printf("enrolment_failures=%lld\n", db.failures);
  std::printf("genuine=%zu\n", genuine.size());
  std::printf("impostors=%zu\n", impostor.size());
  std::printf("EER=%.3f%%\n", r.eer);
  std::printf("FMR100=%.3f%%\n", r.fmr100);
  std::printf("FMR1K=%.3f%%\n", r.fmr1k);
  std::printf("FMR10K=%.3f%%\n", r.fmr10k);
  std::printf("ZeroFMR=%.3f%%\n", r.zero_fmr);
  std::printf("threshold=%d\n", kMatchThreshold);
  std::printf("FNMR_at_threshold=%.3f%%\n", at.fnmr);
  std::printf("FMR_at_threshold=%.6f%%\n", at.fmr);
  std::printf("false_matches_at_threshold=%lld\n", at.false_matches);
  // One identification pass compares a capture with up to 600 stored templates.
  double p = impostor.empty() ? 0 : static_cast<double>(at.false_matches) / impostor.size();
  std::printf("false_identification_per_600_pass=%.6f%%\n", 100.0 * (1 - std::pow(1 - p, 600)));
  if (at.false_matches == 0 && !impostor.empty())
    std::printf("false_identification_per_600_pass_bound95=%.6f%%\n",
                100.0 * (1 - std::pow(1 - 3.0 / impostor.size(), 600)));
  std::printf("old_rule_FNMR=%.3f%%\n",
              genuine.empty() ? 0 : 100.0 * static_cast<double>(old_rule_misses) / genuine.size());
  std::printf("old_rule_false_matches=%lld\n", old_rule_false_matches);
  std::printf("extract_ms=%.2f\n", db.images ? db.extract_ms / db.images : 0);
  std::printf("minutiae_per_template=%.1f\n",
              db.images ? minutiae_total / static_cast<double>(db.images) : 0);
  // compare_us: as in an identification pass; protocol_compare_us: the comparisons above,
  // where each one meets a new pair and prepares both sets.
  std::printf("compare_us=%.2f\n", pass_comparisons ? 1000.0 * pass_ms / pass_comparisons : 0);
  std::printf("pass_600_ms=%.2f\n", pass_comparisons ? 600.0 * pass_ms / pass_comparisons : 0);
  std::printf("protocol_compare_us=%.2f\n", comparisons ? 1000.0 * compare_ms / comparisons : 0);
  // Score spreads, for choosing the threshold.
  auto show = [](const char* what, std::vector<double> v) {
    if (v.empty())
      return;
    std::sort(v.begin(), v.end());
    auto q = [&v](double f) { return v[static_cast<size_t>(f * (v.size() - 1))]; };
    std::printf("%s_scores=min %.0f p1 %.0f p50 %.0f p99 %.0f max %.0f\n", what, v.front(), q(0.01),
                q(0.5), q(0.99), v.back());
  };
  show("genuine", genuine);
  show("impostor", impostor);
  return 0;
}
