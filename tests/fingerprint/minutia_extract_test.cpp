// The extractor on drawn ridges whose minutiae are known, and on images that are not
// fingers at all.
#include "fingerprint/image/minutia_extract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "fingerprint/finger_random.h"

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Horizontal ridges 9 pixels apart, dark on light, with two phase dislocations: at
// (100, 70) a ridge ends (it runs to the right of the point) and at (100, 140.5) a ridge
// forks (its stem to the right, the fork opening to the left). A short stub of ridge
// sticks out of a ridge near (44, 97): a spur, not a minutia.
GreyImage DrawnRidges(bool with_spur) {
  GreyImage g(200, 200);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      double phase =
          2 * kPi * y / 9.0 + std::atan2(y - 70.0, x - 100.0) - std::atan2(y - 140.5, x - 100.0);
      g.at(x, y) = std::cos(phase) > 0.2 ? 50 : 210;
    }
  if (with_spur)
    for (int k = 0; k < 6; ++k)
      for (int d = -1; d <= 1; ++d)
        g.at(40 + k + d, 100 - k) = 50;
  return g;
}

int AngleGap(int a, int b) {
  int d = std::abs(a - b) % 360;
  return d > 180 ? 360 - d : d;
}

TEST(MinutiaExtract, DrawnRidgesGiveTheirEndingAndForkAndNoSpur) {
  for (bool spur : {false, true}) {
    Extraction e = ExtractMinutiae(DrawnRidges(spur));
    EXPECT_EQ(e.foreground_percent, 100);
    ASSERT_EQ(e.minutiae.size(), 2u) << "spur " << spur;
    const Minutia& ending = e.minutiae[0];  // in scan order: the upper one first
    const Minutia& fork = e.minutiae[1];
    EXPECT_EQ(ending.type, MinutiaType::kEnding);
    EXPECT_NEAR(ending.x, 100, 4);
    EXPECT_NEAR(ending.y, 70, 4);
    EXPECT_LE(AngleGap(ending.angle, 180), 20) << ending.angle;  // out of the ridge's end
    EXPECT_EQ(fork.type, MinutiaType::kBifurcation);
    EXPECT_NEAR(fork.x, 100, 4);
    EXPECT_NEAR(fork.y, 141, 4);
    EXPECT_LE(AngleGap(fork.angle, 180), 20) << fork.angle;  // from the stem into the fork
    EXPECT_GE(ending.quality, 50);
  }
}

TEST(MinutiaExtract, TurnedRidgesTurnTheMinutiae) {
  // The drawing turned by a quarter: x' = 199 - y, y' = x; directions turn by +90 degrees.
  GreyImage drawn = DrawnRidges(false);
  GreyImage turned(200, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      turned.at(199 - y, x) = drawn.at(x, y);
  Extraction e = ExtractMinutiae(turned);
  ASSERT_EQ(e.minutiae.size(), 2u);
  for (const Minutia& m : e.minutiae) {
    EXPECT_NEAR(m.y, 100, 4);
    EXPECT_LE(AngleGap(m.angle, 270), 20)
        << m.angle << " type " << int(m.type) << " at " << m.x << "," << m.y;
    EXPECT_NEAR(m.x, m.type == MinutiaType::kEnding ? 129 : 58, 4);
  }
}

TEST(MinutiaExtract, ImagesWithoutRidgesGiveNoMinutiaeAndBadSizesAreRefused) {
  EXPECT_TRUE(ExtractMinutiae(GreyImage(300, 300, 255)).minutiae.empty());
  EXPECT_TRUE(ExtractMinutiae(GreyImage(300, 300, 0)).minutiae.empty());
  // Noise: whatever it finds lies inside the image with its fields in range.
  FingerRandom rng(3);
  GreyImage noise(257, 131);
  for (uint8_t& p : noise.pixels)
    p = static_cast<uint8_t>(rng.Next());
  for (const Minutia& m : ExtractMinutiae(noise).minutiae) {
    EXPECT_TRUE(m.x >= 0 && m.x < 257 && m.y >= 0 && m.y < 131);
    EXPECT_LT(m.angle, 360);
    EXPECT_LE(m.quality, 100);
  }
  EXPECT_THROW(ExtractMinutiae(GreyImage(31, 200)), EImageError);
  EXPECT_THROW(ExtractMinutiae(GreyImage(200, kMaxImageSide + 1)), EImageError);
  GreyImage lying(100, 100);
  lying.pixels.resize(50);
  EXPECT_THROW(ExtractMinutiae(lying), EImageError);
  EXPECT_NO_THROW(ExtractMinutiae(GreyImage(kMinImageSide, kMinImageSide, 128)));
}

}  // namespace
}  // namespace vantera
