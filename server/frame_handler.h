// The server's side of one client connection, without the socket: bytes in, answers out.
//
// Consume() takes whatever the socket delivered (any split, any garbage) and appends
// whole answer frames to `out`; the connection writes `out` in one write. Rules for what
// a client sends:
//   - a total length below 32 or above the configured maximum: logged, connection closed
//     (the stream can no longer be trusted);
//   - a payload over 64 KiB in anything but a request or post of an open session of the
//     connection's transport: logged, connection closed from the header alone, so that
//     clients without a session cannot make the server buffer large frames;
//   - the first frame must be mkOpenTransport or mkAttachConnection; a wrong key is
//     refused (mkTransportAccepted with 11276) and the connection closed;
//   - a frame for another transport than the connection's: mkUnsupported with 11276;
//   - mkOpenSession: 9986 for a wrong size or message id, 10036 for a bad MAC or an
//     unknown account, else a new session;
//   - mkRequest/mkPost of an unknown session: mkUnsupported with 9990 / dropped;
//   - kinds the server does not serve: mkUnsupported with 12289.
// Memory grows only with bytes actually received, never with an announced length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "protocol/login_block.h"
#include "protocol/transport_frame.h"
#include "server/account_store.h"
#include "server/request_dispatcher.h"
#include "server/server_log.h"
#include "server/transport_registry.h"

namespace vantera {

class TnxBlowFishRC4;

// The login cipher of the server: one object under a lock.
class LoginChecker {
 public:
  LoginChecker();
  ~LoginChecker();
  LoginBlockCheck Open(std::string_view payload, LoginBlock& block);

 private:
  std::mutex mutex_;
  std::unique_ptr<TnxBlowFishRC4> cipher_;
};

// What every connection of one server shares.
struct ServerContext {
  TransportRegistry& registry;
  RequestDispatcher& dispatcher;
  const AccountStore& accounts;
  LoginChecker& login;
  ServerLog& log;
  uint32_t maxFrameLength = 64u << 20;
  bool trace = false;  // one log line per frame
};

class FrameHandler {
 public:
  enum class Result { Continue, Close };

  // `plainSessions` false: only tunnel sessions (the built-in tunnel account) may open.
  FrameHandler(ServerContext& context, uint64_t connectionNumber, bool plainSessions = true);
  // Tells the registry that the connection's transport has one connection less.
  ~FrameHandler();
  FrameHandler(const FrameHandler&) = delete;
  FrameHandler& operator=(const FrameHandler&) = delete;

  // Takes received bytes; appends answers to `out`. Close: the connection must be closed
  // after `out` has been written.
  Result Consume(const char* data, size_t length, Bytes& out);

  // The transport the connection belongs to (0 before its handshake).
  uint32_t TransportId() const { return transport_id_; }
  bool Handshaken() const { return transport_id_ != 0; }
  // True while a frame has begun but not fully arrived.
  bool InsideFrame() const { return header_have_ > 0 || in_payload_; }
  // How many frames have begun (their first byte arrived) so far.
  uint64_t FramesBegun() const { return frames_begun_; }
  // False once the connection's transport has been dropped (true before a handshake).
  bool TransportAlive() const { return !Handshaken() || ctx_.registry.Exists(transport_id_); }

 private:
  bool MayCarryLargePayload(const FrameHeader& h) const;
  Result HandleFrame(const FrameHeader& h, std::string_view payload, Bytes& out);
  Result Handshake(const FrameHeader& h, std::string_view payload, Bytes& out);
  void OpenSession(const FrameHeader& h, std::string_view payload, Bytes& out);
  void Dispatch(const FrameHeader& h, std::string_view payload, Bytes& out);
  void Answer(Bytes& out, const FrameHeader& request, uint8_t kind, uint32_t errorCode,
              std::string_view payload = {}, uint32_t sessionId = 0);
  void Log(const std::string& line) const;

  ServerContext& ctx_;
  uint64_t number_;
  const bool plain_sessions_;
  uint32_t transport_id_ = 0;

  char header_buf_[FrameHeader::kSize];
  size_t header_have_ = 0;
  bool in_payload_ = false;
  uint64_t frames_begun_ = 0;
  FrameHeader header_;
  Bytes payload_;
};

}  // namespace vantera
