// The sealed envelope: the payload of every message of the encrypted tunnel, both ways.
//
//   offset size content                                                   enciphered
//   ------ ---- --------------------------------------------------------- ----------
//        0    4 initial value, word A                                     no
//        4    4 initial value, word B                                     no
//        8    8 MAC, two words                                            no
//       16    4 message id of the real message (0: the credentials)       yes
//       20    4 towards the server: time-out in ms; back: error code      yes
//       24    4 payload length n                                          yes
//       28    n payload                                                   yes
//   28 + n 0..7 padding to a multiple of 8 (zeros when we send)           yes
//
// All integers little-endian; the whole envelope is ((n + 35) / 8) * 8 bytes. The sender
// draws a fresh initial value, enciphers bytes 16 to the end and stores the MAC at offset 8.
// The receiver takes an envelope only when it is at least 28 bytes and a multiple of 8,
// deciphers it under the sender's initial value, finds the same MAC, and the announced n
// fits in what arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/coding.h"
#include "protocol/nxllBlowfishRC4.h"

namespace vantera {

// Message ids of the tunnel on the inner transport.
inline constexpr uint32_t kTunnelRequestId = 0xFFFF;  // a sealed request
inline constexpr uint32_t kTunnelPostId = 0xFFFE;     // a sealed post

struct SealedEnvelope {
  static constexpr size_t kHeaderSize = 28;
  static constexpr size_t kClearSize = 16;  // initial value and MAC

  // Envelope length for a payload of n bytes.
  static constexpr size_t LengthFor(size_t n) { return ((n + 35) / 8) * 8; }
};

// What an opened envelope holds. `payload` points into the caller's (deciphered) buffer.
struct OpenedEnvelope {
  CipherWords iv;
  uint32_t messageId = 0;
  uint32_t word = 0;  // time-out towards the server, error code back
  std::string_view payload;
};

enum class EnvelopeCheck { Ok, BadLength, BadMac, BadPayloadLength };

// Seals one message with `cipher` (keyed with the tunnel key; the caller owns it for the
// call). Throws std::length_error for a payload beyond 4 GiB - 36.
Bytes SealEnvelope(TnxBlowFishRC4& cipher, uint32_t messageId, uint32_t word,
                   std::string_view payload);

// Opens `envelope` in place (it is deciphered in `buffer`, which the caller owns): on Ok
// `out` describes it, its payload a view into `buffer`. Nothing is read outside `buffer`.
EnvelopeCheck OpenEnvelope(TnxBlowFishRC4& cipher, std::string_view envelope, Bytes& buffer,
                           OpenedEnvelope& out);

// "length", "MAC", "payload length" for log lines.
const char* EnvelopeCheckName(EnvelopeCheck check);

}  // namespace vantera
