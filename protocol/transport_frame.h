// The 32-byte header that precedes every message of the database transport, in both
// directions and on every connection, and the kinds of message it announces.
//
// Layout (all integers little-endian):
//
//   offset size field
//   ------ ---- -----------------------------------------------------------------
//        0    4 transport id          0 in mkOpenTransport; the server's handle after
//        4    4 session id            0 for transport-level kinds
//        8    4 reserved              0; a reply copies it from the request
//       12    4 message id            the caller's id; 1 in mkOpenSession; else 0
//       16    4 total length          32 + payload length
//       20    4 pipe message count    0 over TCP
//       24    2 error code            0 = success
//       26    1 message kind          MessageKind below
//       27    1 compression type      0 = none
//       28    4 uncompressed length   payload length before compression, 0 when plain
//
// This file is the only place where the header becomes bytes; client connections, the
// server's frame handler and the tests all go through EncodeTo/DecodeFrom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/coding.h"

namespace vantera {

enum MessageKind : uint8_t {
  mkRequest = 1,
  mkReply = 2,
  mkPost = 3,
  mkOpenTransport = 10,
  mkTransportAccepted = 11,
  mkAttachConnection = 12,
  mkOpenSession = 20,
  mkSessionOpened = 21,
  mkCloseSession = 22,
  mkOpenCallback = 30,
  mkCallbackOpened = 31,
  mkHeartbeat = 254,
  mkUnsupported = 255,
};

// A readable name for log lines ("mkRequest", or "kind 77" for an unknown value).
std::string_view MessageKindName(uint8_t kind);

struct FrameHeader {
  static constexpr size_t kSize = 32;

  uint32_t transportId = 0;
  uint32_t sessionId = 0;
  uint32_t reserved = 0;
  uint32_t messageId = 0;
  uint32_t totalLength = kSize;
  uint32_t pipeMessageCount = 0;
  uint16_t errorCode = 0;
  uint8_t kind = 0;
  uint8_t compressType = 0;
  uint32_t uncompressedLength = 0;

  // Payload length announced by the header; a total length of 32 or less means none.
  uint32_t PayloadLength() const {
    return totalLength > kSize ? totalLength - static_cast<uint32_t>(kSize) : 0;
  }
  // Sets the total length for a payload of `n` bytes. The caller keeps n below 4 GiB - 32.
  void SetPayloadLength(size_t n) { totalLength = static_cast<uint32_t>(kSize + n); }
  // True when the payload must go through the decompressor: both the uncompressed length
  // and the compression type are set. A length without a type means a plain payload.
  bool IsCompressed() const { return uncompressedLength != 0 && compressType != 0; }

  // Writes exactly kSize bytes to dst.
  void EncodeTo(char* dst) const;
  // Appends kSize bytes.
  void AppendTo(Bytes* dst) const;
  // Reads exactly kSize bytes from src.
  static FrameHeader DecodeFrom(const char* src);
  // Reads the header from the front of `data`; throws DecodeError when it is shorter.
  static FrameHeader DecodeFrom(std::string_view data);

  bool operator==(const FrameHeader&) const = default;
};

}  // namespace vantera
