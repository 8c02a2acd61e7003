// Twofish block cipher: 128-bit blocks, keys of 1 to 32 bytes (up to 256 bits).
//
// A key shorter than 16, 24 or 32 bytes is padded with zero bytes to the next of these
// lengths, as the cipher's definition prescribes; a 20-byte (160-bit) key thus runs the
// 192-bit schedule. Key set-up builds the full key-dependent tables (S-boxes combined with
// the MDS matrix, 4 KiB) so that each round costs eight table look-ups.
//
// Only the encryption direction is provided: cipher feedback, the one mode the system
// uses, never runs the block cipher backwards. Blocks are read and written as four
// little-endian 32-bit words.
//
// The object holds nothing but the expanded key; Wipe() overwrites it with zero bytes.
// Not thread-safe while the key is being set; EncryptBlock is const.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantera {

class Twofish {
 public:
  static constexpr std::size_t kBlockSize = 16;
  static constexpr std::size_t kMaxKeySize = 32;

  Twofish() = default;  // no key: every table zero
  ~Twofish() { Wipe(); }
  Twofish(const Twofish&) = delete;
  Twofish& operator=(const Twofish&) = delete;

  // Expands key (1 to 32 bytes). Throws std::invalid_argument for any other length.
  void SetKey(std::span<const uint8_t> key);

  // Encrypts one 16-byte block; in and out may be the same buffer.
  void EncryptBlock(const uint8_t* in, uint8_t* out) const;

  // Overwrites the subkeys and tables with zero bytes.
  void Wipe();

 private:
  uint32_t subkeys_[40] = {};
  uint32_t sbox_[4][256] = {};  // g() of byte j: MDS column j times the keyed S-box j
};

}  // namespace vantera
