// Arbitrary images into the extractor: the first four bytes give the width and height
// (each 0..1023 after masking, so sizes out of range are tried too), the rest are the
// pixels, repeated to fill the image. A size out of range must raise EImageError; any
// other image must give minutiae inside it with fields in range. Nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fingerprint/image/minutia_extract.h"

using namespace vantera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5)
    return 0;
  int w = (data[0] | (data[1] << 8)) & 0x3FF;
  int h = (data[2] | (data[3] << 8)) & 0x3FF;
  // Large images are slow to extract and add nothing the fuzzer needs: keep them small.
  if (w > 400 || h > 400)
    return 0;
  GreyImage image;
  image.width = w;
  image.height = h;
  image.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (size_t i = 0; i < image.pixels.size(); ++i)
    image.pixels[i] = data[4 + i % (size - 4)];
  bool in_range = w >= kMinImageSide && h >= kMinImageSide;
  try {
    Extraction e = ExtractMinutiae(image);
    if (!in_range)
      std::abort();
    for (const Minutia& m : e.minutiae)
      if (m.x < 0 || m.y < 0 || m.x >= w || m.y >= h || m.angle >= 360 || m.quality > 100 ||
          (m.type != MinutiaType::kEnding && m.type != MinutiaType::kBifurcation))
        std::abort();
  } catch (const EImageError&) {
    if (in_range)
      std::abort();
  }
  return 0;
}
