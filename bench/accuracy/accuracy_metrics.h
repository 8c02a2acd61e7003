// Error rates of a matcher from its genuine and impostor scores, as the public fingerprint
// verification competitions define them: a comparison verifies when its score reaches the
// threshold; FMR(t) is the share of impostor scores >= t, FNMR(t) the share of genuine
// scores < t.
#pragma once

#include <vector>

namespace vantera {

struct ErrorRates {
  double eer = 0;       // percent, where FMR and FNMR cross (their mean at the crossing)
  double fmr100 = 0;    // lowest FNMR (percent) with FMR <= 1 %
  double fmr1k = 0;     // ... FMR <= 0.1 %
  double fmr10k = 0;    // ... FMR <= 0.01 %
  double zero_fmr = 0;  // lowest FNMR with no false match
};

ErrorRates RatesOf(std::vector<double> genuine, std::vector<double> impostor);

// FMR and FNMR (percent) at one threshold; false_matches counts impostors >= threshold.
struct AtThreshold {
  double fmr = 0;
  double fnmr = 0;
  long long false_matches = 0;
};
AtThreshold RatesAt(const std::vector<double>& genuine, const std::vector<double>& impostor,
                    double threshold);

}  // namespace vantera
