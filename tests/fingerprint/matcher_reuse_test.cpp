// The matcher keeps its preparation of the second set while the same set comes again. A
// set that changes in place, even to one of the same size in the same storage, must be
// prepared anew, and the results must not depend on what was compared before.
#include <gtest/gtest.h>

#include "fingerprint/finger_random.h"
#include "fingerprint/matcher.h"
#include "fingerprint/simulated_finger.h"

namespace vantera {
namespace {

void ExpectSame(const MatchResult& got, const MatchResult& want) {
  EXPECT_EQ(got.pairs, want.pairs);
  EXPECT_EQ(got.score, want.score);
  EXPECT_EQ(got.same, want.same);
  EXPECT_EQ(got.alignment.turn_degrees, want.alignment.turn_degrees);
  EXPECT_EQ(got.alignment.shift_x, want.alignment.shift_x);
  EXPECT_EQ(got.alignment.shift_y, want.alignment.shift_y);
}

TEST(MatcherReuse, ResultsDoNotDependOnTheComparisonBefore) {
  FingerRandom rng(16);
  const Minutiae pattern = PatternOfFinger("00016/oikea etusormi");
  const Minutiae other_pattern = PatternOfFinger("00017/vasen keskisormi");
  const Minutiae a = PlaceFinger(pattern, rng);
  const Minutiae a2 = PlaceFinger(pattern, rng);
  const Minutiae other = PlaceFinger(other_pattern, rng);
  Minutiae b = PlaceFinger(pattern, rng);

  // The genuine and the impostor result, each computed right after the other one.
  const MatchResult impostor = MatchMinutiae(a, other);
  const MatchResult genuine = MatchMinutiae(a, b);
  ASSERT_TRUE(genuine.same) << genuine.score;
  ASSERT_FALSE(impostor.same) << impostor.score;

  // The same results again, in another order.
  ExpectSame(MatchMinutiae(a, b), genuine);
  const MatchResult second_first = MatchMinutiae(a2, b);
  EXPECT_TRUE(second_first.same) << second_first.score;
  ExpectSame(MatchMinutiae(a, other), impostor);
  ExpectSame(MatchMinutiae(a, b), genuine);
  ExpectSame(MatchMinutiae(a2, b), second_first);

  // b becomes other in its own storage, keeping its size where it can.
  const Minutia* storage = b.data();
  b.assign(other.begin(), other.end());
  if (b.capacity() >= other.size()) {
    EXPECT_EQ(b.data(), storage);
  }
  ExpectSame(MatchMinutiae(a, b), impostor);

  // One minutia moved in place is a new set as well: comparing b with itself after the
  // change must pair every minutia, under no turn and no shift.
  b[0].x = static_cast<int16_t>(b[0].x + 40);
  const Minutiae moved = b;
  const MatchResult self = MatchMinutiae(moved, b);
  EXPECT_EQ(self.pairs, static_cast<int>(b.size()));
  EXPECT_EQ(self.score, 100);
}

}  // namespace
}  // namespace vantera
