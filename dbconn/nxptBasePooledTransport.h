// Transports of the database client: the shared base, and the pooled transport that every
// socket-like transport (TCP, local pipe) builds on.
//
// A transport carries requests of the remote engine to the server and brings the replies
// back. The engine sees four operations on a started transport: EstablishSession,
// Request, Post and CloseSession. A pooled transport keeps a pool of open connections to
// one server; each request takes a connection for its whole exchange, so requests from
// several threads run in parallel on separate connections.
//
// Invariants of a started client transport:
//  1. A connection is used by one thread at a time: from GetConnection to
//     ReleaseConnection (or its destruction after any failure on it).
//  2. Idle connections wait in a last-in-first-out pool and stay open.
//  3. Every connection that exists is in the connection list (IsConnected, Stop).
//  4. The first connection performs mkOpenTransport and gives the transport its id and
//     key; every later one presents the key with mkAttachConnection.
//  5. Once the failed flag is set every operation fails at once (11276) without touching
//     the network; only Stop and a new Start clear it.
//  6. No lock is held while waiting for a reply.
//  7. Every wait on a connection has a deadline: a request's time-out plus WaitMargin
//     (a login the same with its time-out; connecting, handshakes, posts and heartbeats
//     Timeout plus WaitMargin). A wait that passes it fails like a lost connection.
//  8. A connection joins the connection list only once it is whole and only while the
//     start that made it lasts; the idle pool, the start generation and the open flag
//     change together under the pool lock, so no connection of an earlier start returns
//     to the pool or leaves it.
//
// States of the transport and what moves them:
//   Inactive --Open--> Stopped --DoStart: server choice, first connection, heartbeat-->
//   Started --any lost connection--> Started + failed --Close/DoStop--> Stopped/Inactive
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxllComponent.h"
#include "protocol/bounded_wait.h"
#include "protocol/nxllException.h"
#include "protocol/transport_frame.h"

namespace vantera {

class TnxBlowFishRC4;

// Receives the result of a Request: exactly once, on the thread that called Request,
// before Request returns. `data` is null when the reply has no payload and is valid only
// during the call.
using TnxReplyCallback = void (*)(uint32_t messageId, uint32_t errorCode, const char* data,
                                  uint32_t length, void* cookie);

enum class TnxTransportMode : uint8_t { Client = 0, Listening = 1 };

// Thread priorities of the published properties. Threads here run at the normal priority;
// the values are kept for the settings that name them.
enum class TnxThreadPriority : uint8_t {
  Idle,
  Lowest,
  Lower,
  Normal,
  Higher,
  Highest,
  TimeCritical
};

class TnxBaseTransport;

// Asked when discovery found several servers: set `serverName` and `result` true to pick
// one; otherwise the first name of the sorted list is used.
using TnxChooseServerEvent =
    std::function<void(TnxBaseTransport& sender, const std::vector<std::string>& serverNames,
                       std::string& serverName, bool& result)>;
// Told before (starting true) and after (false) discovery.
using TnxFindServersEvent = std::function<void(TnxBaseTransport& sender, bool starting)>;

struct TnxTransportStatistics {
  uint64_t messagesSent = 0;
  uint64_t messagesReceived = 0;
  uint64_t bytesSent = 0;  // on the wire, headers included
  uint64_t bytesReceived = 0;
  uint64_t uncompressedBytesSent = 0;  // payload before compression
  uint64_t uncompressedBytesReceived = 0;
};

// Adds `name` to a list kept sorted without regard to letter case; a name already there
// (in any letter case) is not added again. Server lists are kept this way.
void AddSortedServerName(std::vector<std::string>& list, const std::string& name);

// ---------------------------------------------------------------------------------------
// The base of every transport: server name, server choice, statistics and the four
// operations of the remote engine.
class TnxBaseTransport : public TnxStateComponent {
 public:
  explicit TnxBaseTransport(std::string name = {});
  ~TnxBaseTransport() override;

  // Server to reach; empty means: find one by discovery when starting.
  const std::string& ServerNameRuntime() const { return server_name_; }
  void SetServerNameRuntime(const std::string& name);
  // Time budget in ms handed to discovery (default 3000).
  uint32_t Timeout() const { return timeout_; }
  void SetTimeout(uint32_t ms) { timeout_ = ms; }
  TnxTransportMode Mode() const { return mode_; }
  void SetMode(TnxTransportMode mode);
  // Bandwidth limit and latency simulation: kept, always 0 in this program.
  uint32_t MaxBytesPerSecond() const { return max_bytes_per_second_; }
  void SetMaxBytesPerSecond(uint32_t v) { max_bytes_per_second_ = v; }
  uint32_t PingTime() const { return ping_time_; }
  void SetPingTime(uint32_t v) { ping_time_ = v; }

  TnxChooseServerEvent OnChooseServer;
  TnxFindServersEvent OnFindServers;

  // Opens a session on the server: 0 and the new id in `sessionId`, else an error code.
  virtual uint32_t EstablishSession(uint32_t transportId, const std::string& userName,
                                    const std::string& password, uint32_t timeout,
                                    uint32_t& sessionId) = 0;
  // Sends one request and waits for its reply; see TnxReplyCallback.
  virtual void Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId,
                       const char* data, uint32_t length, uint32_t timeout,
                       TnxReplyCallback callback, void* cookie) = 0;
  // Sends a one-way message; failures are dropped.
  virtual void Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
                    uint32_t length, uint32_t timeout) = 0;
  // Closes a session on the server; failures are dropped.
  virtual void CloseSession(uint32_t transportId, uint32_t sessionId, uint32_t timeout) = 0;

  // Whether a connection to the server was lost (or timed out) since the transport
  // started: the session above it then has to be opened again. The base never loses one.
  virtual bool ConnectionLost() const { return false; }
  // The transport this one carries its messages through (the encrypted transport's
  // inner transport), or none.
  virtual TnxBaseTransport* InnerTransport() const { return nullptr; }
  // Gives the server up before the transport is closed: from now on every operation
  // fails at once (11276) instead of waiting, until the transport stops. Closing a lost
  // chain then costs no waits. The base has nothing to give up.
  virtual void Abandon() {}

  // Fills `list` with the names of reachable servers within `timeout` ms. The base finds
  // none.
  virtual void GetServerNames(std::vector<std::string>& list, uint32_t timeout);

  // Server choice for an empty server name: discovery, then one name, the handler's
  // choice or the first name. Runs on the main thread (see SetMainThreadRunner).
  void FindServer();

  // Installs how work is handed to the main thread: the runner must run the function on
  // the main thread and return when it has run (or run it at once when called there).
  // Without a runner server choice runs on the calling thread.
  static void SetMainThreadRunner(std::function<void(const std::function<void()>&)> runner);

  TnxTransportStatistics Statistics() const;

  [[noreturn]] void RaiseError(const std::string& text, uint32_t code = 0) const override;
  // Raises the component's exception with the table text of `code`.
  [[noreturn]] void RaiseCode(uint32_t code) const;

 protected:
  void CountSent(uint64_t wireBytes, uint64_t plainBytes);
  void CountReceived(uint64_t wireBytes, uint64_t plainBytes);
  void ResetStatistics();

 private:
  void RunServerChoice();

  std::string server_name_;
  uint32_t timeout_ = 3000;
  TnxTransportMode mode_ = TnxTransportMode::Client;
  uint32_t max_bytes_per_second_ = 0;
  uint32_t ping_time_ = 0;

  mutable std::mutex stats_mutex_;
  TnxTransportStatistics stats_;
};

class TnxBasePooledTransport;

// One connection of a pooled transport to its server. The constructor of a concrete
// connection opens it (raising on failure) and the destructor closes it. Used by one
// thread at a time; only Close may be called from another thread (the transport's stop),
// to end a pending read. The transport puts a connection into its connection list only
// after the constructor has returned (so a stop never reaches one that is half made); a
// concrete connection calls Detach() first in its destructor, so that the stop never
// reaches one that is half destroyed.
//
// Every wait of a connection (connecting in the constructor, sending, receiving) ends at
// Deadline(): then it raises the socket error for a time-out (10060).
class TnxBasePooledConnection {
 public:
  explicit TnxBasePooledConnection(TnxBasePooledTransport& transport);
  virtual ~TnxBasePooledConnection();
  TnxBasePooledConnection(const TnxBasePooledConnection&) = delete;
  TnxBasePooledConnection& operator=(const TnxBasePooledConnection&) = delete;

  using MessageHandler =
      std::function<void(const FrameHeader& header, const char* payload, size_t length)>;

  // Sends one message. The caller sets transport id, session id, message id, kind and
  // (for a compressed payload) the uncompressed length; the connection sets the rest.
  virtual void SendMessage(FrameHeader header, const char* data, size_t length) = 0;
  // Reads one whole message: its header into `header`, at most `capacity` payload bytes
  // into `dest` (their count into `copied`); the rest of the payload is discarded.
  virtual void ReceiveInto(FrameHeader& header, char* dest, size_t capacity, size_t& copied) = 0;
  // Reads one whole message and delivers it as the reply of a request
  // (TnxBasePooledTransport::HandleReply).
  virtual void ReceiveReply(TnxReplyCallback callback, void* cookie) = 0;
  // Reads one whole message and hands it to `handler`.
  virtual void ReceiveAny(const MessageHandler& handler) = 0;
  // Marks the connection as closing (its failures then end silently) and ends any pending
  // read or write. Safe from any thread.
  virtual void Close() = 0;

  TnxBasePooledTransport& Transport() const { return transport_; }
  // Leaves the transport's connection list; idempotent.
  void Detach();
  // The start of the transport that the connection belongs to (see ReleaseConnection).
  uint64_t Generation() const { return generation_; }

  // When the exchange in progress must be done. Set by the transport before each
  // exchange; at construction it is the transport's set-up bound from now.
  WaitClock::time_point Deadline() const { return deadline_; }
  void SetDeadline(WaitClock::time_point deadline) { deadline_ = deadline; }

 private:
  friend class TnxBasePooledTransport;
  TnxBasePooledTransport& transport_;
  uint64_t generation_ = 0;
  bool attached_ = false;  // in the transport's connection list
  WaitClock::time_point deadline_;
};

// A compressor of message payloads, registered under a compression type (1 to 255).
class TnxCompressor {
 public:
  virtual ~TnxCompressor() = default;
  // Compresses `length` bytes into `out` (room for `capacity` bytes); returns the
  // compressed length, or 0 when the data did not fit.
  virtual size_t Compress(const char* data, size_t length, char* out, size_t capacity) = 0;
  // Restores exactly `outLength` bytes into `out`; throws on malformed input.
  virtual void Decompress(const char* data, size_t length, char* out, size_t outLength) = 0;
};

// ---------------------------------------------------------------------------------------
class TnxBasePooledTransport : public TnxBaseTransport {
 public:
  explicit TnxBasePooledTransport(std::string name = {});
  ~TnxBasePooledTransport() override;

  // TCP port of the server (16000); changing it needs an inactive transport.
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port);
  // Compressor used for outgoing payloads longer than CompressLimit; 0 = none.
  uint8_t CompressType() const { return compress_type_; }
  void SetCompressType(uint8_t type) { compress_type_ = type; }
  uint32_t CompressLimit() const { return compress_limit_; }
  void SetCompressLimit(uint32_t limit) { compress_limit_ = limit; }
  // Period of the client heartbeat in ms (10000); 0 = no heartbeat.
  uint32_t HeartbeatInterval() const { return heartbeat_interval_; }
  void SetHeartbeatInterval(uint32_t ms);
  TnxThreadPriority HeartbeatThreadPriority() const { return heartbeat_priority_; }
  void SetHeartbeatThreadPriority(TnxThreadPriority p) { heartbeat_priority_ = p; }
  // Server-to-client callback connections; this program uses none and none are served.
  uint8_t CallbackThreadCount() const { return callback_thread_count_; }
  void SetCallbackThreadCount(uint8_t n);
  // Server role only; kept for the settings that name them.
  uint32_t WatchdogInterval() const { return watchdog_interval_; }
  void SetWatchdogInterval(uint32_t ms) { watchdog_interval_ = ms; }
  TnxThreadPriority WatchdogThreadPriority() const { return watchdog_priority_; }
  void SetWatchdogThreadPriority(TnxThreadPriority p) { watchdog_priority_ = p; }
  TnxThreadPriority ServerThreadPriority() const { return server_priority_; }
  void SetServerThreadPriority(TnxThreadPriority p) { server_priority_ = p; }
  uint32_t ConcurrentIOCPThreads() const { return concurrent_iocp_threads_; }
  void SetConcurrentIOCPThreads(uint32_t n) { concurrent_iocp_threads_ = n; }
  // Largest message (header included) that a connection accepts from the server; a
  // longer announced length is a receive failure. 64 MiB by default.
  uint32_t MaxMessageLength() const { return max_message_length_; }
  void SetMaxMessageLength(uint32_t bytes) { max_message_length_ = bytes; }

  // Added to every wait's own time-out to bound it (2000 ms by default).
  uint32_t WaitMargin() const { return wait_margin_; }
  void SetWaitMargin(uint32_t ms) { wait_margin_ = ms; }
  // The bound of waits without a time-out of their own: Timeout() + WaitMargin() ms.
  uint32_t SetupBound() const;

  // Client state, readable from any thread.
  uint32_t TransportId() const { return transport_id_.load(); }
  bool Failed() const { return failed_.load(); }
  // Failed, or a connection broke or timed out during an exchange since the start.
  bool ConnectionLost() const override { return failed_.load() || broken_.load(); }
  // Sets the failed flag (see TnxBaseTransport::Abandon).
  void Abandon() override { failed_ = true; }
  bool IsConnected() const;
  size_t ConnectionCount() const;
  size_t IdleConnectionCount() const;
  bool HeartbeatRunning() const;

  uint32_t EstablishSession(uint32_t transportId, const std::string& userName,
                            const std::string& password, uint32_t timeout,
                            uint32_t& sessionId) override;
  void Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
               uint32_t length, uint32_t timeout, TnxReplyCallback callback, void* cookie) override;
  void Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
            uint32_t length, uint32_t timeout) override;
  void CloseSession(uint32_t transportId, uint32_t sessionId, uint32_t timeout) override;

  // The reply path of a connection: checks the kind (anything but mkReply gives 11276),
  // decompresses, then DeliverReply. Raises when decompression fails.
  void HandleReply(const FrameHeader& header, const char* payload, size_t length,
                   TnxReplyCallback callback, void* cookie);
  // Counts a successful reply and calls the callback (no data for an empty payload).
  void DeliverReply(const FrameHeader& header, const char* payload, size_t length,
                    TnxReplyCallback callback, void* cookie);
  // For connections: account a message sent or received on the wire.
  void CountMessageSent(uint64_t wireBytes, uint64_t plainBytes) {
    CountSent(wireBytes, plainBytes);
  }

  // The process-wide compressor table (255 entries, none registered by this program).
  static void RegisterCompressor(uint8_t type, std::shared_ptr<TnxCompressor> compressor);
  static std::shared_ptr<TnxCompressor> Compressor(uint8_t type);

  [[noreturn]] void RaiseError(const std::string& text, uint32_t code = 0) const override;

 protected:
  // Opens one new connection to the server; raises on failure.
  virtual std::unique_ptr<TnxBasePooledConnection> CreateConnection() = 0;

  void DoStart() override;
  void DoStop() override;

  // A handshaken connection: from the idle pool, or a new one (four attempts).
  std::unique_ptr<TnxBasePooledConnection> GetConnection();
  // Back to the idle pool (a connection of an earlier start is destroyed instead).
  void ReleaseConnection(std::unique_ptr<TnxBasePooledConnection> connection);
  // One heartbeat message on some connection; raises when none could carry it.
  void SendHeartbeat();

 private:
  friend class TnxBasePooledConnection;
  friend class TnxHeartbeatThread;

  // Puts a new, whole connection into the connection list when the start `generation`
  // still lasts; false (and nothing changed) after a stop.
  bool AddConnection(TnxBasePooledConnection* connection, uint64_t generation);
  void RemoveConnection(TnxBasePooledConnection* connection);
  uint64_t CurrentGeneration() const { return generation_.load(); }
  void Handshake(TnxBasePooledConnection& connection);
  // Builds an outgoing message: compresses when the rules allow, else sends as it is.
  void SendPayload(TnxBasePooledConnection& connection, FrameHeader header, const char* data,
                   size_t length);
  void StopClient();

  uint16_t port_ = 16000;
  uint8_t compress_type_ = 0;
  uint32_t compress_limit_ = 512;
  uint32_t heartbeat_interval_ = 10000;
  TnxThreadPriority heartbeat_priority_ = TnxThreadPriority::TimeCritical;
  uint8_t callback_thread_count_ = 0;
  uint32_t watchdog_interval_ = 10000;
  TnxThreadPriority watchdog_priority_ = TnxThreadPriority::Highest;
  TnxThreadPriority server_priority_ = TnxThreadPriority::Normal;
  uint32_t concurrent_iocp_threads_ = 0;
  uint32_t max_message_length_ = 64u << 20;
  uint32_t wait_margin_ = 2000;

  std::atomic<uint32_t> transport_id_{0};
  std::atomic<uint32_t> transport_key_{0};  // stored before transport_id_
  std::atomic<bool> failed_{false};
  std::atomic<bool> broken_{false};  // a connection broke during an exchange
  // The start generation and the open flag change only under pool_mutex_.
  std::atomic<uint64_t> generation_{1};

  std::atomic<bool> open_{false};  // between the start and the stop of the client

  // The list outlives the pool when members are destroyed: pooled connections leave the
  // list in their destructors.
  mutable std::mutex list_mutex_;
  std::vector<TnxBasePooledConnection*> connections_;

  mutable std::mutex pool_mutex_;
  std::vector<std::unique_ptr<TnxBasePooledConnection>> idle_;
  std::mutex handshake_mutex_;  // serialises the first handshake (mkOpenTransport)

  std::mutex login_mutex_;
  std::unique_ptr<TnxBlowFishRC4> login_cipher_;  // keyed with the built-in login key

  std::unique_ptr<class TnxHeartbeatThread> heartbeat_;
};

// ---------------------------------------------------------------------------------------
// The client heartbeat: one mkHeartbeat at start (Start returns after it), then one every
// HeartbeatInterval ms until stopped, or until more than 10 heartbeats have failed.
class TnxHeartbeatThread {
 public:
  explicit TnxHeartbeatThread(TnxBasePooledTransport& transport);
  // Stops the thread.
  ~TnxHeartbeatThread();
  TnxHeartbeatThread(const TnxHeartbeatThread&) = delete;
  TnxHeartbeatThread& operator=(const TnxHeartbeatThread&) = delete;

  // Starts the thread and waits until its first heartbeat was tried.
  void Start();
  // Signals the stop and waits until the thread has ended.
  void Stop();
  bool Running() const { return running_.load(); }

 private:
  void Run();

  TnxBasePooledTransport& transport_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool first_done_ = false;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace vantera
