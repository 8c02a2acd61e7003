#include "fingerprint/image/minutia_extract.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fingerprint/image/gabor_kernel.h"

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = 8;
// Gabor bank of the enhancement: kOrientations directions, periods kPeriodMin..kPeriodMax.
constexpr int kOrientations = 16;
constexpr int kPeriodMin = 5;
constexpr int kPeriodMax = 14;
constexpr int kRadius = 6;
constexpr int kSide = 2 * kRadius + 1;
// False-minutia rules, in pixels at 500 dpi (ridge period about 9).
constexpr int kBorderBlocks = 2;    // minutiae keep this many blocks off the background
constexpr int kSpurLength = 12;     // an ending joined to a fork within this is a spur
constexpr int kPieceLength = 16;    // a ridge piece shorter than this has no minutiae
constexpr int kBridgeLength = 12;   // two forks joined within this are a bridge or a hole
constexpr int kBreakDistance = 14;  // two endings facing each other this close are a break
constexpr int kTraceLength = 10;    // steps traced for a minutia's direction
constexpr int kClusterRadius = 8;
constexpr int kMaxMinutiae = 150;

template <typename T>
class Grid {
 public:
  Grid() = default;
  Grid(int w, int h, T fill = T()) : w_(w), h_(h), v_(static_cast<size_t>(w) * h, fill) {}
  T& operator()(int x, int y) { return v_[static_cast<size_t>(y) * w_ + static_cast<size_t>(x)]; }
  T operator()(int x, int y) const {
    return v_[static_cast<size_t>(y) * w_ + static_cast<size_t>(x)];
  }
  int w() const { return w_; }
  int h() const { return h_; }
  bool in(int x, int y) const { return x >= 0 && y >= 0 && x < w_ && y < h_; }

 private:
  int w_ = 0, h_ = 0;
  std::vector<T> v_;
};

using Kernel = GaborKernel<kRadius>;

Kernel MakeKernel(double ridge_angle, double period) {
  return ZeroMeanGabor<kRadius>(ridge_angle, period, 3.2, 4.5);
}

const std::vector<Kernel>& EnhanceBank() {
  static const std::vector<Kernel> bank = [] {
    std::vector<Kernel> b;
    for (int p = kPeriodMin; p <= kPeriodMax; ++p)
      for (int o = 0; o < kOrientations; ++o)
        b.push_back(MakeKernel(o * kPi / kOrientations, p));
    return b;
  }();
  return bank;
}

struct Blocks {
  int bw = 0, bh = 0;
  Grid<float> mean, spread, angle, coherence, period;
  Grid<uint8_t> fore;   // finger
  Grid<uint8_t> inner;  // finger, kBorderBlocks away from the background
};

double Median(std::vector<float> v) {
  if (v.empty())
    return 0;
  auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Block statistics and the finger's area.
void Segment(const Grid<float>& f, Blocks& b) {
  b.mean = Grid<float>(b.bw, b.bh);
  b.spread = Grid<float>(b.bw, b.bh);
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx) {
      double s = 0, s2 = 0;
      int n = 0;
      for (int y = by * kBlock - 4; y < by * kBlock + kBlock + 4; ++y)
        for (int x = bx * kBlock - 4; x < bx * kBlock + kBlock + 4; ++x) {
          if (!f.in(x, y))
            continue;
          double v = f(x, y);
          s += v;
          s2 += v * v;
          ++n;
        }
      double m = n ? s / n : 0;
      b.mean(bx, by) = static_cast<float>(m);
      b.spread(bx, by) = static_cast<float>(n ? std::sqrt(std::max(0.0, s2 / n - m * m)) : 0);
    }
  std::vector<float> spreads;
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx)
      spreads.push_back(b.spread(bx, by));
  std::sort(spreads.begin(), spreads.end());
  double top = spreads[spreads.size() * 9 / 10];
  double threshold = std::max(6.0, 0.35 * top);
  Grid<uint8_t> fore(b.bw, b.bh, 0);
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx)
      fore(bx, by) = b.spread(bx, by) > threshold ? 1 : 0;
  // Two majority passes drop lone blocks and fill small gaps.
  for (int pass = 0; pass < 2; ++pass) {
    Grid<uint8_t> next(b.bw, b.bh, 0);
    for (int by = 0; by < b.bh; ++by)
      for (int bx = 0; bx < b.bw; ++bx) {
        int on = 0, all = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (fore.in(bx + dx, by + dy)) {
              ++all;
              on += fore(bx + dx, by + dy);
            }
        next(bx, by) = on * 2 > all ? 1 : 0;
      }
    fore = std::move(next);
  }
  // Holes: background not reachable from the image's edge is finger.
  Grid<uint8_t> outside(b.bw, b.bh, 0);
  std::vector<std::pair<int, int>> stack;
  for (int bx = 0; bx < b.bw; ++bx) {
    stack.emplace_back(bx, 0);
    stack.emplace_back(bx, b.bh - 1);
  }
  for (int by = 0; by < b.bh; ++by) {
    stack.emplace_back(0, by);
    stack.emplace_back(b.bw - 1, by);
  }
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (!fore.in(x, y) || fore(x, y) || outside(x, y))
      continue;
    outside(x, y) = 1;
    stack.emplace_back(x + 1, y);
    stack.emplace_back(x - 1, y);
    stack.emplace_back(x, y + 1);
    stack.emplace_back(x, y - 1);
  }
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx)
      if (!outside(bx, by))
        fore(bx, by) = 1;
  b.fore = fore;
  // The inner area: finger blocks whose neighbourhood of kBorderBlocks is finger and inside
  // the image.
  b.inner = Grid<uint8_t>(b.bw, b.bh, 0);
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx) {
      bool all = true;
      for (int dy = -kBorderBlocks; dy <= kBorderBlocks && all; ++dy)
        for (int dx = -kBorderBlocks; dx <= kBorderBlocks && all; ++dx)
          all = fore.in(bx + dx, by + dy) && fore(bx + dx, by + dy);
      b.inner(bx, by) = all ? 1 : 0;
    }
}

void Orient(const Grid<float>& f, Blocks& b) {
  const int w = f.w(), h = f.h();
  Grid<float> gxx(b.bw, b.bh, 0), gyy(b.bw, b.bh, 0), gxy(b.bw, b.bh, 0);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      float gx = (f(x + 1, y - 1) + 2 * f(x + 1, y) + f(x + 1, y + 1)) -
                 (f(x - 1, y - 1) + 2 * f(x - 1, y) + f(x - 1, y + 1));
      float gy = (f(x - 1, y + 1) + 2 * f(x, y + 1) + f(x + 1, y + 1)) -
                 (f(x - 1, y - 1) + 2 * f(x, y - 1) + f(x + 1, y - 1));
      int bx = x / kBlock, by = y / kBlock;
      gxx(bx, by) += gx * gx;
      gyy(bx, by) += gy * gy;
      gxy(bx, by) += gx * gy;
    }
  // Doubled-angle vectors, smoothed over 5 x 5 blocks (weights falling off).
  b.angle = Grid<float>(b.bw, b.bh);
  b.coherence = Grid<float>(b.bw, b.bh);
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx) {
      double vx = 0, vy = 0, e = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          int x = bx + dx, y = by + dy;
          if (!gxx.in(x, y))
            continue;
          double wgt = (3 - std::abs(dx)) * (3 - std::abs(dy));
          vx += wgt * (gxx(x, y) - gyy(x, y));
          vy += wgt * 2 * gxy(x, y);
          e += wgt * (gxx(x, y) + gyy(x, y));
        }
      // The gradient's direction is across the ridges; the ridge runs a quarter turn on.
      b.angle(bx, by) = static_cast<float>(0.5 * std::atan2(vy, vx) + kPi / 2);
      b.coherence(bx, by) = static_cast<float>(e > 0 ? std::hypot(vx, vy) / e : 0);
    }
}

float At(const Grid<float>& f, double x, double y) {
  int ix = std::clamp(static_cast<int>(std::lround(x)), 0, f.w() - 1);
  int iy = std::clamp(static_cast<int>(std::lround(y)), 0, f.h() - 1);
  return f(ix, iy);
}

void Periods(const Grid<float>& f, Blocks& b) {
  Grid<float> raw(b.bw, b.bh, 0);
  std::vector<float> found;
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx) {
      if (!b.fore(bx, by) || b.coherence(bx, by) < 0.3f)
        continue;
      double cx = bx * kBlock + kBlock / 2.0, cy = by * kBlock + kBlock / 2.0;
      double a = b.angle(bx, by);
      double tx = std::cos(a), ty = std::sin(a);  // along the ridge
      double nx = -ty, ny = tx;                   // across
      std::array<double, 33> profile{};
      for (int u = -16; u <= 16; ++u) {
        double s = 0;
        for (int v = -4; v <= 4; ++v)
          s += At(f, cx + u * nx + v * tx, cy + u * ny + v * ty);
        profile[static_cast<size_t>(u + 16)] = s;
      }
      int first = -1, last = -1, peaks = 0;
      for (size_t i = 1; i + 1 < profile.size(); ++i)
        if (profile[i] > profile[i - 1] && profile[i] >= profile[i + 1]) {
          if (first < 0)
            first = static_cast<int>(i);
          last = static_cast<int>(i);
          ++peaks;
        }
      if (peaks < 2)
        continue;
      double p = static_cast<double>(last - first) / (peaks - 1);
      if (p >= kPeriodMin && p <= kPeriodMax) {
        raw(bx, by) = static_cast<float>(p);
        found.push_back(static_cast<float>(p));
      }
    }
  const double median = found.empty() ? 9.0 : Median(found);
  b.period = Grid<float>(b.bw, b.bh, static_cast<float>(median));
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx) {
      std::vector<float> near;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
          if (raw.in(bx + dx, by + dy) && raw(bx + dx, by + dy) > 0)
            near.push_back(raw(bx + dx, by + dy));
      if (near.size() >= 4)
        b.period(bx, by) = static_cast<float>(Median(near));
    }
}

// Ridge pixels (1) after enhancement; background 0.
Grid<uint8_t> Enhance(const Grid<float>& f, const Blocks& b) {
  const int w = f.w(), h = f.h();
  Grid<float> norm(w, h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int bx = x / kBlock, by = y / kBlock;
      float s = std::max(b.spread(bx, by), 1.f);
      norm(x, y) = (f(x, y) - b.mean(bx, by)) / s;
    }
  const std::vector<Kernel>& bank = EnhanceBank();
  Grid<uint8_t> ridge(w, h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int bx = x / kBlock, by = y / kBlock;
      if (!b.fore(bx, by))
        continue;
      double a = std::fmod(static_cast<double>(b.angle(bx, by)), kPi);
      if (a < 0)
        a += kPi;
      int o = static_cast<int>(std::lround(a / kPi * kOrientations)) % kOrientations;
      int p = std::clamp(static_cast<int>(std::lround(b.period(bx, by))), kPeriodMin, kPeriodMax);
      const Kernel& k = bank[static_cast<size_t>((p - kPeriodMin) * kOrientations + o)];
      float sum = 0;
      if (x >= kRadius && y >= kRadius && x < w - kRadius && y < h - kRadius) {
        const float* kr = k.data();
        for (int ky = -kRadius; ky <= kRadius; ++ky, kr += kSide) {
          const float* row = &norm(x - kRadius, y + ky);
          for (int kx = 0; kx < kSide; ++kx)
            sum += row[kx] * kr[kx];
        }
      } else {
        for (int ky = -kRadius; ky <= kRadius; ++ky)
          for (int kx = -kRadius; kx <= kRadius; ++kx) {
            int sx = std::clamp(x + kx, 0, w - 1), sy = std::clamp(y + ky, 0, h - 1);
            sum += norm(sx, sy) * k[static_cast<size_t>((ky + kRadius) * kSide + kx + kRadius)];
          }
      }
      ridge(x, y) = sum > 0 ? 1 : 0;
    }
  return ridge;
}

// The eight neighbours in turn, starting east and going round.
constexpr std::array<int, 8> kDx = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr std::array<int, 8> kDy = {0, 1, 1, 1, 0, -1, -1, -1};

uint8_t Px(const Grid<uint8_t>& g, int x, int y) {
  return g.in(x, y) ? g(x, y) : 0;
}

// Zhang-Suen thinning, in place.
void Thin(Grid<uint8_t>& g) {
  const int w = g.w(), h = g.h();
  std::vector<std::pair<int, int>> clear;
  for (int iteration = 0; iteration < 40; ++iteration) {
    bool changed = false;
    for (int step = 0; step < 2; ++step) {
      clear.clear();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          if (!g(x, y))
            continue;
          // p2..p9 clockwise from north, as the method counts them.
          uint8_t p2 = Px(g, x, y - 1), p3 = Px(g, x + 1, y - 1), p4 = Px(g, x + 1, y),
                  p5 = Px(g, x + 1, y + 1), p6 = Px(g, x, y + 1), p7 = Px(g, x - 1, y + 1),
                  p8 = Px(g, x - 1, y), p9 = Px(g, x - 1, y - 1);
          int n = p2 + p3 + p4 + p5 + p6 + p7 + p8 + p9;
          if (n < 2 || n > 6)
            continue;
          int t = (!p2 && p3) + (!p3 && p4) + (!p4 && p5) + (!p5 && p6) + (!p6 && p7) +
                  (!p7 && p8) + (!p8 && p9) + (!p9 && p2);
          if (t != 1)
            continue;
          if (step == 0 ? (p2 && p4 && p6) || (p4 && p6 && p8)
                        : (p2 && p4 && p8) || (p2 && p6 && p8))
            continue;
          clear.emplace_back(x, y);
        }
      for (auto [x, y] : clear)
        g(x, y) = 0;
      changed = changed || !clear.empty();
    }
    if (!changed)
      break;
  }
}

int Crossing(const Grid<uint8_t>& g, int x, int y) {
  int t = 0;
  for (int i = 0; i < 8; ++i)
    t += std::abs(Px(g, x + kDx[static_cast<size_t>(i)], y + kDy[static_cast<size_t>(i)]) -
                  Px(g, x + kDx[static_cast<size_t>((i + 1) % 8)],
                     y + kDy[static_cast<size_t>((i + 1) % 8)]));
  return t / 2;
}

struct Candidate {
  int x, y;
  double angle;  // radians
  MinutiaType type;
  int quality;
  bool dropped = false;
};

// What a walk along the skeleton met.
enum class Met { kNothing, kEnding, kFork };
struct Walk {
  int steps = 0;
  int x = 0, y = 0;  // where the walk stopped
  Met met = Met::kNothing;
  int end_x = 0, end_y = 0;  // the pixel kTraceLength steps on (or where it stopped)
};

// Walks from (x, y) through its neighbour (nx, ny) for up to limit steps, never into the
// pixels of `blocked` (the minutia and the first pixels of its other branches).
Walk Follow(const Grid<uint8_t>& g, const Grid<int8_t>& cn, int x, int y, int nx, int ny, int limit,
            const std::vector<std::pair<int, int>>& blocked) {
  Walk w;
  int px = x, py = y, cx = nx, cy = ny;
  std::vector<std::pair<int, int>> seen{{x, y}};
  for (w.steps = 1; w.steps <= limit; ++w.steps) {
    if (w.steps == kTraceLength || w.steps == 1) {
      w.end_x = cx;
      w.end_y = cy;
    }
    int c = cn(cx, cy);
    if (c == 1) {
      w.met = Met::kEnding;
      break;
    }
    if (c >= 3) {
      w.met = Met::kFork;
      break;
    }
    seen.emplace_back(cx, cy);
    // The next pixel: a neighbour not yet walked, 4-neighbours first.
    int bx = -1, by = -1;
    for (int pass = 0; pass < 2 && bx < 0; ++pass)
      for (int i = pass; i < 8; i += 2) {
        int qx = cx + kDx[static_cast<size_t>(i)], qy = cy + kDy[static_cast<size_t>(i)];
        if (!Px(g, qx, qy) || (qx == px && qy == py))
          continue;
        bool old = false;
        for (size_t k = seen.size() > 4 ? seen.size() - 4 : 0; k < seen.size(); ++k)
          old = old || (seen[k].first == qx && seen[k].second == qy);
        for (const auto& [bx2, by2] : blocked)
          old = old || (bx2 == qx && by2 == qy);
        if (old)
          continue;
        bx = qx;
        by = qy;
        break;
      }
    if (bx < 0)
      break;
    px = cx;
    py = cy;
    cx = bx;
    cy = by;
  }
  w.x = cx;
  w.y = cy;
  if (w.steps > limit)
    w.steps = limit;
  return w;
}

}  // namespace

Extraction ExtractMinutiae(const GreyImage& image) {
  if (image.width < kMinImageSide || image.height < kMinImageSide || image.width > kMaxImageSide ||
      image.height > kMaxImageSide)
    throw EImageError("Image size out of range");
  if (image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    throw EImageError("Image pixel count does not fit its size");
  const int w = image.width, h = image.height;
  Grid<float> f(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f(x, y) = static_cast<float>(255 - image.at(x, y));  // ridges high

  Blocks b;
  b.bw = (w + kBlock - 1) / kBlock;
  b.bh = (h + kBlock - 1) / kBlock;
  Segment(f, b);
  Orient(f, b);
  Periods(f, b);
  Grid<uint8_t> skeleton = Enhance(f, b);
  Thin(skeleton);

  Extraction out;
  int fore = 0;
  for (int by = 0; by < b.bh; ++by)
    for (int bx = 0; bx < b.bw; ++bx)
      fore += b.fore(bx, by);
  out.foreground_percent = fore * 100 / (b.bw * b.bh);

  Grid<int8_t> cn(w, h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (skeleton(x, y))
        cn(x, y) = static_cast<int8_t>(Crossing(skeleton, x, y));

  std::vector<Candidate> found;
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      int c = cn(x, y);
      if (!skeleton(x, y) || (c != 1 && c != 3))
        continue;
      int bx = x / kBlock, by = y / kBlock;
      if (!b.inner(bx, by))
        continue;
      Candidate m{x, y, 0, c == 1 ? MinutiaType::kEnding : MinutiaType::kBifurcation, 0};
      double coh = b.coherence(bx, by);
      m.quality = static_cast<int>(std::clamp(
          100.0 * std::min(1.0, coh * 1.4) * std::min(1.0, b.spread(bx, by) / 30.0), 0.0, 100.0));
      // The branches: one neighbour from each run of ridge neighbours.
      std::vector<std::pair<int, int>> starts;
      for (int i = 0; i < 8; ++i) {
        int qx = x + kDx[static_cast<size_t>(i)], qy = y + kDy[static_cast<size_t>(i)];
        int j = (i + 7) % 8;
        if (Px(skeleton, qx, qy) &&
            !Px(skeleton, x + kDx[static_cast<size_t>(j)], y + kDy[static_cast<size_t>(j)]))
          starts.emplace_back(qx, qy);
      }
      if (c == 1) {
        if (starts.size() != 1)
          continue;
        Walk walk =
            Follow(skeleton, cn, x, y, starts[0].first, starts[0].second, kPieceLength, {{x, y}});
        if (walk.met == Met::kFork && walk.steps < kSpurLength)
          m.dropped = true;  // a spur; its fork is dropped below
        if (walk.met == Met::kEnding && walk.steps < kPieceLength)
          m.dropped = true;  // a short piece of ridge
        m.angle = std::atan2(y - walk.end_y, x - walk.end_x);
      } else {
        if (starts.size() != 3)
          continue;
        std::array<double, 3> dir{};
        std::vector<std::pair<int, int>> blocked = starts;
        blocked.emplace_back(x, y);
        for (size_t k = 0; k < 3; ++k) {
          Walk walk =
              Follow(skeleton, cn, x, y, starts[k].first, starts[k].second, kSpurLength, blocked);
          if (walk.met != Met::kNothing && walk.steps < kBridgeLength)
            m.dropped = true;  // a spur, bridge or hole
          dir[k] = std::atan2(walk.end_y - y, walk.end_x - x);
        }
        // The stem is the branch farthest in direction from the other two.
        auto gap = [](double a, double c2) {
          double d = std::fabs(std::remainder(a - c2, 2 * kPi));
          return d;
        };
        size_t stem = 0;
        double best = -1;
        for (size_t k = 0; k < 3; ++k) {
          double g = gap(dir[k], dir[(k + 1) % 3]) + gap(dir[k], dir[(k + 2) % 3]);
          if (g > best) {
            best = g;
            stem = k;
          }
        }
        m.angle = dir[stem] + kPi;
      }
      // The ridge orientation gives the axis more steadily than a short trace; the trace
      // gives the sense along it.
      double axis = b.angle(bx, by);
      if (std::fabs(std::remainder(axis - m.angle, 2 * kPi)) > kPi / 2)
        axis += kPi;
      if (std::fabs(std::remainder(axis - m.angle, 2 * kPi)) < kPi / 3)
        m.angle = axis;
      found.push_back(m);
    }

  // Forks that a dropped spur led to, and pairs of endings facing each other across a gap.
  for (size_t i = 0; i < found.size(); ++i) {
    Candidate& a = found[i];
    for (size_t j = i + 1; j < found.size(); ++j) {
      Candidate& o = found[j];
      int dx = o.x - a.x, dy = o.y - a.y;
      int d2 = dx * dx + dy * dy;
      if (d2 > kBreakDistance * kBreakDistance)
        continue;
      if (a.type == MinutiaType::kEnding && o.type == MinutiaType::kEnding) {
        double facing = std::fabs(std::remainder(a.angle - o.angle - kPi, 2 * kPi));
        if (facing < kPi / 4) {
          a.dropped = true;
          o.dropped = true;
        }
      } else if (a.type != o.type && d2 <= kSpurLength * kSpurLength) {
        // An ending this near a fork was a spur of it.
        if ((a.type == MinutiaType::kEnding && a.dropped) ||
            (o.type == MinutiaType::kEnding && o.dropped)) {
          a.dropped = true;
          o.dropped = true;
        }
      }
    }
  }
  // Crowds: more than two others within kClusterRadius are noise.
  std::vector<Candidate> kept;
  for (const Candidate& a : found) {
    if (a.dropped)
      continue;
    int near = 0;
    for (const Candidate& o : found) {
      int dx = o.x - a.x, dy = o.y - a.y;
      if (&o != &a && dx * dx + dy * dy <= kClusterRadius * kClusterRadius)
        ++near;
    }
    if (near <= 2)
      kept.push_back(a);
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Candidate& l, const Candidate& r) { return l.quality > r.quality; });
  if (kept.size() > kMaxMinutiae)
    kept.resize(kMaxMinutiae);
  std::stable_sort(kept.begin(), kept.end(), [](const Candidate& l, const Candidate& r) {
    return l.y != r.y ? l.y < r.y : l.x < r.x;
  });
  for (const Candidate& c : kept) {
    Minutia m;
    m.x = static_cast<int16_t>(c.x);
    m.y = static_cast<int16_t>(c.y);
    int deg = static_cast<int>(std::lround(c.angle * 180.0 / kPi)) % 360;
    m.angle = static_cast<uint16_t>(deg < 0 ? deg + 360 : deg);
    m.type = c.type;
    m.quality = static_cast<uint8_t>(c.quality);
    out.minutiae.push_back(m);
  }
  return out;
}

}  // namespace vantera
