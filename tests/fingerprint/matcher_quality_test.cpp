// The matcher's error rates over many synthetic fingers, each enrolled (four placements
// combined) and captured several times: the false non-match rate must stay at or below 1%
// and the false match rate at or below 0.1%.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fingerprint/enrolment_merge.h"
#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/matcher.h"
#include "fingerprint/simulated_finger.h"

namespace vantera {
namespace {

#ifdef VANTERA_SANITIZED
// The sanitizers make the matcher about eight times slower: half the fingers keep this
// test near 5 s of processor time there. The rates are asserted all the same; the full
// sample runs in the normal build (about 1.5 s).
constexpr int kFingers = 500;
#else
constexpr int kFingers = 1000;
#endif
constexpr int kCaptures = 3;
constexpr int kImpostorsPerFinger = 5;

struct Finger {
  IFPTemplate enrolled;
  std::vector<IFPTemplate> captures;
};

IFPTemplate Stored(Minutiae minutiae, TemplateKind kind, FingerRandom& rng) {
  TemplateData data;
  data.instance_id = rng.Next();
  data.kind = kind;
  data.placements = kind == TemplateKind::kEnrolment ? 4 : 1;
  data.minutiae = std::move(minutiae);
  // Through the bytes, as the workflows see them.
  IFPTemplate t = CoFPTemplate::Create();
  t.ImportBytes(EncodeTemplate(data));
  return t;
}

TEST(MatcherQuality, ErrorRatesOverSyntheticFingers) {
  FingerRandom rng(20261209);
  std::vector<Finger> fingers(kFingers);
  for (int f = 0; f < kFingers; ++f) {
    char name[64];
    std::snprintf(name, sizeof name, "%05d/%s", 10000 + f / 10,
                  f % 2 ? "oikea etusormi" : "vasen keskisormi");
    Minutiae pattern = PatternOfFinger(std::string(name) + std::to_string(f % 10));
    std::vector<Minutiae> placements;
    for (int p = 0; p < 4; ++p)
      placements.push_back(PlaceFinger(pattern, rng));
    fingers[f].enrolled = Stored(CombinePlacements(placements), TemplateKind::kEnrolment, rng);
    for (int c = 0; c < kCaptures; ++c)
      fingers[f].captures.push_back(Stored(PlaceFinger(pattern, rng), TemplateKind::kCapture, rng));
  }

  CoFPVerify verify = CoFPVerify::Create();
  int genuine = 0, false_non_match = 0, impostor = 0, false_match = 0;
  for (int f = 0; f < kFingers; ++f) {
    const Finger& me = fingers[f];
    // Genuine: the enrolled template against each capture, and captures pairwise.
    for (int c = 0; c < kCaptures; ++c) {
      ++genuine;
      false_non_match += verify.CompareTemplates(me.enrolled, me.captures[c]).verified == 0;
      ++genuine;
      false_non_match +=
          verify.CompareTemplates(me.captures[c], me.captures[(c + 1) % kCaptures]).verified == 0;
    }
    // Impostors: the enrolled template and a capture against captures of other fingers.
    for (int d = 1; d <= kImpostorsPerFinger; ++d) {
      const Finger& other = fingers[(f + d) % kFingers];
      ++impostor;
      false_match += verify.CompareTemplates(me.enrolled, other.captures[d % kCaptures]).verified;
      ++impostor;
      false_match += verify.CompareTemplates(me.captures[0], other.captures[1]).verified;
    }
  }
  double fnmr = 100.0 * false_non_match / genuine;
  double fmr = 100.0 * false_match / impostor;
  std::printf(
      "genuine %d, false non-matches %d (FNMR %.3f%%); impostors %d, false matches %d "
      "(FMR %.3f%%)\n",
      genuine, false_non_match, fnmr, impostor, false_match, fmr);
  EXPECT_LE(false_non_match * 100, genuine * 1) << "FNMR " << fnmr << "%";
  EXPECT_LE(false_match * 1000, impostor * 1) << "FMR " << fmr << "%";
}

TEST(MatcherQuality, AlignmentRecoversTheTurnAndShift) {
  // A placement compared with itself turned about the sensor's middle and shifted, up to
  // the turn limit and far into the shift range; and, unturned, moved with its copy far
  // outside the sensor window (an enrolment template may reach there).
  struct Case {
    double turn, shift_x, shift_y;
    int offset_x, offset_y;
  };
  const Case cases[] = {{15, 20, -30, 0, 0},     {-40, 100, 60, 0, 0},   {40, -120, 110, 0, 0},
                        {0, 30, 30, -700, -800}, {0, -20, 10, 600, 500}, {-25, 0, 0, 0, 0}};
  FingerRandom rng(9);
  const Minutiae placed = PlaceFinger(PatternOfFinger("alignment"), rng);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "turn " << c.turn << " shift " << c.shift_x << ","
                                    << c.shift_y << " offset " << c.offset_x << "," << c.offset_y);
    Minutiae a, b;
    const double rad = c.turn * 3.14159265358979 / 180.0;
    for (Minutia m : placed) {
      double px = m.x - kSensorWidth / 2.0, py = m.y - kSensorHeight / 2.0;
      Minutia t = m;
      t.x = static_cast<int16_t>(std::lround(std::cos(rad) * px - std::sin(rad) * py +
                                             kSensorWidth / 2.0 + c.shift_x + c.offset_x));
      t.y = static_cast<int16_t>(std::lround(std::sin(rad) * px + std::cos(rad) * py +
                                             kSensorHeight / 2.0 + c.shift_y + c.offset_y));
      t.angle = static_cast<uint16_t>((m.angle + 360 + static_cast<int>(c.turn)) % 360);
      m.x = static_cast<int16_t>(m.x + c.offset_x);
      m.y = static_cast<int16_t>(m.y + c.offset_y);
      a.push_back(m);
      b.push_back(t);
    }
    MatchResult r = MatchMinutiae(a, b);
    EXPECT_TRUE(r.same);
    EXPECT_EQ(r.pairs, static_cast<int>(a.size()));
    EXPECT_NEAR(r.alignment.turn_degrees, c.turn, 1.0);
    EXPECT_NEAR(r.alignment.shift_x, c.shift_x, 3.0);
    EXPECT_NEAR(r.alignment.shift_y, c.shift_y, 3.0);
  }
  // Nothing to pair with nothing.
  EXPECT_FALSE(MatchMinutiae(placed, {}).same);
  EXPECT_FALSE(MatchMinutiae({}, placed).same);
}

}  // namespace
}  // namespace vantera
