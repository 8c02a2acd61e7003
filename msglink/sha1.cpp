#include "msglink/sha1.h"

#include <cstring>

#include "msglink/secure_wipe.h"

namespace vantera {
namespace {

inline uint32_t Rol(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBig32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void StoreBig32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

Sha1::~Sha1() {
  SecureZero(h_, sizeof h_);
  SecureZero(block_, sizeof block_);
}

void Sha1::Reset() {
  h_[0] = 0x67452301;
  h_[1] = 0xEFCDAB89;
  h_[2] = 0x98BADCFE;
  h_[3] = 0x10325476;
  h_[4] = 0xC3D2E1F0;
  std::memset(block_, 0, sizeof block_);
  used_ = 0;
  total_ = 0;
}

void Sha1::Compress(const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = LoadBig32(block + 4 * i);
  for (int i = 16; i < 80; ++i)
    w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = t;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  SecureZero(w, sizeof w);
}

void Sha1::Update(const void* data, std::size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  total_ += size;
  if (used_ > 0) {
    std::size_t take = sizeof block_ - used_;
    if (take > size)
      take = size;
    std::memcpy(block_ + used_, p, take);
    used_ += take;
    p += take;
    size -= take;
    if (used_ < sizeof block_)
      return;
    Compress(block_);
    used_ = 0;
  }
  for (; size >= sizeof block_; p += sizeof block_, size -= sizeof block_)
    Compress(p);
  if (size > 0) {
    std::memcpy(block_, p, size);
    used_ = size;
  }
}

void Sha1::Finish(uint8_t (&out)[kDigestSize]) {
  const uint64_t bits = total_ * 8;
  block_[used_++] = 0x80;
  if (used_ > 56) {
    std::memset(block_ + used_, 0, sizeof block_ - used_);
    Compress(block_);
    used_ = 0;
  }
  std::memset(block_ + used_, 0, 56 - used_);
  StoreBig32(block_ + 56, static_cast<uint32_t>(bits >> 32));
  StoreBig32(block_ + 60, static_cast<uint32_t>(bits));
  Compress(block_);
  for (int i = 0; i < 5; ++i)
    StoreBig32(out + 4 * i, h_[i]);
  SecureZero(h_, sizeof h_);
  SecureZero(block_, sizeof block_);
  Reset();
}

Sha1::Digest Sha1::Finish() {
  Digest d;
  uint8_t raw[kDigestSize];
  Finish(raw);
  std::memcpy(d.data(), raw, kDigestSize);
  SecureZero(raw, sizeof raw);
  return d;
}

Sha1::Digest Sha1::Of(std::string_view bytes) {
  Sha1 s;
  s.Update(bytes);
  return s.Finish();
}

}  // namespace vantera
