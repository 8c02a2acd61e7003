// TnxBlowFishRC4: the cipher of the database protocol.
//
// A Blowfish variant (nxllBlowfishCore.h) in cipher-block chaining, each ciphertext block
// further XORed with an RC4 keystream that is re-keyed for every message from an 8-byte
// initial value, and an 8-byte MAC over the plaintext at the end. Both ends must produce
// the same bytes, so every byte order below is part of the wire format. Words are 32-bit
// little-endian: an 8-byte block is two words, the first four bytes the left word.
//
// One message is: NewIV (sender) or SetIV (receiver); Encrypt or Decrypt, in one or more
// pieces of multiples of 8 bytes; MAC. The receiver compares its MAC with the sender's.
//
// Costs: key construction runs 521 block encryptions, so objects are kept and reused;
// starting a message costs 32 block encryptions and one 256-byte RC4 key schedule.
//
// Thread safety: an object carries per-message state and serves one message at a time;
// callers hold a lock or keep a private object. EncryptBlock and DecryptBlock only read
// and may run concurrently. The process-wide IV generator is safe from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/nxllBlowfishCore.h"
#include "protocol/nxllRC4.h"

namespace vantera {

// Two 32-bit words: an initial value or a MAC.
struct CipherWords {
  uint32_t w0 = 0;
  uint32_t w1 = 0;
  bool operator==(const CipherWords&) const = default;
};

class TnxBlowFishRC4 {
 public:
  // Any bytes; an empty key is allowed (see KeyText).
  explicit TnxBlowFishRC4(std::string_view key);
  // Overwrites the tables, the whitening words and both RC4 permutations with zeros.
  ~TnxBlowFishRC4();
  TnxBlowFishRC4(const TnxBlowFishRC4&) = delete;
  TnxBlowFishRC4& operator=(const TnxBlowFishRC4&) = delete;

  // The Blowfish key text: the key, or a single blank when the key is empty.
  const std::string& KeyText() const { return key_text_; }

  void EncryptBlock(uint32_t& left, uint32_t& right) const { blowfish_.EncryptBlock(left, right); }
  void DecryptBlock(uint32_t& left, uint32_t& right) const { blowfish_.DecryptBlock(left, right); }

  // Receiver: starts a message with the sender's initial value.
  void SetIV(uint32_t a, uint32_t b);
  void SetIV(CipherWords iv) { SetIV(iv.w0, iv.w1); }
  // Sender: starts a message with a fresh initial value from the IV generator and returns it.
  CipherWords NewIV();

  // In place. `count` must be a multiple of 8 (else EnxBaseException 9986, nothing done).
  void Encrypt(void* buffer, size_t count);
  void Decrypt(void* buffer, size_t count);

  // The message's check value; ends the message.
  CipherWords MAC();
  bool Finalised() const { return finalised_; }

  // Four keystream bytes, the first least significant.
  uint32_t RC4Word() { return rc4_.NextWord(); }

 private:
  void CheckCount(size_t count) const;

  std::string key_text_;
  BlowfishCore<kProtocolBlowfish> blowfish_;
  TnxRC4 rc4_;
  uint32_t c0_ = 0, c1_ = 0;  // chain: the previous ciphertext block
  uint32_t x0_ = 0, x1_ = 0;  // XOR of the message's plaintext words
  uint32_t w1_ = 0, w2_ = 0;  // whitening words drawn when the message started
  bool finalised_ = false;
};

// Holds one lazily created IV generator. The process uses one (nxIVGenerator); tests make
// their own to watch creation.
class IVGeneratorSlot {
 public:
  IVGeneratorSlot() = default;
  ~IVGeneratorSlot();
  IVGeneratorSlot(const IVGeneratorSlot&) = delete;
  IVGeneratorSlot& operator=(const IVGeneratorSlot&) = delete;

  // Creates the generator on first use without a lock: threads that race each build one,
  // one result is kept and every caller gets that one.
  const TnxBlowFishRC4& Get();

 private:
  std::atomic<TnxBlowFishRC4*> generator_{nullptr};
};

// Builds a generator: 256 rounds of mixing the clock into four words through scratch
// ciphers keyed with the performance counter; the generator is keyed with the four words.
std::unique_ptr<TnxBlowFishRC4> nxCreateIVGenerator();

// The process-wide IV generator. Only its EncryptBlock is used.
const TnxBlowFishRC4& nxIVGenerator();

// The performance counter behind NewIV: steady-clock nanoseconds, strictly increasing
// across all threads so that two calls never feed the generator the same number.
uint64_t nxPerformanceCounter();

}  // namespace vantera
