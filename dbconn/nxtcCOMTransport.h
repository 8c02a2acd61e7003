// The transport to a database server on the same machine through the local server
// registry (protocol/registry_calls.h): no frames, no pool of its own, no heartbeat; every
// message is one call on the server's transport or connection object.
//
// Client state:
//  - transport proxies: one per attachment to a server; the first is the one sessions use.
//    Each holds the server's transport reference and the connection that attached it
//    (the attachment lives as long as that connection), plus idle call connections so that
//    calls from several threads run side by side.
//  - connection proxies: one per open session, found by the session id the engine holds.
//  - validity marks: a per-process constant written into each proxy at creation; a session
//    id is accepted only when it designates a live connection proxy carrying the mark.
//  - two read-write locks, one over each list. No lock is held while calling the server,
//    except the read lock of the transport proxies during EstablishSession.
//
// States: Inactive --Open: find the server by name (any letter case), attach--> Started
//         --Close: free every proxy (sessions terminated, transport terminated)--> Inactive
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"

namespace vantera {

class TnxRegisteredCOMTransport : public TnxBaseTransport {
 public:
  // The client version this transport announces to the server.
  static constexpr int32_t kClientVersion = 10800;

  explicit TnxRegisteredCOMTransport(std::string name = {});
  ~TnxRegisteredCOMTransport() override;

  // Folder of the registry entries; empty (the default) means RuntimeDir(). Changing it
  // needs an inactive transport.
  const std::string& RuntimeFolder() const { return runtime_folder_; }
  void SetRuntimeFolder(const std::string& folder);
  std::string EffectiveRuntimeFolder() const;
  // Largest reply (in bytes) accepted from the server; 64 MiB by default.
  uint32_t MaxMessageLength() const { return max_message_length_; }
  void SetMaxMessageLength(uint32_t bytes) { max_message_length_ = bytes; }

  uint32_t EstablishSession(uint32_t transportId, const std::string& userName,
                            const std::string& password, uint32_t timeout,
                            uint32_t& sessionId) override;
  void Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
               uint32_t length, uint32_t timeout, TnxReplyCallback callback, void* cookie) override;
  void Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
            uint32_t length, uint32_t timeout) override;
  void CloseSession(uint32_t transportId, uint32_t sessionId, uint32_t timeout) override;

  // The names of the running servers registered in the folder: every entry whose display
  // name starts with exactly "#KantaDBServer_", without that prefix, when something is
  // left. The time-out is not used.
  void GetServerNames(std::vector<std::string>& list, uint32_t timeout) override;

  // A call found the server gone or not answering in time since the start.
  bool ConnectionLost() const override { return lost_.load(); }
  // Every later call fails at once (11276; posts and closes send nothing) until the stop.
  void Abandon() override;

  size_t TransportProxyCount() const;
  size_t ConnectionProxyCount() const;

  class TransportProxy;
  class ConnectionProxy;

 protected:
  void DoStart() override;
  void DoStop() override;

 private:
  // The entry path of a running server named `name` without regard to letter case (an
  // entry nobody answers on is passed over); empty when there is none.
  std::string FindServerEntry(const std::string& name) const;
  std::shared_ptr<ConnectionProxy> FindConnection(uint32_t sessionId) const;
  void FreeAllProxies();
  // Notes a call that found the server gone (see ConnectionLost).
  void NoteFailure(const std::exception_ptr& failure);

  std::string runtime_folder_;
  uint32_t max_message_length_ = 64u << 20;

  mutable std::shared_mutex transports_mutex_;
  std::vector<std::shared_ptr<TransportProxy>> transports_;
  mutable std::shared_mutex connections_mutex_;
  std::map<uint32_t, std::shared_ptr<ConnectionProxy>> connections_;
  std::atomic<uint32_t> next_handle_{1};
  std::atomic<bool> lost_{false};
};

}  // namespace vantera
