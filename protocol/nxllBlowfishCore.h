// The Blowfish block cipher in the two forms this code base needs.
//
// The protocol's cipher departs from the published Blowfish in two byte orders:
//  - key packing: each P-array word takes four key bytes with the FIRST byte LEAST
//    significant (the published schedule puts it most significant);
//  - round function: S-box 0 is indexed by the LEAST significant byte of the half-block,
//    S-box 3 by the most significant (the published F does the opposite):
//      F(x) = ((S0[x & 0xFF] + S1[(x >> 8) & 0xFF]) ^ S2[(x >> 16) & 0xFF]) + S3[x >> 24]
// Everything else (initial values from pi, 16 rounds, the schedule that encrypts the
// zero block 521 times) is the published algorithm. Both byte orders are template
// choices so that the published form, checked against published vectors, runs the very
// same code as the protocol's form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/nxllBlowfishTables.h"
#include "protocol/nxllSecureZero.h"

namespace vantera {

struct BlowfishForm {
  bool little_endian_key;     // key bytes packed first byte least significant
  bool low_byte_first_round;  // S-box 0 indexed by the least significant byte
};

inline constexpr BlowfishForm kPublishedBlowfish{false, false};
inline constexpr BlowfishForm kProtocolBlowfish{true, true};

template <BlowfishForm Form>
class BlowfishCore {
 public:
  // Runs the whole key schedule. `key_len` must be at least 1; any length is accepted,
  // though only the first 72 bytes reach the P-array.
  void SetKey(const unsigned char* key, size_t key_len) {
    std::memcpy(p_, kBlowfishPiP, sizeof p_);
    std::memcpy(s_, kBlowfishPiS, sizeof s_);
    for (size_t m = 0; m < 18; ++m) {
      uint32_t w = 0;
      for (size_t b = 0; b < 4; ++b) {
        uint32_t byte = key[(4 * m + b) % key_len];
        w |= Form.little_endian_key ? byte << (8 * b) : byte << (8 * (3 - b));
      }
      p_[m] ^= w;
    }
    uint32_t l = 0, r = 0;
    for (size_t m = 0; m < 18; m += 2) {
      EncryptBlock(l, r);
      p_[m] = l;
      p_[m + 1] = r;
    }
    for (auto& box : s_) {
      for (size_t e = 0; e < 256; e += 2) {
        EncryptBlock(l, r);
        box[e] = l;
        box[e + 1] = r;
      }
    }
  }

  void EncryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left ^ p_[0];
    uint32_t r = right;
    for (size_t m = 1; m <= 16; m += 2) {
      r ^= F(l) ^ p_[m];
      l ^= F(r) ^ p_[m + 1];
    }
    left = r ^ p_[17];
    right = l;
  }

  void DecryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left ^ p_[17];
    uint32_t r = right;
    for (size_t m = 16; m >= 2; m -= 2) {
      r ^= F(l) ^ p_[m];
      l ^= F(r) ^ p_[m - 1];
    }
    left = r ^ p_[0];
    right = l;
  }

  uint32_t F(uint32_t x) const {
    const uint32_t b0 = x & 0xFF, b1 = (x >> 8) & 0xFF, b2 = (x >> 16) & 0xFF, b3 = x >> 24;
    if constexpr (Form.low_byte_first_round)
      return ((s_[0][b0] + s_[1][b1]) ^ s_[2][b2]) + s_[3][b3];
    else
      return ((s_[0][b3] + s_[1][b2]) ^ s_[2][b1]) + s_[3][b0];
  }

  // Direct access for checks with chosen tables.
  uint32_t (&P())[18] { return p_; }
  uint32_t (&S())[4][256] { return s_; }

  void Wipe() {
    SecureZero(p_, sizeof p_);
    SecureZero(s_, sizeof s_);
  }

 private:
  uint32_t p_[18] = {};
  uint32_t s_[4][256] = {};
};

}  // namespace vantera
