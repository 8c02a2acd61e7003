// The connections of one listener, each served on a thread of its own: the bookkeeping that
// the TCP, pipe and registry listeners share.
//
// A listener hands every socket it accepts to Admit(), which numbers it (numbers count every
// socket accepted, refused ones included), refuses it beyond the listener's limit, sets its
// time-outs and starts the listener's serving function on a new thread. Once that function
// returns, the socket is closed and the connection counts as finished; ReapFinished() joins
// the finished threads and StopAll() shuts every socket down and joins every thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/server_log.h"

namespace vantera {

// One accepted socket and its thread. Listeners derive their own connection from it.
class ServedConnection {
 public:
  virtual ~ServedConnection() = default;

  // Asks the serving thread to end: sets `drop` and shuts the socket down, which wakes a
  // thread waiting on it. Safe from any thread.
  void Shutdown();
  // Closes the socket (once); safe against a Shutdown from another thread.
  void CloseSocket();

  uint64_t number = 0;  // set by Admit
  int fd = -1;          // the socket until CloseSocket
  std::atomic<bool> drop{false};
  std::atomic<bool> finished{false};  // the serving function has returned

 private:
  friend class ConnectionThreads;
  std::mutex mutex_;  // guards fd against close while another thread shuts it down
  std::thread thread_;
};

class ConnectionThreads {
 public:
  // `maxConnections`: how many may be open at once. Every admitted socket gets a send
  // time-out of 30 s (a client that never reads its answers cannot hold a thread forever)
  // and the receive time-out given.
  ConnectionThreads(ServerLog& log, size_t maxConnections,
                    std::chrono::milliseconds receiveTimeout);
  ~ConnectionThreads();  // StopAll()
  ConnectionThreads(const ConnectionThreads&) = delete;
  ConnectionThreads& operator=(const ConnectionThreads&) = delete;

  // Takes `fd`, just accepted, into `connection` and numbers it. Beyond the limit the socket
  // is closed with the log line "<label> refused: N connections open"; otherwise, with
  // `logOpening`, the line "<label>" is logged and `serve` runs on a thread of its own.
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

  ServerLog& log_;
  const size_t max_connections_;
  const std::chrono::milliseconds receive_timeout_;
  std::mutex mutex_;
  std::list<std::shared_ptr<ServedConnection>> connections_;
  uint64_t next_number_ = 1;
};

}  // namespace vantera
