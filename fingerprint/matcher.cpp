#include "fingerprint/matcher.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCentreX = kSensorWidth / 2.0;
constexpr double kCentreY = kSensorHeight / 2.0;

// The vote grid: turn cells of kTurnStep degrees over -kMaxTurn..kMaxTurn, shift cells of
// kShiftStep pixels over -kShiftRange..kShiftRange on each axis.
constexpr int kTurnStep = 5;
constexpr int kTurnCells = 2 * kMaxTurnDegrees / kTurnStep + 1;
constexpr int kShiftStep = 16;
constexpr int kShiftRange = 192;
constexpr int kShiftCells = 2 * kShiftRange / kShiftStep;
constexpr int kCells = kTurnCells * kShiftCells * kShiftCells;
constexpr int kCandidates = 3;
// Turns of a pair in whole degrees, -kMaxTurnDegrees..kMaxTurnDegrees.
constexpr int kTurnSlots = 2 * kMaxTurnDegrees + 1;

struct TurnTable {
  std::array<double, kTurnCells> cos{};
  std::array<double, kTurnCells> sin{};
  TurnTable() {
    for (int k = 0; k < kTurnCells; ++k) {
      double rad = (k * kTurnStep - kMaxTurnDegrees) * kPi / 180.0;
      cos[static_cast<size_t>(k)] = std::cos(rad);
      sin[static_cast<size_t>(k)] = std::sin(rad);
    }
  }
};
const TurnTable kTurns;

// Cells hold (generation << 8) | votes, so a new comparison needs no clearing; the grid is
// small enough to stay in the first-level cache. Votes stop at 255 per cell.
struct VoteGrid {
  std::vector<uint16_t> cells = std::vector<uint16_t>(kCells, 0);
  uint32_t generation = 0;
  void NextGeneration() {
    generation = (generation + 1) & 0xFF;
    if (generation == 0) {
      std::fill(cells.begin(), cells.end(), 0);
      generation = 1;
    }
  }
  // Adds a vote and returns the cell's new count.
  uint32_t Vote(int cell) {
    uint16_t& c = cells[static_cast<size_t>(cell)];
    if ((c >> 8) != generation)
      c = static_cast<uint16_t>(generation << 8);
    if ((c & 0xFF) != 0xFF)
      ++c;
    return c & 0xFFu;
  }
};

struct Candidate {
  uint32_t votes = 0;
  int cell = -1;
};

// Keeps the kCandidates cells with most votes, best first, each cell once.
void Offer(std::array<Candidate, kCandidates>& best, int cell, uint32_t votes) {
  // A kept cell holds at least the last kept count, so a count that does not pass it
  // belongs to a cell that is not kept, and it stays out.
  if (votes <= best[kCandidates - 1].votes)
    return;
  size_t at = kCandidates;
  for (size_t i = 0; i < kCandidates; ++i)
    if (best[i].cell == cell)
      at = i;
  if (at == kCandidates) {
    if (votes <= best[kCandidates - 1].votes)
      return;
    at = kCandidates - 1;
  }
  best[at] = {votes, cell};
  while (at > 0 && best[at].votes > best[at - 1].votes) {
    std::swap(best[at], best[at - 1]);
    --at;
  }
}

int AngleDifference(int from, int to) {  // to - from in -179..180, both in 0..359
  int d = to - from;
  if (d > 180)
    return d - 360;
  if (d <= -180)
    return d + 360;
  return d;
}

struct Pair {
  int a;
  int b;
  int turn;  // degrees
};

// B's minutiae in order of x, for the pairing's window search.
struct SortedByX {
  std::vector<int> index;
  std::vector<int> x;
  explicit SortedByX(const Minutiae& b) : index(b.size()) {
    for (size_t j = 0; j < b.size(); ++j)
      index[j] = static_cast<int>(j);
    std::sort(index.begin(), index.end(), [&b](int l, int r) {
      return b[static_cast<size_t>(l)].x < b[static_cast<size_t>(r)].x;
    });
    x.reserve(b.size());
    for (int j : index)
      x.push_back(b[static_cast<size_t>(j)].x);
  }
};

int PairUp(const Minutiae& a, const Minutiae& b, const SortedByX& sorted, const Alignment& al) {
  double rad = al.turn_degrees * kPi / 180.0;
  double c = std::cos(rad);
  double s = std::sin(rad);
  int turn = static_cast<int>(std::lround(al.turn_degrees));
  thread_local std::vector<uint8_t> used;
  used.assign(b.size(), 0);
  int pairs = 0;
  for (const Minutia& m : a) {
    double px = m.x - kCentreX;
    double py = m.y - kCentreY;
    double x = c * px - s * py + kCentreX + al.shift_x;
    double y = s * px + c * py + kCentreY + al.shift_y;
    int angle = m.angle + turn;  // turn is within -kMaxTurnDegrees..kMaxTurnDegrees
    if (angle < 0)
      angle += 360;
    else if (angle >= 360)
      angle -= 360;
    int found = -1;
    double best = kPairDistance * kPairDistance + 1e-9;
    auto first = std::lower_bound(sorted.x.begin(), sorted.x.end(), x - kPairDistance);
    for (auto it = first; it != sorted.x.end() && *it <= x + kPairDistance; ++it) {
      size_t j = static_cast<size_t>(sorted.index[static_cast<size_t>(it - sorted.x.begin())]);
      const Minutia& o = b[j];
      if (used[j] || o.type != m.type)
        continue;
      double dx = o.x - x;
      double dy = o.y - y;
      double d2 = dx * dx + dy * dy;
      if (d2 >= best)
        continue;
      int da = AngleDifference(angle, o.angle);
      if (da > kPairAngle || da < -kPairAngle)
        continue;
      best = d2;
      found = static_cast<int>(j);
    }
    if (found >= 0) {
      used[static_cast<size_t>(found)] = 1;
      ++pairs;
    }
  }
  return pairs;
}

}  // namespace

int ScoreOf(int pairs, size_t a, size_t b) {
  if (pairs < kMinPairs || a == 0 || b == 0)
    return 0;
  double share = 100.0 * pairs / std::sqrt(static_cast<double>(a) * static_cast<double>(b));
  return static_cast<int>(std::min(100.0, std::floor(share)));
}

MatchResult MatchMinutiae(const Minutiae& a, const Minutiae& b) {
  MatchResult result;
  if (a.empty() || b.empty())
    return result;
  thread_local VoteGrid grid;
  grid.NextGeneration();

  // B by type, each in order of angle: the pairs within the turn limit are found by a
  // window search instead of trying every pair.
  thread_local std::array<std::vector<std::pair<int, int>>, 3> by_type;  // (angle, index)
  for (auto& list : by_type)
    list.clear();
  for (size_t j = 0; j < b.size(); ++j) {
    size_t t = static_cast<size_t>(b[j].type);
    if (t < by_type.size())
      by_type[t].emplace_back(b[j].angle, static_cast<int>(j));
  }
  for (auto& list : by_type)
    std::sort(list.begin(), list.end());
  // Pairs and their votes in one sweep. Each pair votes once, into its nearest turn cell
  // and the shift cell of the shift that carries a onto b. A cluster split by a cell
  // boundary still wins in one of its cells, and the refinement below gathers the pairs of
  // the neighbouring cells as well. Shifts outside the grid are not worth a vote.
  thread_local std::vector<Pair> pairs;
  pairs.clear();
  std::array<Candidate, kCandidates> best{};
  for (size_t i = 0; i < a.size(); ++i) {
    const Minutia& ma = a[i];
    size_t t = static_cast<size_t>(ma.type);
    if (t >= by_type.size())
      continue;
    const auto& list = by_type[t];
    const double ax = ma.x - kCentreX;
    const double ay = ma.y - kCentreY;
    auto scan = [&](int lo, int hi) {
      auto it = std::lower_bound(list.begin(), list.end(), std::pair<int, int>(lo, -1));
      for (; it != list.end() && it->first <= hi; ++it) {
        const int turn = AngleDifference(ma.angle, it->first);
        pairs.push_back({static_cast<int>(i), it->second, turn});
        const int k = (turn + kMaxTurnDegrees + kTurnStep / 2) / kTurnStep;  // the sum is >= 0
        const Minutia& mb = b[static_cast<size_t>(it->second)];
        const double c = kTurns.cos[static_cast<size_t>(k)];
        const double s = kTurns.sin[static_cast<size_t>(k)];
        const double tx = (mb.x - kCentreX) - (c * ax - s * ay);
        const double ty = (mb.y - kCentreY) - (s * ax + c * ay);
        const double fx = (tx + kShiftRange) / kShiftStep;
        const double fy = (ty + kShiftRange) / kShiftStep;
        if (fx < 0 || fy < 0 || fx >= kShiftCells || fy >= kShiftCells)
          continue;
        int cell = (k * kShiftCells + static_cast<int>(fx)) * kShiftCells + static_cast<int>(fy);
        Offer(best, cell, grid.Vote(cell));
      }
    };
    int lo = ma.angle - kMaxTurnDegrees;
    int hi = ma.angle + kMaxTurnDegrees;
    if (lo < 0) {
      scan(lo + 360, 359);
      scan(0, hi);
    } else if (hi > 359) {
      scan(lo, 359);
      scan(0, hi - 360);
    } else {
      scan(lo, hi);
    }
  }

  // The pairs in order of turn (a counting sort), so that the refinement of a cell visits
  // only the pairs of the turns near it.
  std::array<int, kTurnSlots + 1> turn_start{};
  for (const Pair& p : pairs)
    ++turn_start[static_cast<size_t>(p.turn + kMaxTurnDegrees) + 1];
  for (size_t t = 1; t < turn_start.size(); ++t)
    turn_start[t] += turn_start[t - 1];
  thread_local std::vector<int> by_turn;
  by_turn.resize(pairs.size());
  std::array<int, kTurnSlots + 1> next = turn_start;
  for (size_t i = 0; i < pairs.size(); ++i) {
    size_t slot = static_cast<size_t>(pairs[i].turn + kMaxTurnDegrees);
    by_turn[static_cast<size_t>(next[slot]++)] = static_cast<int>(i);
  }

  thread_local std::vector<const Pair*> voters;
  const SortedByX sorted(b);
  for (const Candidate& cand : best) {
    if (cand.cell < 0)
      continue;
    int k = cand.cell / (kShiftCells * kShiftCells);
    int x = cand.cell / kShiftCells % kShiftCells;
    int y = cand.cell % kShiftCells;
    double cell_x = (x + 0.5) * kShiftStep - kShiftRange;
    double cell_y = (y + 0.5) * kShiftStep - kShiftRange;
    double c = kTurns.cos[static_cast<size_t>(k)];
    double s = kTurns.sin[static_cast<size_t>(k)];

    // Refinement: the pairs near this cell, among the pairs of the turns within one turn
    // step of it.
    double sum_turn = 0;
    int support = 0;
    voters.clear();
    const size_t lo = static_cast<size_t>(std::max(0, k - 1) * kTurnStep);
    const size_t hi = static_cast<size_t>(std::min(kTurnCells - 1, k + 1) * kTurnStep);
    for (int at = turn_start[lo]; at < turn_start[hi + 1]; ++at) {
      const Pair& p = pairs[static_cast<size_t>(by_turn[static_cast<size_t>(at)])];
      const Minutia& ma = a[static_cast<size_t>(p.a)];
      const Minutia& mb = b[static_cast<size_t>(p.b)];
      double ax = ma.x - kCentreX;
      double ay = ma.y - kCentreY;
      double tx = (mb.x - kCentreX) - (c * ax - s * ay);
      double ty = (mb.y - kCentreY) - (s * ax + c * ay);
      if (std::abs(tx - cell_x) > kShiftStep || std::abs(ty - cell_y) > kShiftStep)
        continue;
      sum_turn += p.turn;
      ++support;
      voters.push_back(&p);
    }
    if (support == 0)
      continue;
    Alignment al;
    al.turn_degrees = sum_turn / support;
    double rad = al.turn_degrees * kPi / 180.0;
    double rc = std::cos(rad);
    double rs = std::sin(rad);
    for (const Pair* p : voters) {
      const Minutia& ma = a[static_cast<size_t>(p->a)];
      const Minutia& mb = b[static_cast<size_t>(p->b)];
      double ax = ma.x - kCentreX;
      double ay = ma.y - kCentreY;
      al.shift_x += (mb.x - kCentreX) - (rc * ax - rs * ay);
      al.shift_y += (mb.y - kCentreY) - (rs * ax + rc * ay);
    }
    al.shift_x /= support;
    al.shift_y /= support;

    int paired = PairUp(a, b, sorted, al);
    if (paired > result.pairs) {
      result.pairs = paired;
      result.alignment = al;
    }
  }
  result.score = ScoreOf(result.pairs, a.size(), b.size());
  result.same = result.score >= kMatchThreshold;
  return result;
}

}  // namespace vantera
