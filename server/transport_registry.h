// The server's client transports and their sessions.
//
// mkOpenTransport creates a transport (id and key); every further connection of the same
// client presents the key with mkAttachConnection. Sessions belong to a transport, not to
// a connection. A transport that announced a heartbeat interval and stays silent for
// twice that long is dropped with its sessions; an announced interval is honoured only up
// to the limits' largest heartbeat, so that a client cannot announce an interval that
// never ends. A transport whose frame connections have all closed is dropped once it has
// stayed without one for the unconnected grace, whatever interval it announced: a client
// that died (announcing 0 or a huge interval) would keep its sessions, transactions and
// record locks for good. A transport with frame connections but without a serving session
// for longer than the no-session time is dropped too: it serves nobody and holds
// connection slots. A session serves from its opening, except a tunnel session, which
// serves once its real session has opened (MarkServing): a client without the tunnel key
// cannot hold a transport with it. All members are safe from every thread.
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

// The time limits that the registry applies to its transports.
struct TransportLimits {
  // A transport left without any frame connection is dropped after this time.
  std::chrono::milliseconds unconnectedGrace{30000};
  // The largest heartbeat interval honoured; a longer announced one is held to it.
  std::chrono::milliseconds maxHeartbeat{60000};
  // A transport with frame connections but no serving session is dropped after this time
  // (since it opened or since its last serving session closed); 0: never.
  std::chrono::milliseconds noSessionTimeout{30000};
};

class TransportRegistry {
 public:
  using Clock = std::chrono::steady_clock;

  struct Opened {
    uint32_t id;
    uint32_t key;
    uint32_t heartbeatInterval;  // the interval held to, in ms (the announced one or the cap)
  };

  static constexpr std::chrono::milliseconds kDefaultUnconnectedGrace{30000};

  TransportRegistry() : TransportRegistry(TransportLimits{}) {}
  explicit TransportRegistry(std::chrono::milliseconds unconnectedGrace);
  explicit TransportRegistry(const TransportLimits& limits);

  // A new transport; `heartbeatInterval` ms as announced, 0 = never dropped for silence.
  Opened OpenTransport(uint32_t heartbeatInterval);
  // True when `id` exists and `key` is its key.
  bool Attach(uint32_t id, uint32_t key);
  // Records traffic of a transport; false when it does not exist.
  bool Touch(uint32_t id);
  bool Exists(uint32_t id) const;
  // True when transport `id` exists and has at least one serving session.
  bool HasServingSession(uint32_t id) const;
  // A frame connection has opened or attached to transport `id`, resp. has closed.
  void AddConnection(uint32_t id);
  void RemoveConnection(uint32_t id);

  // Opens a session of transport `transportId`; nullopt when the transport is gone.
  // `serving` false: the session does not serve anybody until MarkServing.
  std::optional<ServerSession> OpenSession(uint32_t transportId, const std::string& userName,
                                           uint32_t timeout, uint32_t clientVersion,
                                           bool serving = true);
  // Session `sessionId` of transport `transportId` now serves a client.
  void MarkServing(uint32_t transportId, uint32_t sessionId);
  // The session `sessionId` when it belongs to transport `transportId`.
  std::optional<ServerSession> FindSession(uint32_t transportId, uint32_t sessionId) const;
  // Removes the session; returns it when it existed under that transport.
  std::optional<ServerSession> CloseSession(uint32_t transportId, uint32_t sessionId);

  enum class DropReason {
    Asked,        // DropTransport or DropAll
    Silent,       // silent for more than twice its (held) heartbeat interval
    Unconnected,  // no frame connection left for longer than the unconnected grace
    NoSession,    // no serving session for longer than the no-session time
  };
  struct Dropped {
    uint32_t transportId;
    std::vector<ServerSession> sessions;
    DropReason reason = DropReason::Asked;
  };
  // Removes every transport silent for more than twice its interval at `now`, every
  // transport left without a frame connection for longer than the unconnected grace, and
  // every transport with frame connections that has had no serving session for longer
  // than the no-session time.
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
    std::set<uint32_t> serving;          // the sessions among them that serve a client
    Clock::time_point sessionlessSince;  // opening, or the close of its last serving session
    bool framed = false;  // has had a frame connection (registry-call transports have none)
    size_t connections = 0;
    Clock::time_point unconnectedSince;
  };
  Dropped Remove(std::map<uint32_t, Transport>::iterator it);

  const TransportLimits limits_;
  mutable std::mutex mutex_;
  std::mt19937 random_;
  uint32_t next_transport_ = 1;
  uint32_t next_session_ = 1;
  std::map<uint32_t, Transport> transports_;
  std::map<uint32_t, ServerSession> sessions_;
};

}  // namespace vantera
