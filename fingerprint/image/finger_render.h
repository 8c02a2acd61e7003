// The finger renderer of the simulated reader: a finger name gives a master print, and each
// placement number gives one impression of it as a reader would deliver it.
//
// Master print (from the name alone):
// 1. A pattern class (arch, tented arch, left loop, right loop, whorl, in about the
//    proportions met in people) places the singular points (cores and deltas).
// 2. The ridge orientation follows from the singular points by the zero-pole model: half
//    the sum of the delta angles minus the core angles, plus a slowly varying perturbation.
// 3. A ridge period map, about 9 pixels between ridges, varies slowly over the finger.
// 4. Ridges grow from a noise seed by repeated orientation- and period-tuned Gabor
//    filtering with saturation: each pass strengthens the ridge-like content of the seed
//    along the field and keeps the defects (endings, bifurcations) of the seed that survive.
//
// Impression (from the name and the placement number):
// turn up to 20 degrees either way and a shift, a smooth elastic distortion of the skin, a
// pressure (ridge thickness), dry and wet patches, grey-level noise and a partial contact
// area. The same name and placement give the same image, byte for byte, on every run.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "fingerprint/image/grey_image.h"

namespace vantera {

// The image of one placement: 352 x 392 pixels at 500 dpi (a desktop optical reader's).
inline constexpr int kImageWidth = 352;
inline constexpr int kImageHeight = 392;

enum class PatternClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };

struct MasterPrint {
  static constexpr int kWidth = 448;
  static constexpr int kHeight = 512;
  PatternClass pattern = PatternClass::kArch;
  std::vector<float> ridges;    // kWidth * kHeight, -1 valley .. +1 ridge
  std::vector<uint8_t> inside;  // 1 on the finger, 0 around it
};

// The pattern class of a name's finger (without rendering it).
PatternClass PatternClassOf(std::string_view name);

// Renders the master print of a name (a few tens of milliseconds).
MasterPrint RenderMaster(std::string_view name);

// The master print of a name from a small process-wide cache (thread-safe).
std::shared_ptr<const MasterPrint> CachedMaster(std::string_view name);

// One impression of a master print; placement numbers the impressions of one finger.
GreyImage RenderImpression(const MasterPrint& master, std::string_view name, uint64_t placement);

// CachedMaster and RenderImpression together.
GreyImage RenderFinger(std::string_view name, uint64_t placement);

}  // namespace vantera
