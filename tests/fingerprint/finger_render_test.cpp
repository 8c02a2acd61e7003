// The finger renderer: sizes, determinism per name and placement, and the variety of its
// impressions and pattern classes.
#include "fingerprint/image/finger_render.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vantera {
namespace {

TEST(FingerRender, SameNameAndPlacementGiveTheSameImage) {
  GreyImage a = RenderFinger("12345/oikea etusormi", 3);
  ASSERT_EQ(a.width, kImageWidth);
  ASSERT_EQ(a.height, kImageHeight);
  ASSERT_EQ(a.pixels.size(), static_cast<size_t>(kImageWidth * kImageHeight));
  // Again from the cache, and from a master rendered afresh.
  EXPECT_EQ(RenderFinger("12345/oikea etusormi", 3), a);
  MasterPrint fresh = RenderMaster("12345/oikea etusormi");
  EXPECT_EQ(RenderImpression(fresh, "12345/oikea etusormi", 3), a);
  // Another placement, another finger: other images.
  EXPECT_NE(RenderFinger("12345/oikea etusormi", 4), a);
  EXPECT_NE(RenderFinger("12345/vasen etusormi", 3), a);
}

TEST(FingerRender, ImpressionsHoldRidgesAndBackground) {
  GreyImage a = RenderFinger("777/peukalo", 0);
  int dark = 0, light = 0;
  for (uint8_t p : a.pixels) {
    dark += p < 100;
    light += p > 200;
  }
  const int all = kImageWidth * kImageHeight;
  EXPECT_GT(dark, all / 5);   // ridges
  EXPECT_GT(light, all / 5);  // valleys and the background around the finger
}

TEST(FingerRender, PatternClassesComeInTheirProportions) {
  std::map<PatternClass, int> seen;
  for (int i = 0; i < 200; ++i)
    ++seen[PatternClassOf("class/" + std::to_string(i))];
  // Loops are the most common, then whorls; arches are rare but present.
  EXPECT_GT(seen[PatternClass::kLeftLoop] + seen[PatternClass::kRightLoop], 90);
  EXPECT_GT(seen[PatternClass::kWhorl], 25);
  EXPECT_GE(seen[PatternClass::kArch] + seen[PatternClass::kTentedArch], 5);
  EXPECT_LT(seen[PatternClass::kArch] + seen[PatternClass::kTentedArch], 40);
  // The master print has the class its name gives.
  EXPECT_EQ(RenderMaster("class/7").pattern, PatternClassOf("class/7"));
}

}  // namespace
}  // namespace vantera
