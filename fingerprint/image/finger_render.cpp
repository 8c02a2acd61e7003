#include "fingerprint/image/finger_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

#include "fingerprint/finger_random.h"
#include "fingerprint/image/gabor_kernel.h"

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kW = MasterPrint::kWidth;
constexpr int kH = MasterPrint::kHeight;

// The Gabor bank of the ridge growth: kOrientations directions over half a turn and
// kPeriods ridge periods from kPeriodMin in steps of kPeriodStep pixels.
constexpr int kOrientations = 32;
constexpr int kPeriods = 8;
constexpr double kPeriodMin = 7.5;
constexpr double kPeriodStep = 0.5;
constexpr int kRadius = 5;
constexpr int kSide = 2 * kRadius + 1;
constexpr int kGrowthPasses = 7;

using Kernel = GaborKernel<kRadius>;

// One kernel: the zero-mean Gabor kernel, scaled to unit gain for a ridge pattern of its
// own period and direction.
Kernel MakeKernel(double ridge_angle, double period) {
  Kernel k = ZeroMeanGabor<kRadius>(ridge_angle, period, 3.0, 3.6);
  const double nx = -std::sin(ridge_angle);
  const double ny = std::cos(ridge_angle);
  double gain = 0;
  for (int y = -kRadius; y <= kRadius; ++y)
    for (int x = -kRadius; x <= kRadius; ++x) {
      size_t i = static_cast<size_t>((y + kRadius) * kSide + x + kRadius);
      double u = x * nx + y * ny;
      gain += k[i] * std::cos(2 * kPi * u / period);
    }
  for (float& v : k)
    v = static_cast<float>(v / gain);
  return k;
}

struct Bank {
  std::vector<Kernel> kernels;
  Bank() {
    kernels.reserve(kOrientations * kPeriods);
    for (int p = 0; p < kPeriods; ++p)
      for (int o = 0; o < kOrientations; ++o)
        kernels.push_back(MakeKernel(o * kPi / kOrientations, kPeriodMin + p * kPeriodStep));
  }
  const Kernel& At(int orientation, int period) const {
    return kernels[static_cast<size_t>(period * kOrientations + orientation)];
  }
};

const Bank& GrowthBank() {
  static const Bank bank;
  return bank;
}

// A smooth random field: a few low sinusoids, about -1..1.
struct SmoothField {
  struct Wave {
    double kx, ky, phase, amplitude;
  };
  std::array<Wave, 4> waves{};
  SmoothField(FingerRandom& rng, double min_wavelength, double max_wavelength) {
    double total = 0;
    for (Wave& w : waves) {
      double len = rng.Uniform(min_wavelength, max_wavelength);
      double dir = rng.Uniform(0, 2 * kPi);
      w.kx = 2 * kPi / len * std::cos(dir);
      w.ky = 2 * kPi / len * std::sin(dir);
      w.phase = rng.Uniform(0, 2 * kPi);
      w.amplitude = rng.Uniform(0.5, 1.0);
      total += w.amplitude;
    }
    for (Wave& w : waves)
      w.amplitude /= total;
  }
  double operator()(double x, double y) const {
    double v = 0;
    for (const Wave& w : waves)
      v += w.amplitude * std::sin(w.kx * x + w.ky * y + w.phase);
    return v;
  }
};

struct Point {
  double x, y;
};

struct Singularities {
  PatternClass pattern = PatternClass::kArch;
  std::vector<Point> cores;
  std::vector<Point> deltas;
  double base = 0;  // orientation far from the singular points
};

Singularities ChooseSingularities(FingerRandom& rng) {
  Singularities s;
  const double cx = kW / 2.0 + rng.Uniform(-20, 20);
  const double cy = kH / 2.0 + rng.Uniform(-50, 10);
  // Proportions near those of people: loops most often, whorls next, arches seldom.
  double pick = rng.Unit();
  if (pick < 0.05) {
    s.pattern = PatternClass::kArch;
    s.cores.push_back({cx, cy});  // the arch's summit, not a singular point
  } else if (pick < 0.10) {
    s.pattern = PatternClass::kTentedArch;
    s.cores.push_back({cx, cy});
    s.deltas.push_back({cx + rng.Uniform(-8, 8), cy + rng.Uniform(70, 100)});
  } else if (pick < 0.43) {
    s.pattern = PatternClass::kLeftLoop;
    s.cores.push_back({cx, cy});
    s.deltas.push_back({cx - rng.Uniform(80, 130), cy + rng.Uniform(100, 160)});
  } else if (pick < 0.74) {
    s.pattern = PatternClass::kRightLoop;
    s.cores.push_back({cx, cy});
    s.deltas.push_back({cx + rng.Uniform(80, 130), cy + rng.Uniform(100, 160)});
  } else {
    s.pattern = PatternClass::kWhorl;
    double gap = rng.Uniform(15, 40);
    double tilt = rng.Uniform(-15, 15);
    s.cores.push_back({cx - tilt / 2, cy - gap / 2});
    s.cores.push_back({cx + tilt / 2, cy + gap / 2});
    s.deltas.push_back({cx - rng.Uniform(100, 140), cy + rng.Uniform(110, 160)});
    s.deltas.push_back({cx + rng.Uniform(100, 140), cy + rng.Uniform(110, 160)});
  }
  s.base = rng.Uniform(-0.15, 0.15);
  return s;
}

// A field sampled every kGridStep pixels over the impression window and read back by
// bilinear interpolation: the smooth fields cost little per pixel then.
constexpr int kGridStep = 4;
class FieldGrid {
 public:
  FieldGrid(const SmoothField& f, double scale_x = 1, double scale_y = 1)
      : cols_(kImageWidth / kGridStep + 2), rows_(kImageHeight / kGridStep + 2) {
    values_.resize(static_cast<size_t>(cols_) * static_cast<size_t>(rows_));
    for (int r = 0; r < rows_; ++r)
      for (int c = 0; c < cols_; ++c)
        values_[static_cast<size_t>(r * cols_ + c)] =
            static_cast<float>(f(c * kGridStep * scale_x, r * kGridStep * scale_y));
  }
  double operator()(int x, int y) const {
    int c = x / kGridStep, r = y / kGridStep;
    double fx = (x % kGridStep) / static_cast<double>(kGridStep);
    double fy = (y % kGridStep) / static_cast<double>(kGridStep);
    size_t i = static_cast<size_t>(r * cols_ + c);
    double top = values_[i] * (1 - fx) + values_[i + 1] * fx;
    double bottom = values_[i + static_cast<size_t>(cols_)] * (1 - fx) +
                    values_[i + static_cast<size_t>(cols_) + 1] * fx;
    return top * (1 - fy) + bottom * fy;
  }

 private:
  int cols_, rows_;
  std::vector<float> values_;
};

// Roughly normal noise of deviation 1 from four uniform draws (cheaper than Box-Muller).
double QuickNormal(FingerRandom& rng) {
  uint64_t bits = rng.Next();
  double sum = 0;
  for (int i = 0; i < 4; ++i, bits >>= 16)
    sum += static_cast<double>(bits & 0xFFFF) / 65535.0;
  return (sum - 2.0) * 1.7320508;
}

// Ridge orientation (radians, modulo pi) at a point.
double Orientation(const Singularities& s, double x, double y) {
  if (s.pattern == PatternClass::kArch) {
    const Point c = s.cores.front();
    double dx = (x - c.x) / 110.0;
    double fall = std::clamp(1.0 - (y - c.y) / 260.0, 0.15, 1.3);
    double slope = 1.6 * fall * dx * std::exp(-dx * dx);
    return s.base + std::atan(slope);
  }
  double t = s.base;
  for (const Point& c : s.cores)
    t += 0.5 * std::atan2(y - c.y, x - c.x);
  for (const Point& d : s.deltas)
    t -= 0.5 * std::atan2(y - d.y, x - d.x);
  return t;
}

int OrientationIndex(double angle) {
  double a = std::fmod(angle, kPi);
  if (a < 0)
    a += kPi;
  int i = static_cast<int>(std::lround(a / kPi * kOrientations));
  return i % kOrientations;
}

uint64_t ImpressionSeed(std::string_view name, uint64_t placement) {
  FingerRandom mix(HashOfName(name) ^ (0xD1B54A32D192ED03ull * (placement + 1)));
  return mix.Next();
}

float Sample(const MasterPrint& m, double x, double y, float outside) {
  if (x < 0 || y < 0 || x >= kW - 1 || y >= kH - 1)
    return outside;
  int ix = static_cast<int>(x);
  int iy = static_cast<int>(y);
  double fx = x - ix, fy = y - iy;
  size_t i = static_cast<size_t>(iy) * kW + static_cast<size_t>(ix);
  double top = m.ridges[i] * (1 - fx) + m.ridges[i + 1] * fx;
  double bottom = m.ridges[i + kW] * (1 - fx) + m.ridges[i + kW + 1] * fx;
  return static_cast<float>(top * (1 - fy) + bottom * fy);
}

}  // namespace

PatternClass PatternClassOf(std::string_view name) {
  FingerRandom rng(HashOfName(name));
  return ChooseSingularities(rng).pattern;
}

MasterPrint RenderMaster(std::string_view name) {
  FingerRandom rng(HashOfName(name));
  MasterPrint m;
  Singularities sing = ChooseSingularities(rng);
  m.pattern = sing.pattern;
  SmoothField bend(rng, 180, 420);
  SmoothField period_wave(rng, 150, 350);
  const double bend_amount = rng.Uniform(0.05, 0.16);
  const double mean_period = rng.Uniform(8.6, 9.6);

  // The finger: an ellipse a little narrower than the canvas, its tip round.
  const double fcx = kW / 2.0, fcy = kH / 2.0 + 20;
  const double ax = rng.Uniform(155, 180), ay = rng.Uniform(205, 230);
  m.inside.assign(static_cast<size_t>(kW) * kH, 0);
  std::vector<uint8_t> orientation(static_cast<size_t>(kW) * kH);
  std::vector<uint8_t> period(static_cast<size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      size_t i = static_cast<size_t>(y) * kW + static_cast<size_t>(x);
      double ex = (x - fcx) / ax, ey = (y - fcy) / ay;
      m.inside[i] = ex * ex + ey * ey <= 1.0 ? 1 : 0;
      orientation[i] = static_cast<uint8_t>(
          OrientationIndex(Orientation(sing, x, y) + bend_amount * bend(x, y)));
      double p = mean_period + 0.8 * period_wave(x, y);
      int pi = static_cast<int>(std::lround((p - kPeriodMin) / kPeriodStep));
      period[i] = static_cast<uint8_t>(std::clamp(pi, 0, kPeriods - 1));
    }

  // The seed: sparse random dots over the finger and a margin around it.
  std::vector<float> a(static_cast<size_t>(kW) * kH, 0.f);
  for (float& v : a)
    v = rng.Chance(0.08) ? static_cast<float>(rng.Uniform(-1, 1)) : 0.f;
  std::vector<float> b(a.size(), 0.f);
  const Bank& bank = GrowthBank();
  const int x0 = std::max(kRadius, static_cast<int>(fcx - ax) - 12);
  const int x1 = std::min(kW - kRadius, static_cast<int>(fcx + ax) + 12);
  const int y0 = std::max(kRadius, static_cast<int>(fcy - ay) - 12);
  const int y1 = std::min(kH - kRadius, static_cast<int>(fcy + ay) + 12);
  for (int pass = 0; pass < kGrowthPasses; ++pass) {
    const float gain = pass < 2 ? 6.f : 2.5f;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        size_t i = static_cast<size_t>(y) * kW + static_cast<size_t>(x);
        const Kernel& k = bank.At(orientation[i], period[i]);
        float sum = 0;
        const float* row = &a[i - static_cast<size_t>(kRadius) * kW - kRadius];
        const float* kr = k.data();
        for (int ky = 0; ky < kSide; ++ky, row += kW, kr += kSide)
          for (int kx = 0; kx < kSide; ++kx)
            sum += row[kx] * kr[kx];
        b[i] = std::clamp(sum * gain, -1.f, 1.f);
      }
    std::swap(a, b);
  }
  m.ridges = std::move(a);
  return m;
}

std::shared_ptr<const MasterPrint> CachedMaster(std::string_view name) {
  // A handful of fingers are placed again and again in a session or a test; a bounded
  // cache spares their growth. Rendering happens outside the lock.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const MasterPrint>, std::less<>> cache;
  constexpr size_t kMaxCached = 48;
  {
    std::lock_guard lock(mutex);
    auto it = cache.find(name);
    if (it != cache.end())
      return it->second;
  }
  auto master = std::make_shared<const MasterPrint>(RenderMaster(name));
  std::lock_guard lock(mutex);
  if (cache.size() >= kMaxCached)
    cache.clear();
  cache.emplace(std::string(name), master);
  return master;
}

GreyImage RenderImpression(const MasterPrint& master, std::string_view name, uint64_t placement) {
  FingerRandom rng(ImpressionSeed(name, placement));
  const double turn = rng.Uniform(-20, 20) * kPi / 180.0;
  const double shift_x = rng.Uniform(-28, 28);
  const double shift_y = rng.Uniform(-32, 32);
  const FieldGrid warp_x(SmoothField(rng, 160, 400)), warp_y(SmoothField(rng, 160, 400));
  const double warp = rng.Uniform(2.0, 5.0);
  const FieldGrid patches(SmoothField(rng, 90, 220));
  const FieldGrid speckle_field(SmoothField(rng, 25, 60), 3.1, 2.7);
  const double pressure = rng.Uniform(-0.28, 0.28);  // > 0 dry and thin, < 0 wet and thick
  const double patchiness = rng.Uniform(0.1, 0.45);
  const double noise = rng.Uniform(4, 14);
  const double contrast = rng.Uniform(150, 200);
  // The partial contact: a half-plane that takes up to a fifth of the window away, in one
  // placement of three.
  const bool partial = rng.Chance(0.33);
  const double cut_dir = rng.Uniform(0, 2 * kPi);
  const double cut_at = rng.Uniform(95, 150);

  const double c = std::cos(turn), s = std::sin(turn);
  const double wcx = kImageWidth / 2.0, wcy = kImageHeight / 2.0;
  const double mcx = kW / 2.0, mcy = kH / 2.0;
  GreyImage img(kImageWidth, kImageHeight, 255);
  for (int y = 0; y < kImageHeight; ++y)
    for (int x = 0; x < kImageWidth; ++x) {
      // Window to master: undo the turn and shift, then the skin's distortion.
      double px = x - wcx - shift_x, py = y - wcy - shift_y;
      double mx = c * px + s * py + mcx;
      double my = -s * px + c * py + mcy;
      mx += warp * warp_x(x, y);
      my += warp * warp_y(x, y);
      double grey;
      int ix = static_cast<int>(std::lround(mx)), iy = static_cast<int>(std::lround(my));
      bool on = ix >= 0 && iy >= 0 && ix < kW && iy < kH &&
                master.inside[static_cast<size_t>(iy) * kW + static_cast<size_t>(ix)];
      if (on && partial) {
        double along = (x - wcx) * std::cos(cut_dir) + (y - wcy) * std::sin(cut_dir);
        on = along < cut_at;
      }
      if (on) {
        double r = Sample(master, mx, my, -1.f);
        double local = pressure + patchiness * patches(x, y);
        // Dry skin breaks ridges into dots; wet skin fills the valleys.
        if (local > 0.2)
          local += 0.5 * (local - 0.2) * (1 + speckle_field(x, y));
        double v = std::tanh(3.0 * (r - local));
        grey = 215 - contrast * 0.5 * (1 + v);
      } else {
        grey = 246;
      }
      grey += noise * QuickNormal(rng);
      img.at(x, y) = static_cast<uint8_t>(std::clamp(std::lround(grey), 0l, 255l));
    }
  return img;
}

GreyImage RenderFinger(std::string_view name, uint64_t placement) {
  return RenderImpression(*CachedMaster(name), name, placement);
}

}  // namespace vantera
