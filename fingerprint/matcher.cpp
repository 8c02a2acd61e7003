#include "fingerprint/matcher.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
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
constexpr int kCandidates = 2;
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

// One byte of votes per cell, cleared for every comparison: at about 11 KiB that costs
// less than checking a generation at every vote, and the grid stays in the first-level
// cache. Votes stop at 255 per cell.
struct VoteGrid {
  std::array<uint8_t, kCells> cells{};
  void Clear() { std::memset(cells.data(), 0, cells.size()); }
  // Adds a vote and returns the cell's new count.
  uint32_t Vote(int cell) {
    uint8_t& c = cells[static_cast<size_t>(cell)];
    c = static_cast<uint8_t>(c + (c != 0xFF));
    return c;
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

// B's minutiae of each type in square cells of kPairCell pixels over B's extent, so that
// the partners of a point lie in the 2 x 2 cells around it. Within a cell the minutiae keep
// B's order, so ties are met in a fixed order.
constexpr int kPairCell = 2 * kPairDistance;

struct PairCells {
  struct OfType {
    int x0 = 0;  // the left and top edges of the first cell
    int y0 = 0;
    int columns = 0;
    int rows = 0;
    std::vector<uint32_t> first;  // per cell (row-major), and one past the last
    std::vector<PairTarget> targets;
  };
  std::array<OfType, 3> by_type;

  void Build(const Minutiae& b) {
    for (size_t t = 0; t < by_type.size(); ++t) {
      OfType& g = by_type[t];
      int x_min = kCoordMax, y_min = kCoordMax, x_max = kCoordMin, y_max = kCoordMin;
      for (const Minutia& m : b)
        if (static_cast<size_t>(m.type) == t) {
          x_min = std::min<int>(x_min, m.x);
          x_max = std::max<int>(x_max, m.x);
          y_min = std::min<int>(y_min, m.y);
          y_max = std::max<int>(y_max, m.y);
        }
      g.targets.clear();
      g.first.assign(1, 0);
      g.columns = g.rows = 0;
      if (x_min > x_max)
        continue;
      g.x0 = x_min;
      g.y0 = y_min;
      g.columns = (x_max - x_min) / kPairCell + 1;
      g.rows = (y_max - y_min) / kPairCell + 1;
      const size_t cells = static_cast<size_t>(g.columns) * static_cast<size_t>(g.rows);
      g.first.assign(cells + 1, 0);
      auto cell_of = [&g](const Minutia& m) {
        return static_cast<size_t>((m.y - g.y0) / kPairCell * g.columns + (m.x - g.x0) / kPairCell);
      };
      for (const Minutia& m : b)
        if (static_cast<size_t>(m.type) == t)
          ++g.first[cell_of(m) + 1];
      for (size_t c = 0; c < cells; ++c)
        g.first[c + 1] += g.first[c];
      g.targets.resize(g.first[cells]);
      std::vector<uint32_t> next(g.first.begin(), g.first.end() - 1);
      for (size_t j = 0; j < b.size(); ++j)
        if (static_cast<size_t>(b[j].type) == t)
          g.targets[next[cell_of(b[j])]++] = {static_cast<double>(b[j].x),
                                              static_cast<double>(b[j].y), b[j].angle,
                                              static_cast<int>(j)};
    }
  }
};

// The nearest unused minutia of B of type t within kPairDistance and kPairAngle of the
// point (x, y) with direction angle, or -1.
int NearestPartner(const PairCells::OfType& g, const std::vector<uint8_t>& used, double x, double y,
                   int angle) {
  if (g.columns == 0)
    return -1;
  // The 2 x 2 cells that cover [x - kPairDistance, x + kPairDistance] and the same in y.
  // Cell numbers are floored by truncating from kFloorBias cells up (std::floor is a
  // library call without SSE4.1); points that far out have no partner anyway.
  constexpr int kFloorBias = 256;
  const double fx = (x - kPairDistance - g.x0) / kPairCell + kFloorBias;
  const double fy = (y - kPairDistance - g.y0) / kPairCell + kFloorBias;
  if (!(fx >= kFloorBias - 1 && fy >= kFloorBias - 1 && fx < kFloorBias + g.columns &&
        fy < kFloorBias + g.rows))
    return -1;
  const int cx = static_cast<int>(fx) - kFloorBias;
  const int cy = static_cast<int>(fy) - kFloorBias;
  int found = -1;
  double best = kPairDistance * kPairDistance + 1e-9;
  for (int row = std::max(cy, 0); row <= std::min(cy + 1, g.rows - 1); ++row) {
    const size_t base = static_cast<size_t>(row) * static_cast<size_t>(g.columns);
    const size_t lo = base + static_cast<size_t>(std::max(cx, 0));
    const size_t hi = base + static_cast<size_t>(std::min(cx + 1, g.columns - 1));
    for (size_t i = g.first[lo]; i < g.first[hi + 1]; ++i) {
      const PairTarget& o = g.targets[i];
      if (used[static_cast<size_t>(o.index)])
        continue;
      const double dx = o.x - x;
      const double dy = o.y - y;
      const double d2 = dx * dx + dy * dy;
      if (d2 >= best)
        continue;
      const int da = AngleDifference(angle, o.angle);
      if (da > kPairAngle || da < -kPairAngle)
        continue;
      best = d2;
      found = o.index;
    }
  }
  return found;
}

int PairUp(const Minutiae& a, size_t b_size, const PairCells& cells, const Alignment& al) {
  const double rad = al.turn_degrees * kPi / 180.0;
  const double c = std::cos(rad);
  const double s = std::sin(rad);
  const int turn = static_cast<int>(std::lround(al.turn_degrees));
  thread_local std::vector<uint8_t> used;
  used.assign(b_size, 0);
  int pairs = 0;
  for (const Minutia& m : a) {
    const size_t t = static_cast<size_t>(m.type);
    if (t >= cells.by_type.size())
      continue;
    const double px = m.x - kCentreX;
    const double py = m.y - kCentreY;
    const double x = c * px - s * py + kCentreX + al.shift_x;
    const double y = s * px + c * py + kCentreY + al.shift_y;
    int angle = m.angle + turn;  // turn is within -kMaxTurnDegrees..kMaxTurnDegrees
    if (angle < 0)
      angle += 360;
    else if (angle >= 360)
      angle -= 360;
    const int found = NearestPartner(cells.by_type[t], used, x, y, angle);
    if (found >= 0) {
      used[static_cast<size_t>(found)] = 1;
      ++pairs;
    }
  }
  return pairs;
}

// The nearest whole number of a coordinate (|v| well below kRoundBias; halves round up),
// cheaper than std::lround, which is a library call.
int Nearest(double v) {
  constexpr int kRoundBias = 1 << 14;
  return static_cast<int>(v + 0.5 + kRoundBias) - kRoundBias;
}

// One minutia of B as a vote partner: its angle (shifted by a turn of whole circles, see
// VoteTargets), its index, and its place relative to the centre turned back by the middle
// of every turn cell, offset by kShiftRange, in whole pixels (see MatchMinutiae).
struct VoteTarget {
  int angle;
  int index;
  std::array<int16_t, 2 * kTurnCells> back;
};

// B by type, each list in order of angle and extended by the minutiae within
// kMaxTurnDegrees of the wrap (angles - 360 before, + 360 after), so that the partners of a
// minutia of A are one contiguous run and its turn is a plain difference. first[t][d] is
// the first entry of type t whose angle is at least d - kMaxTurnDegrees.
struct VoteTargets {
  std::array<std::vector<VoteTarget>, 3> by_type;
  std::array<std::array<uint32_t, 360 + 2 * kMaxTurnDegrees + 1>, 3> first{};
  // The first partner of type t whose angle is at least `angle` (-kMaxTurnDegrees ..
  // 360 + kMaxTurnDegrees).
  const VoteTarget* From(size_t t, int angle) const {
    return by_type[t].data() + first[t][static_cast<size_t>(angle + kMaxTurnDegrees)];
  }
  void Build(const Minutiae& b) {
    thread_local std::vector<std::pair<int, int>> sorted;  // (angle, index)
    for (size_t t = 0; t < by_type.size(); ++t) {
      sorted.clear();
      for (size_t j = 0; j < b.size(); ++j)
        if (static_cast<size_t>(b[j].type) == t && b[j].angle < 360)
          sorted.emplace_back(b[j].angle, static_cast<int>(j));
      std::sort(sorted.begin(), sorted.end());
      auto& list = by_type[t];
      list.clear();
      auto add = [&](const std::pair<int, int>& e, int offset) {
        const Minutia& mb = b[static_cast<size_t>(e.second)];
        VoteTarget v{e.first + offset, e.second, {}};
        const double bx = mb.x - kCentreX;
        const double by = mb.y - kCentreY;
        for (size_t k = 0; k < kTurnCells; ++k) {
          // The turn back by the cell's turn: R(-turn) * (b - centre).
          const double x = kTurns.cos[k] * bx + kTurns.sin[k] * by;
          const double y = kTurns.cos[k] * by - kTurns.sin[k] * bx;
          v.back[2 * k] = static_cast<int16_t>(Nearest(x) + kShiftRange);
          v.back[2 * k + 1] = static_cast<int16_t>(Nearest(y) + kShiftRange);
        }
        list.push_back(v);
      };
      for (const auto& e : sorted)
        if (e.first >= 360 - kMaxTurnDegrees)
          add(e, -360);
      for (const auto& e : sorted)
        add(e, 0);
      for (const auto& e : sorted)
        if (e.first <= kMaxTurnDegrees)
          add(e, 360);
      size_t i = 0;
      for (size_t d = 0; d < first[t].size(); ++d) {
        const int at = static_cast<int>(d) - kMaxTurnDegrees;
        while (i < list.size() && list[i].angle < at)
          ++i;
        first[t][d] = static_cast<uint32_t>(i);
      }
    }
  }
};

// The preparation of B, kept while the same B comes again: identification compares one
// captured template with every stored one.
struct PreparedB {
  Minutiae b;
  bool valid = false;
  VoteTargets votes;
  PairCells cells;
  const PreparedB& For(const Minutiae& other) {
    if (!valid || other != b) {
      b = other;
      votes.Build(b);
      cells.Build(b);
      valid = true;
    }
    return *this;
  }
};

// A minutia of A that takes part in the vote, relative to the centre in whole pixels.
struct Voter {
  int index;
  int type;
  int angle;
  int x;
  int y;
};

// The vote. A pair (a, b) of the same type within the turn limit votes once, into its
// nearest turn cell k and the shift cell of R(-turn_k) * (b - centre) - (a - centre):
// that is R(-turn_k) times the shift that carries a onto b, so the pairs of one
// alignment meet in one cell as they do in the shift itself, and B, turned back once
// for every cell when it is prepared, needs no turning here. A cluster split by a cell
// boundary still wins in one of its cells, and the refinement below gathers the pairs of
// the neighbouring cells as well. Shifts outside the grid are not worth a vote.
std::array<Candidate, kCandidates> CastVotes(const std::vector<Voter>& voters,
                                             const VoteTargets& targets, VoteGrid& grid) {
  std::array<Candidate, kCandidates> best{};
  uint32_t enough = 0;  // the votes a cell needs to be offered: more than the last kept
  for (const Voter& va : voters) {
    const size_t t = static_cast<size_t>(va.type);
    const VoteTarget* end = targets.by_type[t].data() + targets.by_type[t].size();
    const int angle = va.angle;
    const int ax = va.x;
    const int ay = va.y;
    for (const VoteTarget* to = targets.From(t, angle - kMaxTurnDegrees); to != end; ++to) {
      const int turn = to->angle - angle;
      if (turn > kMaxTurnDegrees)
        break;
      const int k = kTurns.cell_of[static_cast<size_t>(turn + kMaxTurnDegrees)];
      const int16_t* back = to->back.data() + 2 * k;
      const unsigned ux = static_cast<unsigned>(back[0] - ax);
      const unsigned uy = static_cast<unsigned>(back[1] - ay);
      if (ux >= 2 * kShiftRange || uy >= 2 * kShiftRange)
        continue;
      const int cell = (k * kShiftCells + static_cast<int>(ux / kShiftStep)) * kShiftCells +
                       static_cast<int>(uy / kShiftStep);
      const uint32_t votes = grid.Vote(cell);
      if (votes > enough) {
        Offer(best, cell, votes);
        enough = best[kCandidates - 1].votes;
      }
    }
  }

  return best;
}

// Refinement: the pairs whose turns lie within one turn step of the cell's and whose
// shifts, turned back by the cell's turn, lie near the cell give the mean turn and shift.
// Nothing when no pair supports the cell.
std::optional<Alignment> Refine(const Candidate& cand, const std::vector<Voter>& voters,
                                const VoteTargets& targets, const Minutiae& a, const Minutiae& b) {
  const int k = cand.cell / (kShiftCells * kShiftCells);
  const int cell_x = cand.cell / kShiftCells % kShiftCells;
  const int cell_y = cand.cell % kShiftCells;
  // The cell's middle, offset by kShiftRange like VoteTarget::back.
  const int mid_x = cell_x * kShiftStep + kShiftStep / 2;
  const int mid_y = cell_y * kShiftStep + kShiftStep / 2;
  const int lo = std::max(0, k - 1) * kTurnStep - kMaxTurnDegrees;
  const int hi = std::min(kTurnCells - 1, k + 1) * kTurnStep - kMaxTurnDegrees;
  thread_local std::vector<Pair> support;
  support.clear();
  double sum_turn = 0;
  for (const Voter& va : voters) {
    const size_t t = static_cast<size_t>(va.type);
    const VoteTarget* end = targets.by_type[t].data() + targets.by_type[t].size();
    for (const VoteTarget* to = targets.From(t, va.angle + lo); to != end; ++to) {
      const int turn = to->angle - va.angle;
      if (turn > hi)
        break;
      const int16_t* back = to->back.data() + 2 * k;
      if (std::abs(back[0] - va.x - mid_x) > kShiftStep ||
          std::abs(back[1] - va.y - mid_y) > kShiftStep)
        continue;
      sum_turn += turn;
      support.push_back({va.index, to->index, turn});
    }
  }
  if (support.empty())
    return std::nullopt;
  const double n = static_cast<double>(support.size());
  Alignment al;
  al.turn_degrees = sum_turn / n;
  const double rad = al.turn_degrees * kPi / 180.0;
  const double rc = std::cos(rad);
  const double rs = std::sin(rad);
  for (const Pair& p : support) {
    const Minutia& ma = a[static_cast<size_t>(p.a)];
    const Minutia& mb = b[static_cast<size_t>(p.b)];
    const double ax = ma.x - kCentreX;
    const double ay = ma.y - kCentreY;
    al.shift_x += (mb.x - kCentreX) - (rc * ax - rs * ay);
    al.shift_y += (mb.y - kCentreY) - (rs * ax + rc * ay);
  }
  al.shift_x /= n;
  al.shift_y /= n;
  return al;
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
  grid.Clear();
  thread_local PreparedB prepared;
  const PreparedB& pb = prepared.For(b);

  // The minutiae of A that can vote. The centre lies on whole pixels, so their places
  // relative to it are exact.
  static_assert(kSensorWidth % 2 == 0 && kSensorHeight % 2 == 0);
  thread_local std::vector<Voter> voters;
  voters.clear();
  for (size_t i = 0; i < a.size(); ++i) {
    const Minutia& m = a[i];
    const size_t t = static_cast<size_t>(m.type);
    if (t < pb.votes.by_type.size() && m.angle < 360)
      voters.push_back({static_cast<int>(i), static_cast<int>(t), m.angle, m.x - kSensorWidth / 2,
                        m.y - kSensorHeight / 2});
  }

  for (const Candidate& cand : CastVotes(voters, pb.votes, grid)) {
    if (cand.cell < 0)
      continue;
    std::optional<Alignment> al = Refine(cand, voters, pb.votes, a, b);
    if (!al)
      continue;
    int paired = PairUp(a, b.size(), pb.cells, *al);
    if (paired > result.pairs) {
      result.pairs = paired;
      result.alignment = *al;
    }
  }
  result.score = ScoreOf(result.pairs, a.size(), b.size());
  result.same = result.score >= kMatchThreshold;
  return result;
}

}  // namespace vantera
