#include "bench/accuracy/image_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef VANTERA_ACCURACY_QT
#include <QImage>
#include <QString>
#endif

namespace vantera {
namespace {

bool ParseName(const std::string& stem, int* finger, int* impression) {
  size_t cut = stem.find('_');
  if (cut == std::string::npos || cut == 0 || cut + 1 >= stem.size())
    return false;
  auto digits = [](const std::string& s) {
    return !s.empty() && s.size() < 7 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
  };
  std::string f = stem.substr(0, cut), i = stem.substr(cut + 1);
  if (!digits(f) || !digits(i))
    return false;
  *finger = std::stoi(f) - 1;
  *impression = std::stoi(i) - 1;
  return *finger >= 0 && *impression >= 0 && *impression < 64;
}

// Binary PGM (P5) with a maximum of 255.
bool LoadPgm(const std::string& path, GreyImage* image, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream head(bytes);
  std::string magic;
  int w = 0, h = 0, max = 0;
  head >> magic;
  auto next = [&head](int* v) {
    head >> std::ws;
    while (head.peek() == '#') {
      std::string comment;
      std::getline(head, comment);
      head >> std::ws;
    }
    head >> *v;
  };
  next(&w);
  next(&h);
  next(&max);
  if (magic != "P5" || !head || max != 255 || w <= 0 || h <= 0 || w > 4096 || h > 4096) {
    *why = "not an 8-bit binary PGM";
    return false;
  }
  head.get();
  size_t at = static_cast<size_t>(head.tellg());
  size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  if (bytes.size() < at + n) {
    *why = "PGM shorter than its size";
    return false;
  }
  *image = GreyImage(w, h);
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, image->pixels.begin());
  return true;
}

}  // namespace

std::vector<ImageFile> ImageFilesOf(const std::string& dir) {
  std::vector<ImageFile> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext != ".pgm" && ext != ".png" && ext != ".tif" && ext != ".tiff" && ext != ".bmp")
      continue;
    ImageFile f;
    if (!ParseName(entry.path().stem().string(), &f.finger, &f.impression))
      continue;
    f.path = entry.path().string();
    files.push_back(f);
  }
  std::sort(files.begin(), files.end(), [](const ImageFile& a, const ImageFile& b) {
    return a.finger != b.finger ? a.finger < b.finger : a.impression < b.impression;
  });
  return files;
}

bool LoadGreyImage(const std::string& path, GreyImage* image, std::string* why) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".pgm")
    return LoadPgm(path, image, why);
#ifdef VANTERA_ACCURACY_QT
  QImage q(QString::fromStdString(path));
  if (q.isNull()) {
    *why = "cannot read the image";
    return false;
  }
  q = q.convertToFormat(QImage::Format_Grayscale8);
  *image = GreyImage(q.width(), q.height());
  for (int y = 0; y < q.height(); ++y)
    std::copy_n(q.constScanLine(y), q.width(),
                image->pixels.begin() + static_cast<std::ptrdiff_t>(y) * q.width());
  return true;
#else
  *why = "only PGM images can be read in this build";
  return false;
#endif
}

}  // namespace vantera
