#include "dbconn/nxtsBlowfishRC4SecuredTransport.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/secured_envelope.h"
#include "protocol/tunnel_account.h"
#include "protocol/tunnel_credentials.h"

namespace vantera {

namespace {

constexpr const char* kTunnelServerName = "Tunnel";

// The validity mark: fixed for the process's run, drawn once so that a stray number left
// by another run or another class never passes for it.
uint32_t ValidityMark() {
  static const uint32_t mark = [] {
    uint32_t l = static_cast<uint32_t>(nxPerformanceCounter() >> 32);
    uint32_t r = static_cast<uint32_t>(nxPerformanceCounter());
    nxIVGenerator().EncryptBlock(l, r);
    return (l ^ r) | 1u;  // never 0, the value of a cleared mark
  }();
  return mark;
}

// Keeps what the caller's callback received, for EstablishSession.
struct CapturedReply {
  uint32_t error = 0;
  Bytes payload;
};

void Capture(uint32_t /*messageId*/, uint32_t errorCode, const char* data, uint32_t length,
             void* cookie) {
  auto* c = static_cast<CapturedReply*>(cookie);
  c->error = errorCode;
  c->payload.assign(data ? data : "", data ? length : 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Session objects

TnxBaseSecuredConnectionProxy::TnxBaseSecuredConnectionProxy(TnxBaseSecuredTransport& transport)
    : mark_(ValidityMark()), transport_(transport) {}

TnxBaseSecuredConnectionProxy::~TnxBaseSecuredConnectionProxy() {
  mark_ = 0;
}

bool TnxBaseSecuredConnectionProxy::HasValidityMark() const {
  return mark_ == ValidityMark();
}

TnxBlowfishRC4SecuredConnectionProxy::~TnxBlowfishRC4SecuredConnectionProxy() {
  const uint32_t tunnel = TunnelSessionId();
  TnxBaseTransport* inner = Transport().Transport();
  if (tunnel == 0 || inner == nullptr)
    return;
  try {
    inner->CloseSession(0, tunnel, TnxBaseSecuredTransport::kCloseTimeout);
  } catch (const std::exception& e) {
    // Closing drops its failures (an inner transport that is no longer started).
    Transport().LogLine(std::string("closing tunnel session ") + std::to_string(tunnel) +
                        " failed: " + e.what());
  }
}

// ---------------------------------------------------------------------------------------
// TnxBaseSecuredTransport

TnxBaseSecuredTransport::TnxBaseSecuredTransport(std::string name)
    : TnxBaseTransport(std::move(name)) {}

TnxBaseSecuredTransport::~TnxBaseSecuredTransport() {
  Close();
  DestroyAllSessions();
}

void TnxBaseSecuredTransport::SetTransport(TnxBaseTransport* transport) {
  if (transport == transport_)
    return;
  CheckInactive();
  if (transport_ != nullptr)
    RemoveDependency(transport_);
  transport_ = transport;
  if (transport_ != nullptr)
    DependOn(transport_);
  TnxBaseTransport::SetServerNameRuntime(transport_ ? kTunnelServerName : "");
}

void TnxBaseSecuredTransport::SetKey(const std::string& key) {
  if (key == key_)
    return;
  CheckInactive();
  key_ = key;
}

void TnxBaseSecuredTransport::SetServerNameRuntime(const std::string& name) {
  TnxBaseTransport::SetServerNameRuntime(transport_ && !name.empty() ? kTunnelServerName : name);
}

void TnxBaseSecuredTransport::GetServerNames(std::vector<std::string>& list, uint32_t /*timeout*/) {
  list.clear();
  if (transport_ != nullptr)
    list.emplace_back(kTunnelServerName);
}

void TnxBaseSecuredTransport::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxSecuredTransportException(this, text, code);
}

void TnxBaseSecuredTransport::DoPrepare() {
  // Still inactive here: the name follows the inner transport whatever was set.
  TnxBaseTransport::SetServerNameRuntime(transport_ ? kTunnelServerName : "");
}

void TnxBaseSecuredTransport::DoStart() {
  // The inner transport, a dependency, has been started by now. Server choice yields
  // "Tunnel" with one and nothing (11278) without.
  if (ServerNameRuntime().empty())
    FindServer();
  if (transport_ == nullptr || !transport_->Active())
    RaiseCode(nxcode::kCannotConnect);
}

void TnxBaseSecuredTransport::DoStop() {
  DestroyAllSessions();
}

void TnxBaseSecuredTransport::LinkedComponentDestroyed(TnxStateComponent* other) {
  if (other == transport_) {
    transport_ = nullptr;  // first: the session objects must not reach it any more
    DestroyAllSessions();
  }
}

size_t TnxBaseSecuredTransport::SessionCount() const {
  std::lock_guard<std::mutex> lock(session_mutex_);
  return sessions_.size();
}

std::vector<uint32_t> TnxBaseSecuredTransport::TunnelSessionIds() const {
  std::lock_guard<std::mutex> lock(sorted_mutex_);
  std::vector<uint32_t> ids;
  for (const TnxBaseSecuredConnectionProxy* s : sorted_)
    ids.push_back(s->TunnelSessionId());
  return ids;
}

uint32_t TnxBaseSecuredTransport::InsertSession(
    std::unique_ptr<TnxBaseSecuredConnectionProxy> session) {
  TnxBaseSecuredConnectionProxy* raw = session.get();
  uint32_t handle;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    // Handles count up from 1, skipping 0 and any still in use after a wrap.
    do {
      handle = next_handle_++;
    } while (handle == 0 || sessions_.count(handle) != 0);
    raw->handle_ = handle;
    sessions_.emplace(handle, std::move(session));
  }
  std::lock_guard<std::mutex> lock(sorted_mutex_);
  auto at = std::upper_bound(
      sorted_.begin(), sorted_.end(), raw,
      [](const TnxBaseSecuredConnectionProxy* a, const TnxBaseSecuredConnectionProxy* b) {
        return a->TunnelSessionId() < b->TunnelSessionId();
      });
  sorted_.insert(at, raw);
  return handle;
}

const TnxBaseSecuredConnectionProxy* TnxBaseSecuredTransport::Find(uint32_t handle) const {
  auto it = sessions_.find(handle);
  if (it == sessions_.end() || !it->second->HasValidityMark() || !IsOwnSessionClass(*it->second))
    return nullptr;
  return it->second.get();
}

bool TnxBaseSecuredTransport::LookUp(uint32_t handle, uint32_t& tunnelSessionId) const {
  std::lock_guard<std::mutex> lock(session_mutex_);
  const TnxBaseSecuredConnectionProxy* s = Find(handle);
  if (s == nullptr)
    return false;
  tunnelSessionId = s->TunnelSessionId();
  return true;
}

void TnxBaseSecuredTransport::Unlink(TnxBaseSecuredConnectionProxy* session) {
  std::lock_guard<std::mutex> lock(sorted_mutex_);
  sorted_.erase(std::remove(sorted_.begin(), sorted_.end(), session), sorted_.end());
}

bool TnxBaseSecuredTransport::CheckAndDestroy(uint32_t handle, bool destroy) {
  std::lock_guard<std::mutex> lock(session_mutex_);
  if (Find(handle) == nullptr)
    return false;
  if (destroy) {
    auto it = sessions_.find(handle);
    std::unique_ptr<TnxBaseSecuredConnectionProxy> session = std::move(it->second);
    sessions_.erase(it);
    Unlink(session.get());
    session.reset();  // closes the tunnel session, still under the session lock
  }
  return true;
}

void TnxBaseSecuredTransport::DestroyAllSessions() {
  std::map<uint32_t, std::unique_ptr<TnxBaseSecuredConnectionProxy>> all;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    all.swap(sessions_);
  }
  {
    std::lock_guard<std::mutex> lock(sorted_mutex_);
    sorted_.clear();
  }
  all.clear();  // each closes its tunnel session
}

// ---------------------------------------------------------------------------------------
// TnxBlowfishRC4SecuredTransport

TnxBlowfishRC4SecuredTransport::TnxBlowfishRC4SecuredTransport(std::string name)
    : TnxBaseSecuredTransport(std::move(name)) {}

TnxBlowfishRC4SecuredTransport::~TnxBlowfishRC4SecuredTransport() {
  Close();
  pool_.Clear();
}

bool TnxBlowfishRC4SecuredTransport::IsOwnSessionClass(
    const TnxBaseSecuredConnectionProxy& session) const {
  return dynamic_cast<const TnxBlowfishRC4SecuredConnectionProxy*>(&session) != nullptr;
}

void TnxBlowfishRC4SecuredTransport::DoUnprepare() {
  pool_.Clear();
}

Bytes TnxBlowfishRC4SecuredTransport::Seal(uint32_t messageId, uint32_t word,
                                           std::string_view payload) {
  TnxCipherPool::Lease cipher = pool_.Take(Key());
  return SealEnvelope(*cipher, messageId, word, payload);
}

namespace {

// Carries the caller's callback through the inner transport's reply delivery. A failure
// is reported under the caller's own message id, so that the layer above matches it to its
// request and sees the error itself (11276) rather than a reply to some other message.
struct UnsealContext {
  TnxBlowfishRC4SecuredTransport* transport;
  TnxCipherPool* pool;
  const std::string* key;  // Key() cannot change while the transport is started
  uint32_t messageId;
  TnxReplyCallback callback;
  void* cookie;
  bool delivered = false;
};

}  // namespace

void TnxBlowfishRC4SecuredTransport::Unseal(uint32_t /*messageId*/, uint32_t errorCode,
                                            const char* data, uint32_t length, void* context) {
  auto* c = static_cast<UnsealContext*>(context);
  c->delivered = true;
  if (errorCode != 0) {
    c->callback(c->messageId, errorCode, nullptr, 0, c->cookie);
    return;
  }
  Bytes buffer;
  OpenedEnvelope envelope;
  EnvelopeCheck check;
  {
    TnxCipherPool::Lease cipher = c->pool->Take(*c->key);
    check = OpenEnvelope(*cipher, std::string_view(data ? data : "", data ? length : 0), buffer,
                         envelope);
  }
  if (check != EnvelopeCheck::Ok) {
    c->transport->LogLine(std::string("reply envelope refused: ") + EnvelopeCheckName(check));
    c->callback(c->messageId, nxcode::kLostCommunication, nullptr, 0, c->cookie);
    return;
  }
  const std::string_view p = envelope.payload;
  c->callback(envelope.messageId, envelope.word, p.empty() ? nullptr : p.data(),
              static_cast<uint32_t>(p.size()), c->cookie);
}

void TnxBlowfishRC4SecuredTransport::SealedRequest(uint32_t tunnelSessionId, uint32_t messageId,
                                                   std::string_view payload, uint32_t timeout,
                                                   TnxReplyCallback callback, void* cookie) {
  UnsealContext context{this, &pool_, &Key(), messageId, callback, cookie};
  try {
    const Bytes envelope = Seal(messageId, timeout, payload);
    Transport()->Request(0, tunnelSessionId, kTunnelRequestId, envelope.data(),
                         static_cast<uint32_t>(envelope.size()), timeout, &Unseal, &context);
  } catch (...) {
    if (context.delivered)
      throw;  // the caller's own callback failed; it must not be called again
    const uint32_t code = nxConvertException(std::current_exception(), this);
    if (code != 0)
      callback(messageId, code, nullptr, 0, cookie);
  }
}

uint32_t TnxBlowfishRC4SecuredTransport::EstablishSession(uint32_t transportId,
                                                          const std::string& userName,
                                                          const std::string& password,
                                                          uint32_t timeout, uint32_t& sessionId) {
  CheckStarted();
  sessionId = 0;
  if (transportId != 0 || Mode() == TnxTransportMode::Listening)
    return nxcode::kLostCommunication;
  try {
    auto session = std::make_unique<TnxBlowfishRC4SecuredConnectionProxy>(*this);
    uint32_t tunnel = 0;
    const uint32_t opened = Transport()->EstablishSession(
        0, std::string(kTunnelUserName), std::string(kTunnelPassword), timeout, tunnel);
    if (opened != 0)
      RaiseCode(opened);
    session->SetTunnelSessionId(tunnel);

    TunnelCredentials credentials;
    credentials.userName = userName;
    credentials.password = password;
    credentials.timeout = timeout;
    CapturedReply answer;
    SealedRequest(tunnel, 0, credentials.Encode(), timeout, &Capture, &answer);
    const uint32_t result = answer.payload.size() != 4 ? nxcode::kLostCommunication : answer.error;
    if (result != 0)
      RaiseCode(result);
    session->SetRealSessionId(DecodeFixed32(answer.payload.data()));
    sessionId = InsertSession(std::move(session));
    return 0;
  } catch (...) {
    // The session object, if made, is gone by now and has closed its tunnel session.
    return nxConvertException(std::current_exception(), this);
  }
}

void TnxBlowfishRC4SecuredTransport::Request(uint32_t transportId, uint32_t sessionId,
                                             uint32_t messageId, const char* data, uint32_t length,
                                             uint32_t timeout, TnxReplyCallback callback,
                                             void* cookie) {
  CheckStarted();
  uint32_t tunnel = 0;
  if (transportId != 0 || !LookUp(sessionId, tunnel) || tunnel == 0) {
    callback(messageId, nxcode::kLostCommunication, nullptr, 0, cookie);
    return;
  }
  SealedRequest(tunnel, messageId, std::string_view(data ? data : "", data ? length : 0), timeout,
                callback, cookie);
}

void TnxBlowfishRC4SecuredTransport::Post(uint32_t transportId, uint32_t sessionId,
                                          uint32_t messageId, const char* data, uint32_t length,
                                          uint32_t timeout) {
  CheckStarted();
  uint32_t tunnel = 0;
  if (transportId != 0 || !LookUp(sessionId, tunnel) || tunnel == 0)
    return;
  try {
    const Bytes envelope =
        Seal(messageId, timeout, std::string_view(data ? data : "", data ? length : 0));
    Transport()->Post(0, tunnel, kTunnelPostId, envelope.data(),
                      static_cast<uint32_t>(envelope.size()), timeout);
  } catch (...) {
    nxConvertException(std::current_exception(), this);  // logged and dropped
  }
}

void TnxBlowfishRC4SecuredTransport::CloseSession(uint32_t transportId, uint32_t sessionId,
                                                  uint32_t /*timeout*/) {
  CheckStarted();
  CheckAndDestroy(sessionId, transportId == 0);
}

}  // namespace vantera
