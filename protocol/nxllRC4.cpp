#include "protocol/nxllRC4.h"

#include <cstring>

#include "protocol/nxllSecureZero.h"

namespace vantera {
namespace {

void Schedule(uint8_t (&s)[256], const unsigned char* key, size_t key_len) {
  uint8_t j = 0;
  for (size_t m = 0; m < 256; ++m) {
    j = static_cast<uint8_t>(j + s[m] + key[m % key_len]);
    const uint8_t t = s[m];
    s[m] = s[j];
    s[j] = t;
  }
}

}  // namespace

TnxRC4::TnxRC4() {
  SetBaseKey(nullptr, 0);
}

TnxRC4::~TnxRC4() {
  Wipe();
}

void TnxRC4::SetBaseKey(const unsigned char* key, size_t key_len) {
  for (size_t m = 0; m < 256; ++m)
    base_[m] = static_cast<uint8_t>(m);
  if (key_len > 0)
    Schedule(base_, key, key_len < 256 ? key_len : 256);
  std::memcpy(s_, base_, sizeof s_);
  i_ = j_ = 0;
}

void TnxRC4::Rekey(const unsigned char (&key)[256]) {
  std::memcpy(s_, base_, sizeof s_);
  Schedule(s_, key, 256);
  i_ = j_ = 0;
}

void TnxRC4::Crypt(unsigned char* data, size_t size) {
  for (size_t k = 0; k < size; ++k)
    data[k] ^= NextByte();
}

void TnxRC4::Wipe() {
  SecureZero(s_, sizeof s_);
  SecureZero(base_, sizeof base_);
  i_ = j_ = 0;
}

}  // namespace vantera
