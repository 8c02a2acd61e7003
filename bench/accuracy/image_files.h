// The images of a fingerprint database folder in the competitions' layout: F_I.ext, F the
// finger and I the impression (both from 1), ext pgm, png, tif or tiff.
#pragma once

#include <string>
#include <vector>

#include "fingerprint/image/grey_image.h"

namespace vantera {

struct ImageFile {
  std::string path;
  int finger = 0;      // from 0
  int impression = 0;  // from 0
};

// The folder's images in order of finger and impression; other files are passed over.
std::vector<ImageFile> ImageFilesOf(const std::string& dir);

// Reads an 8-bit grey image (binary PGM always; PNG and TIFF where Qt's image reader is
// built in). False with *why set when it cannot.
bool LoadGreyImage(const std::string& path, GreyImage* image, std::string* why);

}  // namespace vantera
