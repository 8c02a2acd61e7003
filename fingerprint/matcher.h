// Minutia matching: are two minutia sets readings of the same finger?
//
// 1. Alignment by voting. Every pair (a in A, b in B) of the same type whose angles differ
//    by at most kMaxTurnDegrees proposes a turn (the angle difference) and, for that turn,
//    a shift that carries a onto b. Each proposal votes once into a grid of turn and
//    shift cells. The two cells with most votes are the candidate alignments. The vote
//    counts B's minutiae turned back by each turn cell (made once per B), so a vote costs
//    two subtractions and no trigonometry.
// 2. Refinement. For each candidate the pairs of its cell and the neighbouring ones give
//    the mean turn and shift.
// 3. Pairing. A is carried into B's frame by the refined alignment and each minutia of A is
//    paired with the nearest unpaired minutia of B of the same type within kPairDistance
//    pixels and kPairAngle degrees (B's minutiae are kept in cells of twice that size).
// The best candidate's pair count gives the score: the paired share of the two sets, in
// percent of the geometric mean of their sizes (ScoreOf), 0 below kMinPairs pairs. The
// sets are the same finger at kMatchThreshold or more.
//
// Why kMatchThreshold is 38: measured with accuracy_bench on rendered fingers (images
// rendered, minutiae extracted). Genuine comparisons of 100 fingers x 8 placements
// (2800) scored 44 to 86, 1 % of them below 53. Impostor comparisons of 1500 fingers
// (1.12 million) scored at most 34, 99 % of them at most 21. 38 lies 4 points above every
// impostor seen and 6 below the lowest genuine score. The same rule separates the point
// sets of the earlier model (matcher_quality_test), whose impostors share far less.
//
// Thread-safe: the vote grid and the preparation of B are per thread. The preparation (B by
// type in order of angle, turned back for every turn cell, and in cells for pairing) is
// kept while the same B comes again, as in identification, where one captured template
// meets every stored one; it is compared by content, so a set changed in place is
// prepared anew.
#pragma once

#include <cstddef>

#include "fingerprint/minutia.h"

namespace vantera {

// Carries a point p of A into B's frame: R(turn) * (p - centre) + centre + shift, the centre
// being the middle of the sensor window.
struct Alignment {
  double turn_degrees = 0;
  double shift_x = 0;
  double shift_y = 0;
};

struct MatchResult {
  int pairs = 0;        // minutiae paired under the best alignment
  int score = 0;        // similarity, 0..100
  bool same = false;    // the decision
  Alignment alignment;  // the best alignment (meaningful when pairs > 0)
};

inline constexpr int kMaxTurnDegrees = 45;
inline constexpr int kPairDistance = 12;
inline constexpr int kPairAngle = 20;
inline constexpr int kMinPairs = 10;
inline constexpr int kMatchThreshold = 38;

// The similarity of two sets of sizes a and b of which pairs were paired.
int ScoreOf(int pairs, size_t a, size_t b);

MatchResult MatchMinutiae(const Minutiae& a, const Minutiae& b);

}  // namespace vantera
