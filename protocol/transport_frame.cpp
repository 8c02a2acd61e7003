#include "protocol/transport_frame.h"

#include <string>

namespace vantera {

std::string_view MessageKindName(uint8_t kind) {
  switch (kind) {
    case mkRequest:
      return "mkRequest";
    case mkReply:
      return "mkReply";
    case mkPost:
      return "mkPost";
    case mkOpenTransport:
      return "mkOpenTransport";
    case mkTransportAccepted:
      return "mkTransportAccepted";
    case mkAttachConnection:
      return "mkAttachConnection";
    case mkOpenSession:
      return "mkOpenSession";
    case mkSessionOpened:
      return "mkSessionOpened";
    case mkCloseSession:
      return "mkCloseSession";
    case mkOpenCallback:
      return "mkOpenCallback";
    case mkCallbackOpened:
      return "mkCallbackOpened";
    case mkHeartbeat:
      return "mkHeartbeat";
    case mkUnsupported:
      return "mkUnsupported";
    default:
      return "unknown kind";
  }
}

void FrameHeader::EncodeTo(char* dst) const {
  EncodeFixed32(dst + 0, transportId);
  EncodeFixed32(dst + 4, sessionId);
  EncodeFixed32(dst + 8, reserved);
  EncodeFixed32(dst + 12, messageId);
  EncodeFixed32(dst + 16, totalLength);
  EncodeFixed32(dst + 20, pipeMessageCount);
  EncodeFixed16(dst + 24, errorCode);
  dst[26] = static_cast<char>(kind);
  dst[27] = static_cast<char>(compressType);
  EncodeFixed32(dst + 28, uncompressedLength);
}

void FrameHeader::AppendTo(Bytes* dst) const {
  char buf[kSize];
  EncodeTo(buf);
  dst->append(buf, kSize);
}

FrameHeader FrameHeader::DecodeFrom(const char* src) {
  FrameHeader h;
  h.transportId = DecodeFixed32(src + 0);
  h.sessionId = DecodeFixed32(src + 4);
  h.reserved = DecodeFixed32(src + 8);
  h.messageId = DecodeFixed32(src + 12);
  h.totalLength = DecodeFixed32(src + 16);
  h.pipeMessageCount = DecodeFixed32(src + 20);
  h.errorCode = DecodeFixed16(src + 24);
  h.kind = static_cast<uint8_t>(src[26]);
  h.compressType = static_cast<uint8_t>(src[27]);
  h.uncompressedLength = DecodeFixed32(src + 28);
  return h;
}

FrameHeader FrameHeader::DecodeFrom(std::string_view data) {
  if (data.size() < kSize) {
    throw DecodeError("frame header needs 32 bytes, " + std::to_string(data.size()) + " available");
  }
  return DecodeFrom(data.data());
}

}  // namespace vantera
