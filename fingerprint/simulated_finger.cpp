#include "fingerprint/simulated_finger.h"

#include <cmath>
#include <utility>

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMargin = 16;              // pattern minutiae keep off the window's edge
constexpr int kMinSeparation = 16;       // pixels between two minutiae of a pattern
constexpr double kMaxTurn = 20.0;        // degrees a finger is turned at most
constexpr double kMaxShift = 35.0;       // pixels a finger is shifted at most, per axis
constexpr double kPositionJitter = 2.0;  // deviation of a minutia's position, pixels
constexpr double kAngleJitter = 4.0;     // deviation of a minutia's angle, degrees
constexpr double kMissing = 0.12;        // chance that a minutia is not seen
constexpr double kTypeFlip = 0.03;       // chance that an ending reads as a bifurcation or back
constexpr int kMaxSpurious = 4;

int WrapDegrees(double degrees) {
  int a = static_cast<int>(std::lround(degrees)) % 360;
  return a < 0 ? a + 360 : a;
}

}  // namespace

Minutiae PatternOfFinger(std::string_view name) {
  FingerRandom rng(HashOfName(name));
  int count = rng.Int(kPatternMinMinutiae, kPatternMaxMinutiae);
  Minutiae pattern;
  pattern.reserve(static_cast<size_t>(count));
  // Rejection sampling keeps minutiae apart; the try count bounds the loop.
  for (int tries = 0; tries < 5000 && static_cast<int>(pattern.size()) < count; ++tries) {
    Minutia m;
    m.x = static_cast<int16_t>(rng.Int(kMargin, kSensorWidth - 1 - kMargin));
    m.y = static_cast<int16_t>(rng.Int(kMargin, kSensorHeight - 1 - kMargin));
    m.angle = static_cast<uint16_t>(rng.Int(0, 359));
    m.type = rng.Chance(0.5) ? MinutiaType::kEnding : MinutiaType::kBifurcation;
    m.quality = 100;
    bool apart = true;
    for (const Minutia& o : pattern) {
      int dx = o.x - m.x;
      int dy = o.y - m.y;
      if (dx * dx + dy * dy < kMinSeparation * kMinSeparation) {
        apart = false;
        break;
      }
    }
    if (apart)
      pattern.push_back(m);
  }
  return pattern;
}

Minutiae PlaceFinger(const Minutiae& pattern, FingerRandom& rng) {
  const double turn = rng.Uniform(-kMaxTurn, kMaxTurn);
  const double shift_x = rng.Uniform(-kMaxShift, kMaxShift);
  const double shift_y = rng.Uniform(-kMaxShift, kMaxShift);
  const double c = std::cos(turn * kPi / 180.0);
  const double s = std::sin(turn * kPi / 180.0);
  const double cx = kSensorWidth / 2.0;
  const double cy = kSensorHeight / 2.0;

  Minutiae seen;
  seen.reserve(pattern.size() + kMaxSpurious);
  for (const Minutia& m : pattern) {
    if (rng.Chance(kMissing))
      continue;
    double px = m.x + rng.Normal(kPositionJitter) - cx;
    double py = m.y + rng.Normal(kPositionJitter) - cy;
    double x = std::round(c * px - s * py + cx + shift_x);
    double y = std::round(s * px + c * py + cy + shift_y);
    if (x < 0 || y < 0 || x >= kSensorWidth || y >= kSensorHeight)
      continue;
    Minutia out;
    out.x = static_cast<int16_t>(x);
    out.y = static_cast<int16_t>(y);
    out.angle = static_cast<uint16_t>(WrapDegrees(m.angle + turn + rng.Normal(kAngleJitter)));
    out.type = m.type;
    if (rng.Chance(kTypeFlip))
      out.type =
          out.type == MinutiaType::kEnding ? MinutiaType::kBifurcation : MinutiaType::kEnding;
    out.quality = static_cast<uint8_t>(rng.Int(40, 100));
    seen.push_back(out);
  }
  int spurious = rng.Int(0, kMaxSpurious);
  for (int i = 0; i < spurious; ++i) {
    Minutia m;
    m.x = static_cast<int16_t>(rng.Int(0, kSensorWidth - 1));
    m.y = static_cast<int16_t>(rng.Int(0, kSensorHeight - 1));
    m.angle = static_cast<uint16_t>(rng.Int(0, 359));
    m.type = rng.Chance(0.5) ? MinutiaType::kEnding : MinutiaType::kBifurcation;
    m.quality = static_cast<uint8_t>(rng.Int(10, 50));
    seen.push_back(m);
  }
  // A reader lists minutiae in scan order, not in the order of the pattern.
  for (size_t i = seen.size(); i > 1; --i)
    std::swap(seen[i - 1], seen[static_cast<size_t>(rng.Next() % i)]);
  return seen;
}

}  // namespace vantera
