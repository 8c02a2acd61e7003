// One minutia of a fingerprint: a ridge ending or a bifurcation at a point, with the
// direction of its ridge. Coordinates are sensor pixels (500 per inch, origin at the top
// left of the sensor window); angles are whole degrees counter-clockwise from the x axis.
#pragma once

#include <cstdint>
#include <vector>

namespace vantera {

enum class MinutiaType : uint8_t { kEnding = 1, kBifurcation = 2 };

struct Minutia {
  int16_t x = 0;
  int16_t y = 0;
  uint16_t angle = 0;  // 0..359
  MinutiaType type = MinutiaType::kEnding;
  uint8_t quality = 0;  // 0..100
  friend bool operator==(const Minutia&, const Minutia&) = default;
};

using Minutiae = std::vector<Minutia>;

// The sensor window of one placement.
inline constexpr int kSensorWidth = 400;
inline constexpr int kSensorHeight = 500;
// Coordinates a template may hold: an enrolment template combines placements and may
// reach past the window of its first placement.
inline constexpr int kCoordMin = -1024;
inline constexpr int kCoordMax = 1023;

}  // namespace vantera
