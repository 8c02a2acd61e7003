// The line cipher of the message-server link: Twofish in 8-bit cipher feedback under a key
// derived from a fixed text, with the cipher bytes carried as Base64 text.
//
// Per line, the caller runs: SetKeyText(kMessageKey); EncryptLine(plain) or
// DecryptLine(wire); WipeKey(). Every line therefore starts from the same feedback
// register: equal lines give equal wire texts, and a lost or damaged line leaves the next
// one untouched.
//
// States:
//   no key  --SetKeyText-->  key set  --WipeKey-->  no key
// EncryptLine and DecryptLine need a key set and advance the feedback register; without a
// key they throw ECipherError("Cipher not initialized").
//
// Key set-up: digest := SHA-1(text); Twofish key := the 20 digest bytes (160 bits, padded
// with zero bits to 192 by the key schedule); IV := Twofish(16 zero bytes); CV := IV. The
// digest buffer is overwritten with 0xFF bytes afterwards.
//
// Cipher feedback, per byte: T := Twofish(CV); out := in XOR T[0]; CV := CV[1..15] followed
// by the cipher byte. No padding: the cipher text is as long as the plain text.
//
// Not thread-safe: one object per thread (the workstation has one, on the GUI thread).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "msglink/twofish.h"

namespace vantera {

// Raised by EncryptLine and DecryptLine when no key is set.
class ECipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Chipper {
 public:
  Chipper();
  ~Chipper();  // wipes the key
  Chipper(const Chipper&) = delete;
  Chipper& operator=(const Chipper&) = delete;

  // Derives the key from the bytes of text (any length) and resets the feedback register.
  // A key already set is wiped first.
  void SetKeyText(std::string_view text);

  // Enciphers the bytes of plain and returns their Base64 text: 4 * ceil(n / 3) characters.
  std::string EncryptLine(std::string_view plain);

  // Decodes the Base64 text wire (see base64.h for how any text decodes) and deciphers the
  // bytes. Never fails on the text itself; a text that is not an enciphered line gives
  // meaningless bytes.
  std::string DecryptLine(std::string_view wire);

  // Sets the feedback register back to the IV, as SetKeyText leaves it, without deriving
  // the key again: a server that deciphers many lines under the one fixed key keeps it set
  // and starts each line from here. Needs a key set (else ECipherError).
  void ResetFeedback();

  // Overwrites the key schedule with zero bytes, fills IV and CV with 0xFF bytes and marks
  // the cipher as having no key.
  void WipeKey();

  bool HasKey() const { return key_set_; }

 private:
  void CheckKey() const;
  uint8_t NextKeystreamByte();
  void Feed(uint8_t cipher_byte);

  Twofish cipher_;
  uint8_t iv_[Twofish::kBlockSize];
  uint8_t cv_[Twofish::kBlockSize];
  uint8_t keystream_[Twofish::kBlockSize] = {};  // the latest encryption of CV
  bool key_set_ = false;
};

}  // namespace vantera
