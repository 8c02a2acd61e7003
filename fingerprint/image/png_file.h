// Grey images as PNG files, without an image library: 8-bit grey, no interlace, the pixel
// data in stored (uncompressed) deflate blocks. Any PNG reader takes them.
#pragma once

#include <string>

#include "core/coding.h"
#include "fingerprint/image/grey_image.h"

namespace vantera {

Bytes EncodePng(const GreyImage& image);

// Writes the PNG file; false with *why set when it cannot.
bool WritePngFile(const std::string& path, const GreyImage& image, std::string* why);

}  // namespace vantera
