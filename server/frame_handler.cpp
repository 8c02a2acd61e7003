#include "server/frame_handler.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/tunnel_account.h"

namespace vantera {

namespace {

constexpr size_t kPayloadReserve = 64 * 1024;

// The wire carries 16 bits of error code; a code beyond that cannot be told apart and is
// reported as an unexpected failure.
uint16_t WireCode(uint32_t code) {
  return code <= 0xFFFF ? static_cast<uint16_t>(code)
                        : static_cast<uint16_t>(nxcode::kUnexpectedException);
}

std::string Describe(const FrameHeader& h) {
  return std::string(MessageKindName(h.kind)) + " (kind " + std::to_string(h.kind) +
         ", transport " + std::to_string(h.transportId) + ", session " +
         std::to_string(h.sessionId) + ", message " + std::to_string(h.messageId) + ", length " +
         std::to_string(h.totalLength) + ")";
}

}  // namespace

LoginChecker::LoginChecker()
    : cipher_(std::make_unique<TnxBlowFishRC4>(std::string(kLoginCipherKey))) {}

LoginChecker::~LoginChecker() = default;

LoginBlockCheck LoginChecker::Open(std::string_view payload, LoginBlock& block) {
  std::lock_guard<std::mutex> lock(mutex_);
  return OpenLoginBlock(*cipher_, payload, block);
}

FrameHandler::FrameHandler(ServerContext& context, uint64_t connectionNumber, bool plainSessions)
    : ctx_(context), number_(connectionNumber), plain_sessions_(plainSessions) {}

FrameHandler::~FrameHandler() {
  if (Handshaken())
    ctx_.registry.RemoveConnection(transport_id_);
}

void FrameHandler::Log(const std::string& line) const {
  ctx_.log.Line("connection " + std::to_string(number_) + ": " + line);
}

FrameHandler::Result FrameHandler::Consume(const char* data, size_t length, Bytes& out) {
  while (length > 0) {
    if (!in_payload_) {
      if (header_have_ == 0)
        ++frames_begun_;
      size_t take = std::min(FrameHeader::kSize - header_have_, length);
      std::memcpy(header_buf_ + header_have_, data, take);
      header_have_ += take;
      data += take;
      length -= take;
      if (header_have_ < FrameHeader::kSize)
        break;
      header_have_ = 0;
      header_ = FrameHeader::DecodeFrom(header_buf_);
      if (header_.totalLength < FrameHeader::kSize) {
        Log("total length " + std::to_string(header_.totalLength) + " below 32; connection closed");
        return Result::Close;
      }
      if (header_.totalLength > ctx_.maxFrameLength) {
        Log("total length " + std::to_string(header_.totalLength) + " above the maximum " +
            std::to_string(ctx_.maxFrameLength) + "; connection closed");
        return Result::Close;
      }
      if (header_.PayloadLength() > kPayloadReserve && !MayCarryLargePayload(header_)) {
        // Only requests and posts of an open session carry large payloads: any other
        // large frame would only make the server buffer bytes for nobody.
        Log("payload of " + std::to_string(header_.PayloadLength()) + " bytes outside a " +
            "session: " + Describe(header_) + "; connection closed");
        return Result::Close;
      }
      payload_.clear();
      if (header_.PayloadLength() == 0) {
        if (HandleFrame(header_, {}, out) == Result::Close)
          return Result::Close;
        continue;
      }
      in_payload_ = true;
      payload_.reserve(std::min<size_t>(header_.PayloadLength(), kPayloadReserve));
    } else {
      size_t take = std::min<size_t>(header_.PayloadLength() - payload_.size(), length);
      payload_.append(data, take);
      data += take;
      length -= take;
      if (payload_.size() < header_.PayloadLength())
        break;
      in_payload_ = false;
      Result r = HandleFrame(header_, payload_, out);
      if (payload_.capacity() > kPayloadReserve)
        Bytes().swap(payload_);  // give a large buffer back
      if (r == Result::Close)
        return Result::Close;
    }
  }
  return Result::Continue;
}

void FrameHandler::Answer(Bytes& out, const FrameHeader& request, uint8_t kind, uint32_t errorCode,
                          std::string_view payload, uint32_t sessionId) {
  FrameHeader h;
  h.transportId = transport_id_;
  h.sessionId = sessionId ? sessionId : request.sessionId;
  h.reserved = request.reserved;
  h.messageId = request.messageId;
  h.SetPayloadLength(payload.size());
  h.errorCode = WireCode(errorCode);
  h.kind = kind;
  h.AppendTo(&out);
  out.append(payload);
}

bool FrameHandler::MayCarryLargePayload(const FrameHeader& h) const {
  return Handshaken() && (h.kind == mkRequest || h.kind == mkPost) &&
         h.transportId == transport_id_ &&
         ctx_.registry.FindSession(transport_id_, h.sessionId).has_value();
}

FrameHandler::Result FrameHandler::HandleFrame(const FrameHeader& h, std::string_view payload,
                                               Bytes& out) {
  if (ctx_.trace)
    Log(Describe(h));
  if (h.kind == mkOpenTransport || h.kind == mkAttachConnection)
    return Handshake(h, payload, out);

  const bool wantsAnswer = h.kind != mkPost && h.kind != mkHeartbeat && h.kind != mkCloseSession;
  if (!Handshaken() || h.transportId != transport_id_ || !ctx_.registry.Touch(transport_id_)) {
    Log("frame for transport " + std::to_string(h.transportId) +
        (Handshaken() ? " on a connection of transport " + std::to_string(transport_id_)
                      : std::string(" before a handshake")) +
        ": " + Describe(h));
    if (wantsAnswer)
      Answer(out, h, mkUnsupported, nxcode::kLostCommunication);
    return Result::Continue;
  }

  switch (h.kind) {
    case mkOpenSession:
      OpenSession(h, payload, out);
      break;
    case mkRequest:
    case mkPost:
      Dispatch(h, payload, out);
      break;
    case mkCloseSession:
      if (auto s = ctx_.registry.CloseSession(transport_id_, h.sessionId)) {
        Log("session " + std::to_string(s->sessionId) + " closed");
        ctx_.dispatcher.SessionClosed(*s);
      } else {
        Log("close of unknown session " + std::to_string(h.sessionId));
      }
      break;
    case mkHeartbeat:
      break;
    default:
      Log("unsupported " + Describe(h));
      Answer(out, h, mkUnsupported, nxcode::kNotSupported);
      break;
  }
  return Result::Continue;
}

FrameHandler::Result FrameHandler::Handshake(const FrameHeader& h, std::string_view payload,
                                             Bytes& out) {
  if (Handshaken()) {
    Log("second handshake on one connection: " + Describe(h));
    Answer(out, h, mkUnsupported, nxcode::kInvalidParameter);
    return Result::Continue;
  }
  if (payload.size() != 4) {
    Log("handshake payload of " + std::to_string(payload.size()) + " bytes; refused");
    Answer(out, h, mkTransportAccepted, nxcode::kInvalidParameter);
    return Result::Close;
  }
  const uint32_t value = DecodeFixed32(payload.data());
  if (h.kind == mkOpenTransport) {
    TransportRegistry::Opened t = ctx_.registry.OpenTransport(value);
    transport_id_ = t.id;
    ctx_.registry.AddConnection(transport_id_);
    char key[4];
    EncodeFixed32(key, t.key);
    Log("transport " + std::to_string(t.id) + " opened, heartbeat interval " +
        std::to_string(value) + " ms" +
        (t.heartbeatInterval != value ? " (held to " + std::to_string(t.heartbeatInterval) + " ms)"
                                      : std::string()));
    Answer(out, h, mkTransportAccepted, 0, std::string_view(key, sizeof key));
    return Result::Continue;
  }
  if (!ctx_.registry.Attach(h.transportId, value)) {
    Log("attach to transport " + std::to_string(h.transportId) + " refused: unknown transport " +
        "or wrong key");
    Answer(out, h, mkTransportAccepted, nxcode::kLostCommunication);
    return Result::Close;
  }
  transport_id_ = h.transportId;
  ctx_.registry.AddConnection(transport_id_);
  if (ctx_.trace)
    Log("attached to transport " + std::to_string(transport_id_));
  Answer(out, h, mkTransportAccepted, 0);
  return Result::Continue;
}

void FrameHandler::OpenSession(const FrameHeader& h, std::string_view payload, Bytes& out) {
  if (payload.size() != LoginBlock::kSize || h.messageId != 1) {
    Log("login block of " + std::to_string(payload.size()) + " bytes with message id " +
        std::to_string(h.messageId) + " refused");
    Answer(out, h, mkSessionOpened, nxcode::kInvalidParameter);
    return;
  }
  LoginBlock block;
  if (ctx_.login.Open(payload, block) != LoginBlockCheck::Ok) {
    Log("login block with a wrong MAC refused");
    Answer(out, h, mkSessionOpened, nxcode::kUnknownUserOrPassword);
    return;
  }
  if (!plain_sessions_ && block.userName != kTunnelUserName) {
    Log("plain login of user \"" + block.userName + "\" refused: only the tunnel is served");
    Answer(out, h, mkSessionOpened, nxcode::kUnknownUserOrPassword);
    return;
  }
  if (!ctx_.accounts.Check(block.userName, block.password)) {
    Log("login of unknown user \"" + block.userName + "\" refused");
    Answer(out, h, mkSessionOpened, nxcode::kUnknownUserOrPassword);
    return;
  }
  // A tunnel session serves once its real session has opened inside it (the client
  // knows the tunnel key); until then it counts as no session for the server's limits.
  const bool serving = block.userName != kTunnelUserName;
  auto session = ctx_.registry.OpenSession(transport_id_, block.userName, block.timeout,
                                           block.clientVersion, serving);
  if (!session) {
    Answer(out, h, mkUnsupported, nxcode::kLostCommunication);
    return;
  }
  Log("session " + std::to_string(session->sessionId) + " opened for user \"" + block.userName +
      "\" on transport " + std::to_string(transport_id_));
  ctx_.dispatcher.SessionOpened(*session);
  char reply[8] = {};
  EncodeFixed32(reply, session->sessionId);
  Answer(out, h, mkSessionOpened, 0, std::string_view(reply, sizeof reply), session->sessionId);
}

void FrameHandler::Dispatch(const FrameHeader& h, std::string_view payload, Bytes& out) {
  const bool isRequest = h.kind == mkRequest;
  auto session = ctx_.registry.FindSession(transport_id_, h.sessionId);
  if (!session) {
    Log(std::string(isRequest ? "request" : "post") + " for unknown session " +
        std::to_string(h.sessionId));
    if (isRequest)
      Answer(out, h, mkUnsupported, nxcode::kInvalidHandle);
    return;
  }
  if (h.IsCompressed()) {
    Log("compressed payload (type " + std::to_string(h.compressType) + ") not supported");
    if (isRequest)
      Answer(out, h, mkUnsupported, nxcode::kNotSupported);
    return;
  }
  if (!isRequest) {
    try {
      ctx_.dispatcher.HandlePost(*session, h.messageId, payload);
    } catch (const std::exception& e) {
      Log(std::string("post failed: ") + e.what());
    }
    return;
  }
  DispatchReply reply;
  try {
    reply = ctx_.dispatcher.HandleRequest(*session, h.messageId, payload);
  } catch (...) {
    reply.errorCode = nxExceptionToCode(std::current_exception());
    reply.payload.clear();
    Log("request " + std::to_string(h.messageId) +
        " failed: " + nxExceptionMessage(std::current_exception()));
  }
  if (reply.payload.size() > ctx_.maxFrameLength - FrameHeader::kSize) {
    Log("reply of " + std::to_string(reply.payload.size()) + " bytes exceeds the maximum");
    reply.errorCode = nxcode::kOutOfMemory;
    reply.payload.clear();
  }
  if (reply.sessionServes)
    ctx_.registry.MarkServing(transport_id_, session->sessionId);
  Answer(out, h, mkReply, reply.errorCode, reply.payload);
}

}  // namespace vantera
