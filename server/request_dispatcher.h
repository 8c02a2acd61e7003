// What the server does with the requests of an open session.
//
// The transport half of the server (frames, handshakes, login, heartbeat) hands every
// mkRequest and mkPost of a session to one RequestDispatcher. The database engine of the
// server implements it; until one is installed, UnsupportedDispatcher answers every
// request with 12289 ("Capability not supported.").
//
// Thread safety: the dispatcher is called from many connection threads at once. A client
// sends one request at a time per session, but consecutive requests of one session may
// arrive on different connections of its transport (the client pools connections), so
// nothing may be tied to a connection: key per-session state by ServerSession::sessionId,
// which is unique in the server's run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/coding.h"

namespace vantera {

// An open session, as the transport half knows it.
struct ServerSession {
  uint32_t transportId = 0;
  uint32_t sessionId = 0;  // unique for the server's run, never 0
  std::string userName;    // Windows-1252 bytes, as sent in the login block
  uint32_t timeout = 0;    // the session time-out in ms from the login block
  uint32_t clientVersion = 0;
};

// The answer to one request: an error code (0 = success; the wire carries 16 bits) and
// the reply payload. `sessionServes`: this request made a session that did not yet serve
// anybody a serving one (the encrypted tunnel's real session opened), so that the server's
// limits for transports without a working session no longer apply to its transport.
struct DispatchReply {
  uint32_t errorCode = 0;
  Bytes payload;
  bool sessionServes = false;
};

class RequestDispatcher {
 public:
  virtual ~RequestDispatcher() = default;

  // Answers one mkRequest. An exception is logged and answered with its error code
  // (15521 for an exception that carries none).
  virtual DispatchReply HandleRequest(const ServerSession& session, uint32_t messageId,
                                      std::string_view payload) = 0;
  // Takes one mkPost; there is no answer. Exceptions are logged and dropped.
  virtual void HandlePost(const ServerSession& session, uint32_t messageId,
                          std::string_view payload) {
    (void)session, (void)messageId, (void)payload;
  }
  // A session was opened by a successful login.
  virtual void SessionOpened(const ServerSession& session) { (void)session; }
  // A session ended: closed by its client, or dropped with its transport (silent past
  // twice its heartbeat interval) or at server shutdown. No request of it follows.
  virtual void SessionClosed(const ServerSession& session) { (void)session; }
};

// Answers every request with 12289.
class UnsupportedDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession& session, uint32_t messageId,
                              std::string_view payload) override;
};

}  // namespace vantera
