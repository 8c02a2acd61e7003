// The template extractor: minutiae from an 8-bit grey image of a finger at about 500 dpi,
// whatever reader made it.
//
//  1. Segmentation: blocks of 8 x 8 pixels whose grey-level spread (over 16 x 16 around
//     them) is low are background; holes are filled and lone blocks dropped.
//  2. Orientation: gradient moments per block, smoothed as doubled-angle vectors; their
//     coherence is the block's quality.
//  3. Ridge period per block from the profile across the ridges, smoothed, with the
//     image's median where a block gives none.
//  4. Enhancement: each pixel filtered by the Gabor kernel of its block's orientation and
//     period; binarisation at zero.
//  5. Thinning to one-pixel ridges.
//  6. Crossing number: 1 an ending, 3 a bifurcation.
//  7. False minutiae removed: near the segmentation's border, short spurs and short ridge
//     pieces, bridges and holes (two forks joined by a short branch), broken ridges (two
//     endings facing each other), and crowded clusters.
// Directions are those of the ridge: an ending points out of its ridge end, a bifurcation
// from its stem into the fork. Angles are degrees in the image's own axes (x right, y
// down), the frame the matcher turns minutiae in.
#pragma once

#include <stdexcept>

#include "fingerprint/image/grey_image.h"
#include "fingerprint/minutia.h"

namespace vantera {

// Image sides the extractor takes; smaller or larger images raise EImageError.
inline constexpr int kMinImageSide = 32;
inline constexpr int kMaxImageSide = 1024;

class EImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Extraction {
  Minutiae minutiae;
  int foreground_percent = 0;  // share of the image taken as finger
};

// Throws EImageError when a side is out of range or the pixel count does not fit.
Extraction ExtractMinutiae(const GreyImage& image);

}  // namespace vantera
