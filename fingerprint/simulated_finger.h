// The fingers of the simulated reader. A finger is named by a text; its pattern (30 to 60
// minutiae) follows from the name alone, so the same name is the same finger in every run.
// Each placement sees the pattern anew: turned and shifted on the sensor, every minutia
// jittered, some lost (and some cut off by the window's edge), a few spurious ones added.
#pragma once

#include <string_view>

#include "fingerprint/finger_random.h"
#include "fingerprint/minutia.h"

namespace vantera {

inline constexpr int kPatternMinMinutiae = 30;
inline constexpr int kPatternMaxMinutiae = 60;

// The pattern of the named finger (the name's bytes as they are, Windows-1252 inside).
Minutiae PatternOfFinger(std::string_view name);

// One placement of a pattern on the sensor; random draws come from rng.
Minutiae PlaceFinger(const Minutiae& pattern, FingerRandom& rng);

}  // namespace vantera
