// The server's client transports and their sessions.
//
// mkOpenTransport creates a transport (id and key); every further connection of the same
// client presents the key with mkAttachConnection. Sessions belong to a transport, not to
// a connection. A transport that announced a heartbeat interval and stays silent for
// twice that long is dropped with its sessions. A transport whose frame connections have
// all closed is dropped once it has stayed without one for the unconnected grace, whatever
// interval it announced: a client that died (announcing 0 or a huge interval) would keep
// its sessions, transactions and record locks for good. All members are safe from every
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "server/request_dispatcher.h"

namespace vantera {

class TransportRegistry {
 public:
  using Clock = std::chrono::steady_clock;

  struct Opened {
    uint32_t id;
    uint32_t key;
  };

  static constexpr std::chrono::milliseconds kDefaultUnconnectedGrace{30000};

  explicit TransportRegistry(std::chrono::milliseconds unconnectedGrace = kDefaultUnconnectedGrace);

  // A new transport; `heartbeatInterval` ms, 0 = never dropped for silence.
  Opened OpenTransport(uint32_t heartbeatInterval);
  // True when `id` exists and `key` is its key.
  bool Attach(uint32_t id, uint32_t key);
  // Records traffic of a transport; false when it does not exist.
  bool Touch(uint32_t id);
  bool Exists(uint32_t id) const;
  // A frame connection has opened or attached to transport `id`, resp. has closed.
  void AddConnection(uint32_t id);
  void RemoveConnection(uint32_t id);

  // Opens a session of transport `transportId`; nullopt when the transport is gone.
  std::optional<ServerSession> OpenSession(uint32_t transportId, const std::string& userName,
                                           uint32_t timeout, uint32_t clientVersion);
  // The session `sessionId` when it belongs to transport `transportId`.
  std::optional<ServerSession> FindSession(uint32_t transportId, uint32_t sessionId) const;
  // Removes the session; returns it when it existed under that transport.
  std::optional<ServerSession> CloseSession(uint32_t transportId, uint32_t sessionId);

  struct Dropped {
    uint32_t transportId;
    std::vector<ServerSession> sessions;
    bool unconnected = false;  // dropped for having no connection left, not for silence
  };
  // Removes every transport silent for more than twice its interval at `now`, and every
  // transport left without a frame connection for longer than the unconnected grace.
  std::vector<Dropped> ExpireSilent(Clock::time_point now);
  // Removes one transport with its sessions; nullopt when it does not exist.
  std::optional<Dropped> DropTransport(uint32_t id);
  // Removes every transport (shutdown).
  std::vector<Dropped> DropAll();

  size_t TransportCount() const;
  size_t SessionCount() const;

 private:
  struct Transport {
    uint32_t key;
    uint32_t heartbeatInterval;
    Clock::time_point lastHeard;
    std::set<uint32_t> sessions;
    bool framed = false;  // has had a frame connection (registry-call transports have none)
    size_t connections = 0;
    Clock::time_point unconnectedSince;
  };
  Dropped Remove(std::map<uint32_t, Transport>::iterator it);

  const std::chrono::milliseconds unconnected_grace_;
  mutable std::mutex mutex_;
  std::mt19937 random_;
  uint32_t next_transport_ = 1;
  uint32_t next_session_ = 1;
  std::map<uint32_t, Transport> transports_;
  std::map<uint32_t, ServerSession> sessions_;
};

}  // namespace vantera
