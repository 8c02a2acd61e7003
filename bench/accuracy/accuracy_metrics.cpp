#include "bench/accuracy/accuracy_metrics.h"

#include <algorithm>
#include <cmath>

namespace vantera {

ErrorRates RatesOf(std::vector<double> genuine, std::vector<double> impostor) {
  ErrorRates r;
  if (genuine.empty() || impostor.empty())
    return r;
  std::sort(genuine.begin(), genuine.end());
  std::sort(impostor.begin(), impostor.end());
  // Candidate thresholds: every score seen, and one above them all.
  std::vector<double> cuts = genuine;
  cuts.insert(cuts.end(), impostor.begin(), impostor.end());
  cuts.push_back(std::max(genuine.back(), impostor.back()) + 1);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  const double ng = static_cast<double>(genuine.size());
  const double ni = static_cast<double>(impostor.size());
  r.fmr100 = r.fmr1k = r.fmr10k = r.zero_fmr = 100;
  double best_gap = 1e9;
  for (double t : cuts) {
    double fnmr =
        100.0 *
        static_cast<double>(std::lower_bound(genuine.begin(), genuine.end(), t) - genuine.begin()) /
        ng;
    double fmr = 100.0 *
                 static_cast<double>(impostor.end() -
                                     std::lower_bound(impostor.begin(), impostor.end(), t)) /
                 ni;
    if (fmr <= 1.0)
      r.fmr100 = std::min(r.fmr100, fnmr);
    if (fmr <= 0.1)
      r.fmr1k = std::min(r.fmr1k, fnmr);
    if (fmr <= 0.01)
      r.fmr10k = std::min(r.fmr10k, fnmr);
    if (fmr == 0)
      r.zero_fmr = std::min(r.zero_fmr, fnmr);
    double gap = std::fabs(fmr - fnmr);
    if (gap < best_gap) {
      best_gap = gap;
      r.eer = (fmr + fnmr) / 2;
    }
  }
  return r;
}

AtThreshold RatesAt(const std::vector<double>& genuine, const std::vector<double>& impostor,
                    double threshold) {
  AtThreshold a;
  long long misses = 0;
  for (double g : genuine)
    misses += g < threshold;
  for (double i : impostor)
    a.false_matches += i >= threshold;
  a.fnmr = genuine.empty() ? 0 : 100.0 * static_cast<double>(misses) / genuine.size();
  a.fmr = impostor.empty() ? 0 : 100.0 * static_cast<double>(a.false_matches) / impostor.size();
  return a;
}

}  // namespace vantera
