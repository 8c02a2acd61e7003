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

// The cosine and sine of the middle of every turn cell; the table is symmetric (a turn
// and its opposite share the cosine and have opposite sines), which the turning of A uses.
struct TurnTable {
  std::array<double, kTurnCells> cos{};
  std::array<double, kTurnCells> sin{};
  std::array<int, kTurnSlots> cell_of{};  // the nearest turn cell of a whole-degree turn
  TurnTable() {
    for (int k = 0; k <= kTurnCells / 2; ++k) {
      double rad = (kMaxTurnDegrees - k * kTurnStep) * kPi / 180.0;
      size_t lo = static_cast<size_t>(k);
      size_t hi = static_cast<size_t>(kTurnCells - 1 - k);
      cos[lo] = cos[hi] = std::cos(rad);
      sin[hi] = std::sin(rad);
      sin[lo] = -sin[hi];
    }
    for (int turn = -kMaxTurnDegrees; turn <= kMaxTurnDegrees; ++turn)
      cell_of[static_cast<size_t>(turn + kMaxTurnDegrees)] =
          (turn + kMaxTurnDegrees + kTurnStep / 2) / kTurnStep;
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

// One minutia of B as a pairing partner.
struct PairTarget {
  double x;
  double y;
  int angle;
  int index;
};

// B's minutiae by type, each list in order of x. The order within a type is that of one
// sort of all of B by x, so ties are met in a fixed order.
struct SortedByX {
  std::array<std::vector<PairTarget>, 3> by_type;
  std::array<std::vector<double>, 3> x;
  void Build(const Minutiae& b) {
    thread_local std::vector<int> index;
    index.resize(b.size());
    for (size_t j = 0; j < b.size(); ++j)
      index[j] = static_cast<int>(j);
    std::sort(index.begin(), index.end(), [&b](int l, int r) {
      return b[static_cast<size_t>(l)].x < b[static_cast<size_t>(r)].x;
    });
    for (size_t t = 0; t < by_type.size(); ++t) {
      by_type[t].clear();
      x[t].clear();
    }
    for (int j : index) {
      const Minutia& o = b[static_cast<size_t>(j)];
      size_t t = static_cast<size_t>(o.type);
      if (t >= by_type.size())
        continue;
      by_type[t].push_back({static_cast<double>(o.x), static_cast<double>(o.y), o.angle, j});
      x[t].push_back(o.x);
    }
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
    size_t t = static_cast<size_t>(m.type);
    if (t >= sorted.by_type.size())
      continue;
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
    const std::vector<double>& xs = sorted.x[t];
    const std::vector<PairTarget>& targets = sorted.by_type[t];
    const double reach = x + kPairDistance;
    auto first = std::lower_bound(xs.begin(), xs.end(), x - kPairDistance);
    const PairTarget* end = targets.data() + targets.size();
    for (const PairTarget* to = targets.data() + (first - xs.begin()); to != end; ++to) {
      const PairTarget& o = *to;
      if (o.x > reach)
        break;
      if (used[static_cast<size_t>(o.index)])
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
      found = o.index;
    }
    if (found >= 0) {
      used[static_cast<size_t>(found)] = 1;
      ++pairs;
    }
  }
  return pairs;
}

// One minutia of B as a vote partner: its angle (shifted by a turn of whole circles, see
// VoteTargets), its index and its place relative to the centre.
struct VoteTarget {
  int angle;
  int index;
  double x;
  double y;
};

// B by type, each list in order of angle and extended by the minutiae within
// kMaxTurnDegrees of the wrap (angles - 360 before, + 360 after), so that the partners of a
// minutia of A are one contiguous run and its turn is a plain difference.
struct VoteTargets {
  std::array<std::vector<VoteTarget>, 3> by_type;
  std::array<std::vector<int>, 3> angles;
  void Build(const Minutiae& b) {
    thread_local std::vector<std::pair<int, int>> sorted;  // (angle, index)
    for (size_t t = 0; t < by_type.size(); ++t) {
      sorted.clear();
      for (size_t j = 0; j < b.size(); ++j)
        if (static_cast<size_t>(b[j].type) == t)
          sorted.emplace_back(b[j].angle, static_cast<int>(j));
      std::sort(sorted.begin(), sorted.end());
      auto& list = by_type[t];
      list.clear();
      auto add = [&](const std::pair<int, int>& e, int offset) {
        const Minutia& mb = b[static_cast<size_t>(e.second)];
        list.push_back({e.first + offset, e.second, mb.x - kCentreX, mb.y - kCentreY});
      };
      for (const auto& e : sorted)
        if (e.first >= 360 - kMaxTurnDegrees)
          add(e, -360);
      for (const auto& e : sorted)
        add(e, 0);
      for (const auto& e : sorted)
        if (e.first <= kMaxTurnDegrees)
          add(e, 360);
      angles[t].clear();
      for (const VoteTarget& v : list)
        angles[t].push_back(v.angle);
    }
  }
};

// The preparation of B, kept while the same B comes again: identification compares one
// captured template with every stored one.
struct PreparedB {
  Minutiae b;
  bool valid = false;
  VoteTargets votes;
  SortedByX sorted;
  const PreparedB& For(const Minutiae& other) {
    if (!valid || other != b) {
      b = other;
      votes.Build(b);
      sorted.Build(b);
      valid = true;
    }
    return *this;
  }
};

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
  thread_local PreparedB prepared;
  const PreparedB& pb = prepared.For(b);

  // A's minutiae relative to the centre, turned by the middle of every turn cell.
  thread_local std::vector<std::array<double, 2 * kTurnCells>> turned;
  turned.resize(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    const double ax = a[i].x - kCentreX;
    const double ay = a[i].y - kCentreY;
    for (size_t k = 0; k <= kTurnCells / 2; ++k) {
      const size_t m = kTurnCells - 1 - k;  // the opposite turn
      const double cx = kTurns.cos[k] * ax;
      const double cy = kTurns.cos[k] * ay;
      const double sx = kTurns.sin[m] * ax;
      const double sy = kTurns.sin[m] * ay;
      turned[i][2 * k] = cx + sy;
      turned[i][2 * k + 1] = cy - sx;
      turned[i][2 * m] = cx - sy;
      turned[i][2 * m + 1] = sx + cy;
    }
  }

  // Pairs and their votes in one sweep. Each pair of the same type within the turn limit
  // votes once, into its nearest turn cell and the shift cell of the shift that carries a
  // onto b. A cluster split by a cell boundary still wins in one of its cells, and the
  // refinement below gathers the pairs of the neighbouring cells as well. Shifts outside
  // the grid are not worth a vote. The pairs are kept by turn, so that the refinement of a
  // cell visits only the pairs of the turns near it.
  thread_local std::array<std::vector<Pair>, kTurnSlots> by_turn;
  for (auto& slot : by_turn)
    slot.clear();
  std::array<Candidate, kCandidates> best{};
  for (size_t i = 0; i < a.size(); ++i) {
    const Minutia& ma = a[i];
    size_t t = static_cast<size_t>(ma.type);
    if (t >= pb.votes.by_type.size())
      continue;
    const std::vector<VoteTarget>& list = pb.votes.by_type[t];
    const std::vector<int>& angles = pb.votes.angles[t];
    const int angle = ma.angle;
    const double* rot = turned[i].data();
    auto it = std::lower_bound(angles.begin(), angles.end(), angle - kMaxTurnDegrees);
    const VoteTarget* end = list.data() + list.size();
    for (const VoteTarget* to = list.data() + (it - angles.begin()); to != end; ++to) {
      const VoteTarget& v = *to;
      const int turn = v.angle - angle;
      if (turn > kMaxTurnDegrees)
        break;
      by_turn[static_cast<size_t>(turn + kMaxTurnDegrees)].push_back(
          {static_cast<int>(i), v.index, turn});
      const int k = kTurns.cell_of[static_cast<size_t>(turn + kMaxTurnDegrees)];
      const double tx = v.x - rot[2 * k];
      const double ty = v.y - rot[2 * k + 1];
      const double fx = (tx + kShiftRange) / kShiftStep;
      const double fy = (ty + kShiftRange) / kShiftStep;
      if (fx < 0 || fy < 0 || fx >= kShiftCells || fy >= kShiftCells)
        continue;
      int cell = (k * kShiftCells + static_cast<int>(fx)) * kShiftCells + static_cast<int>(fy);
      Offer(best, cell, grid.Vote(cell));
    }
  }

  thread_local std::vector<const Pair*> voters;
  for (const Candidate& cand : best) {
    if (cand.cell < 0)
      continue;
    int k = cand.cell / (kShiftCells * kShiftCells);
    int x = cand.cell / kShiftCells % kShiftCells;
    int y = cand.cell % kShiftCells;
    double cell_x = (x + 0.5) * kShiftStep - kShiftRange;
    double cell_y = (y + 0.5) * kShiftStep - kShiftRange;

    // Refinement: the pairs near this cell, among the pairs of the turns within one turn
    // step of it.
    double sum_turn = 0;
    int support = 0;
    voters.clear();
    const size_t lo = static_cast<size_t>(std::max(0, k - 1) * kTurnStep);
    const size_t hi = static_cast<size_t>(std::min(kTurnCells - 1, k + 1) * kTurnStep);
    for (size_t slot = lo; slot <= hi; ++slot) {
      for (const Pair& p : by_turn[slot]) {
        const double* rot = turned[static_cast<size_t>(p.a)].data();
        const Minutia& mb = b[static_cast<size_t>(p.b)];
        double tx = (mb.x - kCentreX) - rot[2 * k];
        double ty = (mb.y - kCentreY) - rot[2 * k + 1];
        if (std::abs(tx - cell_x) > kShiftStep || std::abs(ty - cell_y) > kShiftStep)
          continue;
        sum_turn += p.turn;
        ++support;
        voters.push_back(&p);
      }
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

    int paired = PairUp(a, b, pb.sorted, al);
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
