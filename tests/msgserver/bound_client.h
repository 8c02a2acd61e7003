// Test helper: a message-server client whose socket is bound to a chosen loopback source
// address (127.0.0.1, 127.0.0.2, ...) before it connects, so that tests can stand in for
// clients on different machines. Every wait has a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "msglink/msgcipher.h"

namespace vantera::test {

class BoundClient {
 public:
  using Clock = std::chrono::steady_clock;

  // Binds to source (port 0) and connects to 127.0.0.1:port; throws std::runtime_error.
  BoundClient(const std::string& source, uint16_t port);
  ~BoundClient();
  BoundClient(const BoundClient&) = delete;
  BoundClient& operator=(const BoundClient&) = delete;

  // Waits for "Login:" and answers it with the login line under name; throws
  // std::runtime_error when no prompt comes within 5 s or the connection ends.
  void Login(const std::string& name);
  void SendPlain(const std::string& plain);
  void SendRaw(const std::string& bytes);
  // The next line from the server, deciphered ("Login:" as it is); false at the deadline
  // or when the connection has ended (then closed() is true).
  bool ReadPlain(std::string* plain, Clock::duration wait);
  // Reads until the server closes the connection (true) or the wait is over (false).
  bool ClosedWithin(Clock::duration wait);
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool closed_ = false;
  std::string in_;
  Chipper chipper_;
};

}  // namespace vantera::test
