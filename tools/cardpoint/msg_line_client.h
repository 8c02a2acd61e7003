// A blocking client of the message server: connects, answers the "Login:" prompt and
// sends and receives enciphered message lines. Every wait has a deadline.
//
// Used by vantera-cardpoint and by the tests and benchmarks that stand in for a card point
// or a workstation. Not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "msglink/msgcipher.h"

namespace vantera {

// Connection lost, refused, or a wire failure.
class MsgClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MsgLineClient {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxLine = 64 * 1024;  // longest wire line accepted from the server

  MsgLineClient() = default;
  ~MsgLineClient();
  MsgLineClient(const MsgLineClient&) = delete;
  MsgLineClient& operator=(const MsgLineClient&) = delete;

  // Connects to host (IPv4 address or name) and port; throws MsgClientError.
  void Connect(const std::string& host, uint16_t port, Clock::duration timeout);
  // Waits for "Login:" and answers it with the login line under `name`; throws
  // MsgClientError on a time-out or a lost connection.
  void Login(const std::string& name, Clock::duration timeout);
  // Enciphers a plain line and sends it with CR LF.
  void SendPlain(const std::string& plain);
  // Sends bytes as they are (tests use it for garbage).
  void SendRaw(const std::string& bytes);
  // The next received wire line without CR LF; false at the deadline. Throws
  // MsgClientError when the connection ends.
  bool ReadWire(std::string* wire, Clock::time_point deadline);
  // The next received line, deciphered ("Login:" comes back as it is).
  bool ReadPlain(std::string* plain, Clock::time_point deadline);
  void Close();
  bool connected() const { return fd_ >= 0; }

  std::string Encipher(const std::string& plain);
  std::string Decipher(const std::string& wire);

 private:
  int fd_ = -1;
  std::string in_;
  Chipper chipper_;
};

// The milliseconds to hand poll() for a wait until `deadline`: 0 once it has passed, the
// time left rounded up, at most INT_MAX. Never cut shorter: a long wait is one poll.
int PollTimeoutMs(MsgLineClient::Clock::time_point deadline, MsgLineClient::Clock::time_point now);

}  // namespace vantera
