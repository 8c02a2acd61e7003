// The encrypted transport: a transport towards the remote engine that owns no socket and
// tunnels through another transport (`Transport`, the TCP transport in this program).
//
// For every session the engine opens it first opens a tunnel session on the inner
// transport with the built-in tunnel account (tunnel_account.h), then sends the real
// user name and password sealed inside it (tunnel_credentials.h). Every request, reply and
// post of the real session then travels as a sealed envelope (secured_envelope.h) keyed
// with `Key`: requests as inner message id 65535, posts as 65534.
//
// Invariants:
//  1. The engine's session id is the handle of a session object; a handle is accepted
//     only while it names a live session object of this class that carries the validity
//     mark. Anything else gives 11276.
//  2. A session object is in both session lists (by handle, and sorted by tunnel session
//     id) exactly while it is usable; destroying it closes its tunnel session (time-out
//     10000 ms).
//  3. Each seal or unseal takes a cipher object of its own from the pool; no cipher is
//     shared between threads and no lock is held while waiting for a reply.
//  4. The pool is emptied, its ciphers wiped, whenever the transport becomes inactive;
//     `Key` can change only then, so a new key takes effect at the next start.
//
// States: Inactive --Open (inner transport opened first)--> Stopped --DoStart: server
// choice "Tunnel"--> Started --DoStop: every session object destroyed--> Stopped
// --DoUnprepare: cipher pool emptied--> Inactive.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/cipher_pool.h"

namespace vantera {

class TnxBaseSecuredTransport;

// A session of the remote engine as the encrypted transport keeps it.
class TnxBaseSecuredConnectionProxy {
 public:
  explicit TnxBaseSecuredConnectionProxy(TnxBaseSecuredTransport& transport);
  // Clears the validity mark.
  virtual ~TnxBaseSecuredConnectionProxy();
  TnxBaseSecuredConnectionProxy(const TnxBaseSecuredConnectionProxy&) = delete;
  TnxBaseSecuredConnectionProxy& operator=(const TnxBaseSecuredConnectionProxy&) = delete;

  // True while the object is alive and was made by this process.
  bool HasValidityMark() const;
  TnxBaseSecuredTransport& Transport() const { return transport_; }
  uint32_t TunnelSessionId() const { return tunnel_session_id_; }
  void SetTunnelSessionId(uint32_t id) { tunnel_session_id_ = id; }
  uint32_t Handle() const { return handle_; }
  // The session id the server gave the real session (kept for logs and tests).
  uint32_t RealSessionId() const { return real_session_id_; }
  void SetRealSessionId(uint32_t id) { real_session_id_ = id; }

 private:
  friend class TnxBaseSecuredTransport;
  uint32_t mark_;
  TnxBaseSecuredTransport& transport_;
  uint32_t tunnel_session_id_ = 0;
  uint32_t real_session_id_ = 0;
  uint32_t handle_ = 0;
};

class TnxBlowfishRC4SecuredConnectionProxy : public TnxBaseSecuredConnectionProxy {
 public:
  using TnxBaseSecuredConnectionProxy::TnxBaseSecuredConnectionProxy;
  // Closes the tunnel session, if one was opened, with time-out 10000 ms.
  ~TnxBlowfishRC4SecuredConnectionProxy() override;
};

// ---------------------------------------------------------------------------------------
// The inner transport, the key, the server name "Tunnel" and the session lists.
class TnxBaseSecuredTransport : public TnxBaseTransport {
 public:
  static constexpr uint32_t kCloseTimeout = 10000;  // ms, for closing a tunnel session

  explicit TnxBaseSecuredTransport(std::string name = {});
  ~TnxBaseSecuredTransport() override;

  // The transport the tunnel runs through (not owned); needs an inactive transport.
  TnxBaseTransport* Transport() const { return transport_; }
  void SetTransport(TnxBaseTransport* transport);
  TnxBaseTransport* InnerTransport() const override { return transport_; }
  // The tunnel is lost when its inner transport lost its connection.
  bool ConnectionLost() const override { return transport_ && transport_->ConnectionLost(); }
  // The encryption password (bytes, empty allowed); needs an inactive transport.
  const std::string& Key() const { return key_; }
  void SetKey(const std::string& key);

  // With an inner transport the server name is always "Tunnel"; without one it is empty.
  void SetServerNameRuntime(const std::string& name);
  void GetServerNames(std::vector<std::string>& list, uint32_t timeout) override;

  // Session objects in the lists.
  size_t SessionCount() const;
  // Tunnel session ids of the session objects, in the sorted list's order.
  std::vector<uint32_t> TunnelSessionIds() const;

  [[noreturn]] void RaiseError(const std::string& text, uint32_t code = 0) const override;

 protected:
  void DoPrepare() override;
  void DoStart() override;
  void DoStop() override;
  void LinkedComponentDestroyed(TnxStateComponent* other) override;

  // Puts a session object into both lists; returns its handle.
  uint32_t InsertSession(std::unique_ptr<TnxBaseSecuredConnectionProxy> session);
  // The tunnel session id behind a handle; false for a handle that names no live session
  // object of this transport's class carrying the validity mark.
  bool LookUp(uint32_t handle, uint32_t& tunnelSessionId) const;
  // Checks the handle and, when `destroy`, takes the object out of both lists and destroys
  // it, all under the session lock.
  bool CheckAndDestroy(uint32_t handle, bool destroy);
  // Whether `session` is of the class this transport makes.
  virtual bool IsOwnSessionClass(const TnxBaseSecuredConnectionProxy& session) const = 0;
  // Destroys every session object.
  void DestroyAllSessions();

 private:
  const TnxBaseSecuredConnectionProxy* Find(uint32_t handle) const;  // under session_mutex_
  void Unlink(TnxBaseSecuredConnectionProxy* session);

  TnxBaseTransport* transport_ = nullptr;
  std::string key_;

  mutable std::mutex session_mutex_;  // the session list, by handle
  std::map<uint32_t, std::unique_ptr<TnxBaseSecuredConnectionProxy>> sessions_;
  uint32_t next_handle_ = 1;

  mutable std::mutex sorted_mutex_;  // the list sorted by tunnel session id
  std::vector<TnxBaseSecuredConnectionProxy*> sorted_;
};

// ---------------------------------------------------------------------------------------
class TnxBlowfishRC4SecuredTransport : public TnxBaseSecuredTransport {
 public:
  explicit TnxBlowfishRC4SecuredTransport(std::string name = {});
  ~TnxBlowfishRC4SecuredTransport() override;

  uint32_t EstablishSession(uint32_t transportId, const std::string& userName,
                            const std::string& password, uint32_t timeout,
                            uint32_t& sessionId) override;
  void Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
               uint32_t length, uint32_t timeout, TnxReplyCallback callback, void* cookie) override;
  void Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
            uint32_t length, uint32_t timeout) override;
  void CloseSession(uint32_t transportId, uint32_t sessionId, uint32_t timeout) override;

  // Idle cipher objects in the pool.
  size_t PooledCipherCount() const { return pool_.IdleCount(); }

 protected:
  void DoUnprepare() override;
  bool IsOwnSessionClass(const TnxBaseSecuredConnectionProxy& session) const override;

 private:
  Bytes Seal(uint32_t messageId, uint32_t word, std::string_view payload);
  // Sends one sealed request through tunnel session `tunnelSessionId` and delivers the
  // opened reply to `callback` (see TnxReplyCallback).
  void SealedRequest(uint32_t tunnelSessionId, uint32_t messageId, std::string_view payload,
                     uint32_t timeout, TnxReplyCallback callback, void* cookie);
  static void Unseal(uint32_t messageId, uint32_t errorCode, const char* data, uint32_t length,
                     void* context);

  TnxCipherPool pool_;
};

}  // namespace vantera
