#include "fingerprint/image/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fingerprint/fp_template.h"

namespace vantera {
namespace {

void PutBig32(Bytes* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

void Chunk(Bytes* out, const char type[4], const Bytes& data) {
  PutBig32(out, static_cast<uint32_t>(data.size()));
  Bytes body(type, 4);
  body += data;
  out->append(body);
  PutBig32(out, Crc32(body));
}

}  // namespace

Bytes EncodePng(const GreyImage& image) {
  Bytes out("\x89PNG\r\n\x1a\n", 8);
  Bytes header;
  PutBig32(&header, static_cast<uint32_t>(image.width));
  PutBig32(&header, static_cast<uint32_t>(image.height));
  header +=
      std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, deflate, no filter set, no interlace
  Chunk(&out, "IHDR", header);

  // Each row starts with filter byte 0; the rows go in stored blocks of at most 65535 bytes.
  Bytes raw;
  raw.reserve(static_cast<size_t>(image.height) * (static_cast<size_t>(image.width) + 1));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back('\0');
    raw.append(reinterpret_cast<const char*>(&image.pixels[static_cast<size_t>(y) * image.width]),
               static_cast<size_t>(image.width));
  }
  Bytes z("\x78\x01", 2);
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(65535, raw.size() - at);
    bool last = at + n == raw.size();
    z.push_back(last ? '\x01' : '\x00');
    z.push_back(static_cast<char>(n & 0xFF));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFF));
    z.push_back(static_cast<char>((~n >> 8) & 0xFF));
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;  // Adler-32 of the raw bytes
  for (char c : raw) {
    a = (a + static_cast<unsigned char>(c)) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(&z, (b << 16) | a);
  Chunk(&out, "IDAT", z);
  Chunk(&out, "IEND", Bytes());
  return out;
}

bool WritePngFile(const std::string& path, const GreyImage& image, std::string* why) {
  Bytes png = EncodePng(image);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  if (std::fwrite(png.data(), 1, png.size(), file.get()) != png.size()) {
    *why = path + ": write failed";
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace vantera
