// The connections of one listener, each served on a thread of its own: the bookkeeping that
// the TCP, pipe and registry listeners share.
//
// A listener hands every socket it accepts to Admit(), which numbers it (numbers count every
// socket accepted, refused ones included), refuses it beyond the limit of one source
// address or beyond the listener's limit, sets its time-outs and starts the listener's
// serving function on a new thread. Once that function returns, the socket is closed and
// the connection counts as finished; ReapFinished() joins the finished threads and
// StopAll() shuts every socket down and joins every thread.
//
// A full listener makes room for a new socket by closing its oldest connection that does
// no work (Evictable(), e.g. a transport without a session) and has been open for the
// eviction age, so that idle connections cannot lock out a client that comes to work.
// Refusals, and evictions apart, are logged at most once per 10 s (the next line tells
// how many were held back); the first refusal or eviction of each full episode logs how many
// connections each source address holds (at most once a minute), so that the administrator sees who
// fills the listener.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/log_throttle.h"
#include "server/server_log.h"

namespace vantera {

// One accepted socket and its thread. Listeners derive their own connection from it.
class ServedConnection {
 public:
  virtual ~ServedConnection() = default;

  // True when the connection may be closed to make room in a full listener: it does no
  // work for anybody. Called under the lock of its ConnectionThreads. None by default.
  virtual bool Evictable() const { return false; }

  // Asks the serving thread to end: sets `drop` and shuts the socket down, which wakes a
  // thread waiting on it. Safe from any thread.
  void Shutdown();
  // Closes the socket (once); safe against a Shutdown from another thread.
  void CloseSocket();

  uint64_t number = 0;  // set by Admit
  int fd = -1;          // the socket until CloseSocket
  std::string source;   // the client's address, set before Admit; empty: not limited by it
  std::atomic<bool> drop{false};
  std::atomic<bool> finished{false};  // the serving function has returned

 private:
  std::chrono::steady_clock::time_point admitted_;
  friend class ConnectionThreads;
  std::mutex mutex_;  // guards fd against close while another thread shuts it down
  std::thread thread_;
};

class ConnectionThreads {
 public:
  // `maxConnections`: how many may be open at once; `maxPerSource`: how many of them may
  // come from one source address (0: no such limit). Every admitted socket gets a send
  // time-out of 30 s (a client that never reads its answers cannot hold a thread forever)
  // and the receive time-out given. `evictionAge`: how long an evictable connection must
  // have been open before a full listener closes it to make room.
  ConnectionThreads(ServerLog& log, size_t maxConnections, std::chrono::milliseconds receiveTimeout,
                    size_t maxPerSource = 0,
                    std::chrono::milliseconds evictionAge = std::chrono::seconds(2));
  ~ConnectionThreads();  // StopAll()
  ConnectionThreads(const ConnectionThreads&) = delete;
  ConnectionThreads& operator=(const ConnectionThreads&) = delete;

  // Takes `fd`, just accepted, into `connection` and numbers it. Beyond the limit of its
  // source the socket is closed with "<label> refused: N connections open from SOURCE".
  // Beyond the overall limit the oldest evictable connection is shut down to make room
  // ("<label> admitted in place of connection M from SOURCE, which had no work"); when
  // there is none, the socket is closed with "<label> refused: N connections open". At
  // the start of a full episode either line adds ", the server is full; by address: A n,
  // B m, ...". Otherwise, with `logOpening`, the line "<label>" is logged. An admitted
  // socket's `serve` runs on a thread of its own.
  // `label` is called after numbering, so it may name the connection's number.
  void Admit(std::shared_ptr<ServedConnection> connection, int fd,
             const std::function<std::string()>& label, bool logOpening,
             std::function<void()> serve);

  // Joins the threads of the finished connections and forgets them.
  void ReapFinished();
  // Shuts every connection down and joins every thread. No Admit may run meanwhile.
  void StopAll();

  // Calls `f` for every open connection, under the lock that Admit and the reaping take.
  void ForEach(const std::function<void(ServedConnection&)>& f);

 private:
  void Reap(bool all);
  // "A n, B m, ..." for the sources holding the most connections. Under the lock.
  std::string SourceBreakdown() const;
  // The oldest evictable connection open for the eviction age at `now`, not yet asked to
  // end; null when there is none. Under the lock.
  std::shared_ptr<ServedConnection> OldestEvictable(std::chrono::steady_clock::time_point now);

  ServerLog& log_;
  const size_t max_connections_;
  const size_t max_per_source_;
  const std::chrono::milliseconds receive_timeout_;
  const std::chrono::milliseconds eviction_age_;
  std::mutex mutex_;
  std::list<std::shared_ptr<ServedConnection>> connections_;
  std::map<std::string, size_t> per_source_;  // open connections by source (non-empty ones)
  uint64_t next_number_ = 1;
  bool full_ = false;  // the last socket was refused for the overall limit
  LogThrottle refusals_{std::chrono::seconds(10)};
  LogThrottle evictions_{std::chrono::seconds(10)};
  LogThrottle breakdowns_{std::chrono::seconds(60)};
};

}  // namespace vantera
