#include "msglink/twofish.h"

#include <array>
#include <cstring>
#include <stdexcept>

#include "core/coding.h"
#include "msglink/secure_wipe.h"

namespace vantera {
namespace {

using Table8 = std::array<uint8_t, 256>;
using Table32 = std::array<uint32_t, 256>;

// The fixed permutations q0 and q1, built from their four 4-bit tables each.
constexpr uint8_t kQt[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

constexpr uint8_t Ror4(uint8_t x) {
  return static_cast<uint8_t>(((x >> 1) | (x << 3)) & 0xF);
}

constexpr Table8 MakeQ(int which) {
  Table8 q{};
  const auto& t = kQt[which];
  for (int x = 0; x < 256; ++x) {
    uint8_t a0 = static_cast<uint8_t>(x >> 4), b0 = static_cast<uint8_t>(x & 0xF);
    uint8_t a1 = a0 ^ b0;
    uint8_t b1 = static_cast<uint8_t>((a0 ^ Ror4(b0) ^ (a0 << 3)) & 0xF);
    uint8_t a2 = t[0][a1], b2 = t[1][b1];
    uint8_t a3 = a2 ^ b2;
    uint8_t b3 = static_cast<uint8_t>((a2 ^ Ror4(b2) ^ (a2 << 3)) & 0xF);
    uint8_t a4 = t[2][a3], b4 = t[3][b3];
    q[static_cast<std::size_t>(x)] = static_cast<uint8_t>((b4 << 4) | a4);
  }
  return q;
}

constexpr Table8 kQ0 = MakeQ(0);
constexpr Table8 kQ1 = MakeQ(1);

// Multiplication in GF(2^8) modulo the given degree-8 polynomial.
constexpr uint8_t GfMul(uint8_t a, uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  for (; b != 0; b >>= 1) {
    if (b & 1)
      r ^= x;
    x <<= 1;
    if (x & 0x100)
      x ^= poly;
  }
  return static_cast<uint8_t>(r);
}

constexpr unsigned kMdsPoly = 0x169;  // x^8 + x^6 + x^5 + x^3 + 1
constexpr unsigned kRsPoly = 0x14D;   // x^8 + x^6 + x^3 + x^2 + 1

constexpr uint8_t kMds[4][4] = {{0x01, 0xEF, 0x5B, 0x5B},
                                {0x5B, 0xEF, 0xEF, 0x01},
                                {0xEF, 0x5B, 0x01, 0xEF},
                                {0xEF, 0x01, 0xEF, 0x5B}};

constexpr uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                               {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                               {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                               {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// kMdsCol[j][b]: the MDS matrix times the vector holding b in place j, as a word.
constexpr std::array<Table32, 4> MakeMdsColumns() {
  std::array<Table32, 4> cols{};
  for (int j = 0; j < 4; ++j)
    for (int b = 0; b < 256; ++b) {
      uint32_t w = 0;
      for (int i = 0; i < 4; ++i)
        w |= static_cast<uint32_t>(GfMul(kMds[i][j], static_cast<uint8_t>(b), kMdsPoly)) << (8 * i);
      cols[static_cast<std::size_t>(j)][static_cast<std::size_t>(b)] = w;
    }
  return cols;
}

constexpr std::array<Table32, 4> kMdsCol = MakeMdsColumns();

inline uint32_t Rol(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}
inline uint32_t Ror(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

inline uint8_t ByteOf(uint32_t w, int j) {
  return static_cast<uint8_t>(w >> (8 * j));
}

// The keyed S-box of byte position j: the q-chain of the function h with the key words
// l[0..k-1] (k = 2, 3 or 4).
inline uint8_t KeyedSbox(int j, uint8_t x, const uint32_t* l, int k) {
  uint8_t y = x;
  switch (j) {
    case 0:
      if (k == 4)
        y = kQ1[y] ^ ByteOf(l[3], 0);
      if (k >= 3)
        y = kQ1[y] ^ ByteOf(l[2], 0);
      return kQ1[kQ0[kQ0[y] ^ ByteOf(l[1], 0)] ^ ByteOf(l[0], 0)];
    case 1:
      if (k == 4)
        y = kQ0[y] ^ ByteOf(l[3], 1);
      if (k >= 3)
        y = kQ1[y] ^ ByteOf(l[2], 1);
      return kQ0[kQ0[kQ1[y] ^ ByteOf(l[1], 1)] ^ ByteOf(l[0], 1)];
    case 2:
      if (k == 4)
        y = kQ0[y] ^ ByteOf(l[3], 2);
      if (k >= 3)
        y = kQ0[y] ^ ByteOf(l[2], 2);
      return kQ1[kQ1[kQ0[y] ^ ByteOf(l[1], 2)] ^ ByteOf(l[0], 2)];
    default:
      if (k == 4)
        y = kQ1[y] ^ ByteOf(l[3], 3);
      if (k >= 3)
        y = kQ0[y] ^ ByteOf(l[2], 3);
      return kQ0[kQ1[kQ1[y] ^ ByteOf(l[1], 3)] ^ ByteOf(l[0], 3)];
  }
}

// The function h of the key schedule: every byte of x through its keyed S-box, then MDS.
inline uint32_t H(uint32_t x, const uint32_t* l, int k) {
  uint32_t z = 0;
  for (int j = 0; j < 4; ++j)
    z ^= kMdsCol[static_cast<std::size_t>(j)][KeyedSbox(j, ByteOf(x, j), l, k)];
  return z;
}

inline uint32_t LoadLittle32(const uint8_t* p) {
  return DecodeFixed32(reinterpret_cast<const char*>(p));
}

}  // namespace

void Twofish::SetKey(std::span<const uint8_t> key) {
  if (key.empty() || key.size() > kMaxKeySize)
    throw std::invalid_argument("Twofish key must have 1 to 32 bytes");
  uint8_t padded[kMaxKeySize] = {};
  std::memcpy(padded, key.data(), key.size());
  const int k = key.size() <= 16 ? 2 : key.size() <= 24 ? 3 : 4;

  uint32_t even[4] = {}, odd[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    even[i] = LoadLittle32(padded + 8 * i);
    odd[i] = LoadLittle32(padded + 8 * i + 4);
    // S-box key word: the Reed-Solomon code of key bytes 8i..8i+7, stored in reverse order.
    uint32_t w = 0;
    for (int r = 0; r < 4; ++r) {
      uint8_t v = 0;
      for (int c = 0; c < 8; ++c)
        v ^= GfMul(kRs[r][c], padded[8 * i + c], kRsPoly);
      w |= static_cast<uint32_t>(v) << (8 * r);
    }
    s[k - 1 - i] = w;
  }

  constexpr uint32_t kRho = 0x01010101;
  for (uint32_t i = 0; i < 20; ++i) {
    uint32_t a = H(2 * i * kRho, even, k);
    uint32_t b = Rol(H((2 * i + 1) * kRho, odd, k), 8);
    subkeys_[2 * i] = a + b;
    subkeys_[2 * i + 1] = Rol(a + 2 * b, 9);
  }
  for (int j = 0; j < 4; ++j)
    for (int x = 0; x < 256; ++x)
      sbox_[j][x] =
          kMdsCol[static_cast<std::size_t>(j)][KeyedSbox(j, static_cast<uint8_t>(x), s, k)];

  SecureZero(padded, sizeof padded);
  SecureZero(even, sizeof even);
  SecureZero(odd, sizeof odd);
  SecureZero(s, sizeof s);
}

void Twofish::EncryptBlock(const uint8_t* in, uint8_t* out) const {
  const uint32_t(&t)[4][256] = sbox_;
  auto g0 = [&t](uint32_t x) {
    return t[0][x & 0xFF] ^ t[1][(x >> 8) & 0xFF] ^ t[2][(x >> 16) & 0xFF] ^ t[3][x >> 24];
  };
  // g of the word rotated left by 8, without the rotation.
  auto g1 = [&t](uint32_t x) {
    return t[0][x >> 24] ^ t[1][x & 0xFF] ^ t[2][(x >> 8) & 0xFF] ^ t[3][(x >> 16) & 0xFF];
  };
  const uint32_t* k = subkeys_;
  uint32_t x0 = LoadLittle32(in) ^ k[0];
  uint32_t x1 = LoadLittle32(in + 4) ^ k[1];
  uint32_t x2 = LoadLittle32(in + 8) ^ k[2];
  uint32_t x3 = LoadLittle32(in + 12) ^ k[3];
  for (int r = 0; r < 16; r += 2) {
    const uint32_t* rk = k + 8 + 2 * r;
    uint32_t t0 = g0(x0), t1 = g1(x1);
    x2 = Ror(x2 ^ (t0 + t1 + rk[0]), 1);
    x3 = Rol(x3, 1) ^ (t0 + 2 * t1 + rk[1]);
    t0 = g0(x2);
    t1 = g1(x3);
    x0 = Ror(x0 ^ (t0 + t1 + rk[2]), 1);
    x1 = Rol(x1, 1) ^ (t0 + 2 * t1 + rk[3]);
  }
  char* o = reinterpret_cast<char*>(out);
  EncodeFixed32(o, x2 ^ k[4]);
  EncodeFixed32(o + 4, x3 ^ k[5]);
  EncodeFixed32(o + 8, x0 ^ k[6]);
  EncodeFixed32(o + 12, x1 ^ k[7]);
}

void Twofish::Wipe() {
  SecureZero(subkeys_, sizeof subkeys_);
  SecureZero(sbox_, sizeof sbox_);
}

}  // namespace vantera
