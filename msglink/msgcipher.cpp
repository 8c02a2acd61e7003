#include "msglink/msgcipher.h"

#include <cstring>

#include "msglink/base64.h"
#include "msglink/secure_wipe.h"
#include "msglink/sha1.h"

namespace vantera {

Chipper::Chipper() {
  SecureFill(iv_, sizeof iv_, 0xFF);
  SecureFill(cv_, sizeof cv_, 0xFF);
}

Chipper::~Chipper() {
  WipeKey();
}

void Chipper::SetKeyText(std::string_view text) {
  if (key_set_)
    WipeKey();
  uint8_t digest[Sha1::kDigestSize];
  {
    Sha1 sha;
    sha.Update(text);
    sha.Finish(digest);
  }
  cipher_.SetKey(digest);
  SecureFill(digest, sizeof digest, 0xFF);

  std::memset(iv_, 0, sizeof iv_);
  cipher_.EncryptBlock(iv_, iv_);
  std::memcpy(cv_, iv_, sizeof cv_);
  key_set_ = true;
}

void Chipper::ResetFeedback() {
  CheckKey();
  std::memcpy(cv_, iv_, sizeof cv_);
}

void Chipper::CheckKey() const {
  if (!key_set_)
    throw ECipherError("Cipher not initialized");
}

uint8_t Chipper::NextKeystreamByte() {
  cipher_.EncryptBlock(cv_, keystream_);
  return keystream_[0];
}

void Chipper::Feed(uint8_t cipher_byte) {
  std::memmove(cv_, cv_ + 1, sizeof cv_ - 1);
  cv_[sizeof cv_ - 1] = cipher_byte;
}

std::string Chipper::EncryptLine(std::string_view plain) {
  CheckKey();
  std::string bytes(plain);
  for (char& ch : bytes) {
    uint8_t c = static_cast<uint8_t>(static_cast<uint8_t>(ch) ^ NextKeystreamByte());
    Feed(c);
    ch = static_cast<char>(c);
  }
  return Base64Encode(bytes);
}

std::string Chipper::DecryptLine(std::string_view wire) {
  CheckKey();
  std::string bytes = Base64Decode(wire);
  for (char& ch : bytes) {
    uint8_t c = static_cast<uint8_t>(ch);
    ch = static_cast<char>(c ^ NextKeystreamByte());
    Feed(c);
  }
  return bytes;
}

void Chipper::WipeKey() {
  cipher_.Wipe();
  SecureFill(iv_, sizeof iv_, 0xFF);
  SecureFill(cv_, sizeof cv_, 0xFF);
  SecureZero(keystream_, sizeof keystream_);
  key_set_ = false;
}

}  // namespace vantera
