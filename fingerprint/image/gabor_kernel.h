// The even Gabor kernel that both the renderer (to grow ridges) and the extractor (to
// enhance them) filter with: a cosine of the ridge period across the ridges under a
// Gaussian of widths su (across) and sv (along), with its Gaussian-weighted mean taken out
// so that flat areas give no response. Row-major, (2 Radius + 1)^2 values, centre in the
// middle.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace vantera {

template <int Radius>
using GaborKernel = std::array<float, (2 * Radius + 1) * (2 * Radius + 1)>;

// ridge_angle: the direction of the ridges in radians; period: pixels from ridge to ridge.
template <int Radius>
GaborKernel<Radius> ZeroMeanGabor(double ridge_angle, double period, double su, double sv) {
  constexpr double kPi = 3.14159265358979323846;
  constexpr int kSide = 2 * Radius + 1;
  GaborKernel<Radius> k{};
  const double nx = -std::sin(ridge_angle);  // the normal to the ridges
  const double ny = std::cos(ridge_angle);
  double sum = 0, weight = 0;
  std::array<double, kSide * kSide> env{};
  for (int y = -Radius; y <= Radius; ++y)
    for (int x = -Radius; x <= Radius; ++x) {
      double u = x * nx + y * ny;
      double v = -x * ny + y * nx;
      double e = std::exp(-(u * u) / (2 * su * su) - (v * v) / (2 * sv * sv));
      size_t i = static_cast<size_t>((y + Radius) * kSide + x + Radius);
      env[i] = e;
      k[i] = static_cast<float>(e * std::cos(2 * kPi * u / period));
      sum += k[i];
      weight += e;
    }
  for (size_t i = 0; i < k.size(); ++i)
    k[i] = static_cast<float>(k[i] - sum / weight * env[i]);
  return k;
}

}  // namespace vantera
