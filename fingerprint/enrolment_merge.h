// Combining the placements of one enrolment into one minutia set.
//
// Every later placement is aligned onto the first (MatchMinutiae) and carried into its
// frame. Minutiae of different placements that fall together (same type, within the
// pairing distance and angle) are one minutia, placed at their mean. A minutia seen in at
// least two placements is kept; one seen once is taken for noise and dropped. The result
// covers more of the finger than any one placement and holds fewer spurious minutiae.
#pragma once

#include <cstddef>
#include <vector>

#include "fingerprint/minutia.h"

namespace vantera {

// At least one placement. Placements that do not align with the first add nothing. When
// too few minutiae are confirmed (fewer than kMinCombined), the first placement is returned
// as it is. The result holds at most kMaxCombined minutiae, the most often seen first.
inline constexpr size_t kMinCombined = 12;
inline constexpr size_t kMaxCombined = 120;
Minutiae CombinePlacements(const std::vector<Minutiae>& placements);

}  // namespace vantera
