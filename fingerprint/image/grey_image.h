// An 8-bit grey-scale image as a reader delivers it: one byte per pixel, rows top to
// bottom, 0 black (ridge) to 255 white (background). Resolution 500 dots per inch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantera {

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height bytes

  GreyImage() = default;
  GreyImage(int w, int h, uint8_t fill = 255)
      : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
  bool empty() const { return width <= 0 || height <= 0; }
  uint8_t at(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  uint8_t& at(int x, int y) {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  friend bool operator==(const GreyImage&, const GreyImage&) = default;
};

}  // namespace vantera
