// SHA-1 (FIPS 180-4): 160-bit digest of a byte string.
//
// Used to derive the message cipher's key from the message key text. The object holds the
// running state and the unprocessed tail of the input; both are wiped when it is destroyed
// or finished, since they carry key-derivation material.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantera {

class Sha1 {
 public:
  static constexpr std::size_t kDigestSize = 20;
  using Digest = std::array<uint8_t, kDigestSize>;

  Sha1() { Reset(); }
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  void Reset();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Pads, writes the digest to out and resets the object for a new message.
  void Finish(uint8_t (&out)[kDigestSize]);
  Digest Finish();

  // One-shot digest of bytes.
  static Digest Of(std::string_view bytes);

 private:
  void Compress(const uint8_t* block);

  uint32_t h_[5];
  uint8_t block_[64];
  std::size_t used_;  // bytes waiting in block_
  uint64_t total_;    // message length in bytes so far
};

}  // namespace vantera
