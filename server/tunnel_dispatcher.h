// The server half of the encrypted tunnel, as a wrapper around any RequestDispatcher.
//
// A session opened with the built-in tunnel account (protocol/tunnel_account.h) is a tunnel
// session: nothing of it reaches the wrapped dispatcher directly. Its first sealed request
// (envelope message id 0) carries the real user name and password; when they open under
// the tunnel key and name an account, the wrapper opens the real session on the wrapped
// dispatcher and answers with its id (4 bytes). After that every sealed request and post is
// unsealed and handed on as the real session's, and every reply is sealed with a fresh
// initial value. Closing (or dropping) the tunnel session closes its real session.
// Sessions of every other account pass straight through.
//
// Answers to what a client sends on a tunnel session:
//   envelope of a wrong length, a bad MAC, a payload length past its end,
//   or an initial value seen before (a replay)        -> error 11276, no payload (unsealed)
//   a request with an inner message id other than 65535 -> error 9986, no payload
//   credentials that do not parse                     -> sealed error 9986, no payload
//   credentials naming no account                     -> sealed error 10036, no payload
//   credentials when the real session is already open -> sealed error 9986, no payload
//   a request before the credentials were accepted    -> sealed error 9990, no payload
//   posts failing any of the above                    -> dropped, with a log line
// The real session has the tunnel session's id: unique in the server's run and never seen
// by the wrapped dispatcher as anything else.
//
// Thread safety: every member is safe from many connection threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "protocol/cipher_pool.h"
#include "protocol/secured_envelope.h"
#include "server/account_store.h"
#include "server/request_dispatcher.h"
#include "server/server_log.h"

namespace vantera {

// The last `capacity` initial values seen; a value seen again within them is a replay.
class ReplayWindow {
 public:
  explicit ReplayWindow(size_t capacity) : capacity_(capacity) {}
  // False when `iv` is in the window; else remembers it (forgetting the oldest when full).
  bool Admit(CipherWords iv);

 private:
  size_t capacity_;
  std::deque<uint64_t> order_;
  std::unordered_set<uint64_t> seen_;
};

class TunnelDispatcher : public RequestDispatcher {
 public:
  // Initial values remembered per tunnel session, and for credentials across all sessions.
  static constexpr size_t kReplayWindow = 16384;

  // `accounts` and `log` must outlive the dispatcher; `key` is the tunnel key (bytes, empty
  // allowed).
  TunnelDispatcher(std::unique_ptr<RequestDispatcher> inner, const AccountStore& accounts,
                   std::string key, ServerLog& log);
  ~TunnelDispatcher() override;

  DispatchReply HandleRequest(const ServerSession& session, uint32_t messageId,
                              std::string_view payload) override;
  void HandlePost(const ServerSession& session, uint32_t messageId,
                  std::string_view payload) override;
  void SessionOpened(const ServerSession& session) override;
  void SessionClosed(const ServerSession& session) override;

  // Tunnel sessions open now, and how many of them carry a real session.
  size_t TunnelSessionCount() const;
  size_t RealSessionCount() const;

  static bool IsTunnelSession(const ServerSession& session);

 private:
  struct Tunnel {
    std::optional<ServerSession> real;
    ReplayWindow seen{kReplayWindow};
  };
  enum class Unsealed { Ok, Refused };

  // Opens `envelope` of tunnel session `id` and checks it against replays.
  Unsealed Open(uint32_t id, std::string_view envelope, Bytes& buffer, OpenedEnvelope& out);
  DispatchReply SealedReply(uint32_t messageId, uint32_t errorCode, std::string_view payload);
  DispatchReply Credentials(const ServerSession& tunnel, const OpenedEnvelope& envelope);
  void Log(const ServerSession& tunnel, const std::string& line);

  std::unique_ptr<RequestDispatcher> inner_;
  const AccountStore& accounts_;
  std::string key_;
  ServerLog& log_;
  TnxCipherPool pool_;

  mutable std::mutex mutex_;
  std::map<uint32_t, Tunnel> tunnels_;  // by tunnel session id
  ReplayWindow credentials_seen_{kReplayWindow};
};

// Lets the tunnel account log in (replacing any account of the same name).
void AddTunnelAccount(AccountStore& accounts);

// `dispatcher` wrapped in the tunnel's server half with `key`, the tunnel account added to
// `accounts`.
std::unique_ptr<RequestDispatcher> WrapWithTunnel(std::unique_ptr<RequestDispatcher> dispatcher,
                                                  AccountStore& accounts, const std::string& key,
                                                  ServerLog& log);

}  // namespace vantera
