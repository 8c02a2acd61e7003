// The image road end to end on fixed fingers: rendered impressions, extracted minutiae,
// templates through their bytes, CompareTemplates. Impressions of one finger match,
// impressions of two fingers do not; an enrolment of four impressions matches later ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fingerprint/enrolment_merge.h"
#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"
#include "fingerprint/matcher.h"

namespace vantera {
namespace {

IFPTemplate Captured(const std::string& finger, uint64_t placement) {
  TemplateData data;
  data.instance_id = placement + 1;
  data.minutiae = ExtractMinutiae(RenderFinger(finger, placement)).minutiae;
  // Through the bytes, as the database keeps them.
  IFPTemplate t = CoFPTemplate::Create();
  t.ImportBytes(IFPTemplate(data).ExportBytes());
  EXPECT_EQ(t.Data(), data);
  return t;
}

const char* const kFingers[] = {"10001/oikea etusormi", "10001/vasen etusormi",
                                "20002/oikea peukalo", "30003/vasen keskisormi"};

TEST(ImageMatching, ImpressionsOfOneFingerMatchAndOfTwoDoNot) {
  CoFPVerify verify = CoFPVerify::Create();
  std::vector<std::vector<IFPTemplate>> t;
  for (const char* f : kFingers)
    t.push_back({Captured(f, 0), Captured(f, 1), Captured(f, 2)});
  for (size_t f = 0; f < t.size(); ++f) {
    EXPECT_GE(t[f][0].Data().minutiae.size(), 20u) << kFingers[f];
    for (size_t i = 0; i < 3; ++i)
      for (size_t j = i + 1; j < 3; ++j) {
        FPVerifyResult r = verify.CompareTemplates(t[f][i], t[f][j]);
        EXPECT_NE(r.verified, 0) << kFingers[f] << " " << i << "/" << j << " score " << r.score;
        EXPECT_GE(r.score, r.threshold);
      }
    for (size_t g = f + 1; g < t.size(); ++g) {
      FPVerifyResult r = verify.CompareTemplates(t[f][0], t[g][0]);
      EXPECT_EQ(r.verified, 0) << kFingers[f] << " vs " << kFingers[g] << " score " << r.score;
      EXPECT_LT(r.score, r.threshold);
    }
  }
}

TEST(ImageMatching, EnrolmentOfFourImpressionsMatchesALaterOne) {
  std::vector<Minutiae> placements;
  for (uint64_t p = 10; p < 14; ++p)
    placements.push_back(ExtractMinutiae(RenderFinger(kFingers[2], p)).minutiae);
  Minutiae combined = CombinePlacements(placements);
  ASSERT_GE(combined.size(), kMinCombined);
  Minutiae later = ExtractMinutiae(RenderFinger(kFingers[2], 20)).minutiae;
  Minutiae other = ExtractMinutiae(RenderFinger(kFingers[3], 20)).minutiae;
  EXPECT_TRUE(MatchMinutiae(combined, later).same);
  EXPECT_FALSE(MatchMinutiae(combined, other).same);
}

TEST(ImageMatching, ScoreIsTheShareOfPairedMinutiae) {
  EXPECT_EQ(ScoreOf(kMinPairs - 1, 20, 20), 0);  // too few pairs to mean anything
  EXPECT_EQ(ScoreOf(10, 20, 20), 50);
  EXPECT_EQ(ScoreOf(30, 100, 36), 50);  // over the geometric mean of the two sizes
  EXPECT_EQ(ScoreOf(40, 30, 30), 100);  // capped
  EXPECT_EQ(ScoreOf(10, 0, 30), 0);
}

}  // namespace
}  // namespace vantera
