// TnxRC4: the RC4 keystream with a kept base permutation.
//
// The generator is the published RC4. Besides the running permutation it keeps a base
// permutation (the published key schedule run once with the cipher's key), so that each
// message can re-key quickly: Rekey starts from the base instead of the identity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantera {

class TnxRC4 {
 public:
  TnxRC4();
  ~TnxRC4();
  TnxRC4(const TnxRC4&) = delete;
  TnxRC4& operator=(const TnxRC4&) = delete;

  // Base := the published key schedule over `key` repeated to 256 bytes (the identity for
  // an empty key); current := base; i = j = 0. Bytes beyond the 256th do not count.
  void SetBaseKey(const unsigned char* key, size_t key_len);
  // Current := base, then the key-scheduling loop over it with the 256-byte `key`;
  // i = j = 0.
  void Rekey(const unsigned char (&key)[256]);

  uint8_t NextByte() {
    i_ = static_cast<uint8_t>(i_ + 1);
    const uint8_t si = s_[i_];
    j_ = static_cast<uint8_t>(j_ + si);
    const uint8_t sj = s_[j_];
    s_[i_] = sj;
    s_[j_] = si;
    return s_[static_cast<uint8_t>(si + sj)];
  }
  // Four keystream bytes, the first least significant.
  uint32_t NextWord() {
    uint32_t w = NextByte();
    w |= static_cast<uint32_t>(NextByte()) << 8;
    w |= static_cast<uint32_t>(NextByte()) << 16;
    w |= static_cast<uint32_t>(NextByte()) << 24;
    return w;
  }
  // XORs the keystream into `data`.
  void Crypt(unsigned char* data, size_t size);

  const uint8_t* Permutation() const { return s_; }
  const uint8_t* BasePermutation() const { return base_; }

  // Zeroes both permutations and the indices.
  void Wipe();

 private:
  uint8_t s_[256];
  uint8_t base_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace vantera
