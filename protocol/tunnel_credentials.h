// The credentials message of the encrypted tunnel: the payload of the first sealed request
// of a tunnel session (envelope message id 0). A tagged stream of four values:
//
//   Str  user name of the real session
//   Str  its password
//   Int  session time-out in ms
//   Int  client version number (10800)
//
// The server answers with the real session id as exactly 4 payload bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/coding.h"

namespace vantera {

struct TunnelCredentials {
  static constexpr uint32_t kClientVersion = 10800;

  std::string userName;
  std::string password;
  uint32_t timeout = 0;
  uint32_t clientVersion = kClientVersion;

  Bytes Encode() const;
  // Reads exactly the four values; throws DecodeError for anything else (a wrong tag, a
  // value cut off, bytes left over).
  static TunnelCredentials Decode(std::string_view bytes);
};

}  // namespace vantera
