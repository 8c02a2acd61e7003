// The login block: the payload of mkOpenSession, 536 bytes.
//
//   offset size content
//   ------ ---- ---------------------------------------------------------------
//        0  256 user name: 1 length byte, up to 255 characters, zero padding
//      256  256 password, same form
//      512    4 session time-out in ms
//      516    4 client version number (10800)
//      520    8 initial value of the login cipher: two words          (clear)
//      528    8 MAC of the enciphered bytes: two words                (clear)
//
// Bytes 0 to 519 travel enciphered with the login cipher (the built-in key of
// login_key.h): the sender draws a new initial value, enciphers 520 bytes and appends
// the MAC; the receiver sets the initial value, deciphers and compares the MAC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/coding.h"

namespace vantera {

class TnxBlowFishRC4;

struct LoginBlock {
  static constexpr size_t kSize = 536;
  static constexpr size_t kEnciphered = 520;
  static constexpr uint32_t kClientVersion = 10800;

  std::string userName;  // cut to 255 characters when encoded
  std::string password;  // cut to 255 characters when encoded
  uint32_t timeout = 0;
  uint32_t clientVersion = kClientVersion;
  uint32_t ivA = 0, ivB = 0;
  uint32_t mac0 = 0, mac1 = 0;

  // The 536 bytes with the first 520 in clear.
  Bytes Encode() const;
  // Parses 536 clear bytes; throws DecodeError for any other size.
  static LoginBlock Decode(std::string_view bytes);
};

// Builds the enciphered login block with `cipher` (keyed with the login key; the caller
// holds its lock).
Bytes SealLoginBlock(TnxBlowFishRC4& cipher, std::string_view userName, std::string_view password,
                     uint32_t timeout);

enum class LoginBlockCheck { Ok, WrongSize, BadMac };

// Deciphers a received login block with `cipher` (caller holds its lock). On Ok `block`
// holds the clear fields.
LoginBlockCheck OpenLoginBlock(TnxBlowFishRC4& cipher, std::string_view payload, LoginBlock& block);

}  // namespace vantera
