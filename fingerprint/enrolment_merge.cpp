#include "fingerprint/enrolment_merge.h"

#include <algorithm>
#include <cmath>

#include "fingerprint/matcher.h"

namespace vantera {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Minutiae of several placements taken for one.
struct Cluster {
  double sum_x = 0;
  double sum_y = 0;
  double sum_cos = 0;
  double sum_sin = 0;
  int quality_sum = 0;
  int seen = 0;
  MinutiaType type = MinutiaType::kEnding;
  double x() const { return sum_x / seen; }
  double y() const { return sum_y / seen; }
  double angle() const { return std::atan2(sum_sin, sum_cos) * 180.0 / kPi; }
  void Add(double x, double y, double angle_degrees, int quality) {
    sum_x += x;
    sum_y += y;
    sum_cos += std::cos(angle_degrees * kPi / 180.0);
    sum_sin += std::sin(angle_degrees * kPi / 180.0);
    quality_sum += quality;
    ++seen;
  }
};

double AngleGap(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

void AddPlacement(std::vector<Cluster>& clusters, const Minutiae& placement, const Alignment& al,
                  bool first) {
  double rad = al.turn_degrees * kPi / 180.0;
  double c = std::cos(rad);
  double s = std::sin(rad);
  const double cx = kSensorWidth / 2.0;
  const double cy = kSensorHeight / 2.0;
  // Clusters made by this placement are not joined again by it.
  size_t before = clusters.size();
  std::vector<bool> taken(before, false);
  for (const Minutia& m : placement) {
    double px = m.x - cx;
    double py = m.y - cy;
    double x = c * px - s * py + cx + al.shift_x;
    double y = s * px + c * py + cy + al.shift_y;
    double angle = m.angle + al.turn_degrees;
    size_t found = before;
    double best = kPairDistance * kPairDistance;
    for (size_t i = 0; i < before && !first; ++i) {
      const Cluster& cl = clusters[i];
      if (taken[i] || cl.type != m.type)
        continue;
      double dx = cl.x() - x;
      double dy = cl.y() - y;
      double d2 = dx * dx + dy * dy;
      if (d2 < best && AngleGap(cl.angle(), angle) <= kPairAngle) {
        best = d2;
        found = i;
      }
    }
    if (found == before) {
      Cluster cl;
      cl.type = m.type;
      cl.Add(x, y, angle, m.quality);
      clusters.push_back(cl);
    } else {
      clusters[found].Add(x, y, angle, m.quality);
      taken[found] = true;
    }
  }
}

}  // namespace

Minutiae CombinePlacements(const std::vector<Minutiae>& placements) {
  if (placements.empty())
    return {};
  if (placements.size() == 1)
    return placements.front();
  std::vector<Cluster> clusters;
  AddPlacement(clusters, placements.front(), Alignment{}, true);
  for (size_t i = 1; i < placements.size(); ++i) {
    MatchResult r = MatchMinutiae(placements[i], placements.front());
    if (r.same)
      AddPlacement(clusters, placements[i], r.alignment, false);
  }
  std::stable_sort(clusters.begin(), clusters.end(),
                   [](const Cluster& l, const Cluster& r) { return l.seen > r.seen; });
  Minutiae combined;
  for (const Cluster& cl : clusters) {
    if (cl.seen < 2 || combined.size() >= kMaxCombined)
      break;
    double x = std::round(cl.x());
    double y = std::round(cl.y());
    if (x < kCoordMin || x > kCoordMax || y < kCoordMin || y > kCoordMax)
      continue;
    Minutia m;
    m.x = static_cast<int16_t>(x);
    m.y = static_cast<int16_t>(y);
    int angle = static_cast<int>(std::lround(cl.angle())) % 360;
    m.angle = static_cast<uint16_t>(angle < 0 ? angle + 360 : angle);
    m.type = cl.type;
    m.quality = static_cast<uint8_t>(std::min(100, cl.quality_sum / cl.seen + 10 * cl.seen));
    combined.push_back(m);
  }
  if (combined.size() < kMinCombined)
    return placements.front();
  return combined;
}

}  // namespace vantera
