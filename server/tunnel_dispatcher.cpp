#include "server/tunnel_dispatcher.h"

#include <exception>
#include <utility>

#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/secured_envelope.h"
#include "protocol/tunnel_account.h"
#include "protocol/tunnel_credentials.h"

namespace vantera {

bool ReplayWindow::Admit(CipherWords iv) {
  const uint64_t v = (static_cast<uint64_t>(iv.w0) << 32) | iv.w1;
  if (!seen_.insert(v).second)
    return false;
  order_.push_back(v);
  if (order_.size() > capacity_) {
    seen_.erase(order_.front());
    order_.pop_front();
  }
  return true;
}

TunnelDispatcher::TunnelDispatcher(std::unique_ptr<RequestDispatcher> inner,
                                   const AccountStore& accounts, std::string key, ServerLog& log)
    : inner_(std::move(inner)), accounts_(accounts), key_(std::move(key)), log_(log) {}

TunnelDispatcher::~TunnelDispatcher() {
  pool_.Clear();
}

bool TunnelDispatcher::IsTunnelSession(const ServerSession& session) {
  return session.userName == kTunnelUserName;
}

size_t TunnelDispatcher::TunnelSessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tunnels_.size();
}

size_t TunnelDispatcher::RealSessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& [id, t] : tunnels_)
    n += t.real ? 1 : 0;
  return n;
}

void TunnelDispatcher::Log(const ServerSession& tunnel, const std::string& line) {
  log_.Line("tunnel session " + std::to_string(tunnel.sessionId) + ": " + line);
}

void TunnelDispatcher::SessionOpened(const ServerSession& session) {
  if (!IsTunnelSession(session)) {
    inner_->SessionOpened(session);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  tunnels_.try_emplace(session.sessionId);
}

void TunnelDispatcher::SessionClosed(const ServerSession& session) {
  if (!IsTunnelSession(session)) {
    inner_->SessionClosed(session);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = tunnels_.find(session.sessionId);
  if (it == tunnels_.end())
    return;
  std::optional<ServerSession> real = std::move(it->second.real);
  tunnels_.erase(it);
  if (real) {
    Log(session, "real session of user \"" + real->userName + "\" closed");
    inner_->SessionClosed(*real);  // under the lock: never after a later open of the same id
  }
}

TunnelDispatcher::Unsealed TunnelDispatcher::Open(uint32_t id, std::string_view envelope,
                                                  Bytes& buffer, OpenedEnvelope& out) {
  EnvelopeCheck check;
  {
    TnxCipherPool::Lease cipher = pool_.Take(key_);
    check = OpenEnvelope(*cipher, envelope, buffer, out);
  }
  if (check != EnvelopeCheck::Ok) {
    log_.Line("tunnel session " + std::to_string(id) + ": envelope of " +
              std::to_string(envelope.size()) + " bytes refused: bad " + EnvelopeCheckName(check));
    return Unsealed::Refused;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = tunnels_.find(id);
  if (it == tunnels_.end() || !it->second.seen.Admit(out.iv)) {
    log_.Line(
        "tunnel session " + std::to_string(id) + ": " +
        (it == tunnels_.end() ? "envelope for a closed tunnel session" : "replayed envelope") +
        " refused");
    return Unsealed::Refused;
  }
  return Unsealed::Ok;
}

DispatchReply TunnelDispatcher::SealedReply(uint32_t messageId, uint32_t errorCode,
                                            std::string_view payload) {
  TnxCipherPool::Lease cipher = pool_.Take(key_);
  return DispatchReply{0, SealEnvelope(*cipher, messageId, errorCode, payload)};
}

DispatchReply TunnelDispatcher::Credentials(const ServerSession& tunnel,
                                            const OpenedEnvelope& envelope) {
  TunnelCredentials c;
  try {
    c = TunnelCredentials::Decode(envelope.payload);
  } catch (const DecodeError& e) {
    Log(tunnel, std::string("credentials refused: ") + e.what());
    return SealedReply(0, nxcode::kInvalidParameter, {});
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = tunnels_.find(tunnel.sessionId);
  if (it == tunnels_.end())
    return DispatchReply{nxcode::kLostCommunication, {}};
  if (it->second.real) {
    Log(tunnel, "second credentials refused");
    return SealedReply(0, nxcode::kInvalidParameter, {});
  }
  if (!credentials_seen_.Admit(envelope.iv)) {
    Log(tunnel, "replayed credentials refused");
    return DispatchReply{nxcode::kLostCommunication, {}};
  }
  if (!accounts_.Check(c.userName, c.password) || c.userName == kTunnelUserName) {
    Log(tunnel, "credentials of unknown user \"" + c.userName + "\" refused");
    return SealedReply(0, nxcode::kUnknownUserOrPassword, {});
  }
  ServerSession real;
  real.transportId = tunnel.transportId;
  real.sessionId = tunnel.sessionId;
  real.userName = c.userName;
  real.timeout = c.timeout;
  real.clientVersion = c.clientVersion;
  it->second.real = real;
  inner_->SessionOpened(real);
  Log(tunnel, "real session opened for user \"" + c.userName + "\"");
  char id[4];
  EncodeFixed32(id, real.sessionId);
  DispatchReply reply = SealedReply(0, 0, std::string_view(id, sizeof id));
  reply.sessionServes = true;
  return reply;
}

DispatchReply TunnelDispatcher::HandleRequest(const ServerSession& session, uint32_t messageId,
                                              std::string_view payload) {
  if (!IsTunnelSession(session))
    return inner_->HandleRequest(session, messageId, payload);
  if (messageId != kTunnelRequestId) {
    Log(session, "request with message id " + std::to_string(messageId) + " refused");
    return DispatchReply{nxcode::kInvalidParameter, {}};
  }
  Bytes buffer;
  OpenedEnvelope envelope;
  if (Open(session.sessionId, payload, buffer, envelope) != Unsealed::Ok)
    return DispatchReply{nxcode::kLostCommunication, {}};
  if (envelope.messageId == 0)
    return Credentials(session, envelope);

  std::optional<ServerSession> real;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = tunnels_.find(session.sessionId);
    if (it != tunnels_.end())
      real = it->second.real;
  }
  if (!real) {
    Log(session, "request before the credentials refused");
    return SealedReply(envelope.messageId, nxcode::kInvalidHandle, {});
  }
  DispatchReply reply;
  try {
    reply = inner_->HandleRequest(*real, envelope.messageId, envelope.payload);
  } catch (...) {
    // Answered like the plain path answers a failing dispatcher: its code, no data.
    reply.errorCode = nxExceptionToCode(std::current_exception());
    reply.payload.clear();
    Log(session, "request " + std::to_string(envelope.messageId) +
                     " failed: " + nxExceptionMessage(std::current_exception()));
  }
  return SealedReply(envelope.messageId, reply.errorCode, reply.payload);
}

void TunnelDispatcher::HandlePost(const ServerSession& session, uint32_t messageId,
                                  std::string_view payload) {
  if (!IsTunnelSession(session)) {
    inner_->HandlePost(session, messageId, payload);
    return;
  }
  if (messageId != kTunnelPostId) {
    Log(session, "post with message id " + std::to_string(messageId) + " dropped");
    return;
  }
  Bytes buffer;
  OpenedEnvelope envelope;
  if (Open(session.sessionId, payload, buffer, envelope) != Unsealed::Ok)
    return;
  std::optional<ServerSession> real;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = tunnels_.find(session.sessionId);
    if (it != tunnels_.end())
      real = it->second.real;
  }
  if (!real || envelope.messageId == 0) {
    Log(session, "post without a real session dropped");
    return;
  }
  inner_->HandlePost(*real, envelope.messageId, envelope.payload);
}

void AddTunnelAccount(AccountStore& accounts) {
  accounts.Add(std::string(kTunnelUserName), std::string(kTunnelPassword));
}

std::unique_ptr<RequestDispatcher> WrapWithTunnel(std::unique_ptr<RequestDispatcher> dispatcher,
                                                  AccountStore& accounts, const std::string& key,
                                                  ServerLog& log) {
  AddTunnelAccount(accounts);
  log.Line("encrypted tunnel served (tunnel key of " + std::to_string(key.size()) + " bytes)");
  return std::make_unique<TunnelDispatcher>(std::move(dispatcher), accounts, key, log);
}

}  // namespace vantera
