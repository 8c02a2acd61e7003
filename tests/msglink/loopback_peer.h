// Test helpers: a loopback listener and peer connection driven from the test's own thread,
// and a bounded wait that runs the Qt event loop meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vantera::test {

// Creates the QCoreApplication the socket and timers need (once per test program).
void EnsureQtApp();

// Runs the Qt event loop until `done` is true or `timeout_ms` passed; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000);

// Runs the Qt event loop for `ms` milliseconds (to show that something does NOT happen).
void RunEventsFor(int ms);

// One accepted loopback connection (non-blocking).
class PeerConn {
 public:
  PeerConn() = default;
  explicit PeerConn(int fd) : fd_(fd) {}
  PeerConn(PeerConn&& o) noexcept : fd_(o.fd_), eof_(o.eof_), in_(std::move(o.in_)) { o.fd_ = -1; }
  PeerConn& operator=(PeerConn&& o) noexcept;
  ~PeerConn();

  bool valid() const { return fd_ >= 0; }
  void Send(const std::string& bytes);  // all of it (waits for room, bounded)
  // Reads what is waiting into the input; true when something arrived or the peer closed.
  bool Poll();
  // Waits (running the Qt loop) until the input holds a CR LF line; returns it without
  // CR LF and removes it from the input. Empty optional-like: returns false on time-out.
  bool ReadLine(std::string* line, int timeout_ms = 5000);
  bool eof() const { return eof_; }
  std::string& input() { return in_; }
  void Close();  // orderly close (FIN)
  void Reset();  // abortive close (RST)

 private:
  int fd_ = -1;
  bool eof_ = false;
  std::string in_;
};

// A listening socket on 127.0.0.1 and a free port.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  uint16_t port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }
  // Waits (running the Qt loop) for a connection.
  PeerConn Accept(int timeout_ms = 5000);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace vantera::test
