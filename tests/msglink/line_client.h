// Test helper: a TWSocket in line mode on a loopback connection whose events are written
// down in order, for the socket's tests.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "msglink/WSocket.h"
#include "tests/msglink/loopback_peer.h"

namespace vantera::test {

// A line socket that can also be made to read at once, the way a readiness event does,
// without going through the event loop: a test then decides whether the read comes before
// a delivery pass the socket has queued.
class ProbeSocket : public TWSocket {
 public:
  void ReadNow() {
    bool eof = false;
    uint16_t error = 0;
    DeliveryPass(true, eof, error);
  }
};

// Writes down "connected <code>", "line <text>" and "closed <code>"; the line handler
// throws on `fail_on` and answers "answer" to `answer_on`.
class LineClient {
 public:
  LineClient() {
    EnsureQtApp();
    sock.OnSessionConnected = [this](TCustomWSocket&, uint16_t e) {
      events.push_back("connected " + std::to_string(e));
    };
    sock.OnSessionClosed = [this](TCustomWSocket&, uint16_t e) {
      events.push_back("closed " + std::to_string(e));
    };
    sock.OnDataAvailable = [this](TCustomWSocket& s, uint16_t) {
      std::string line = s.ReceiveText();
      events.push_back("line " + line);
      if (line == fail_on)
        throw std::runtime_error("handler failed");
      if (line == answer_on)
        s.SendText("answer\r\n");
    };
  }
  void Connect(uint16_t port) {
    sock.SetProto("tcp");
    sock.SetPort(std::to_string(port));
    sock.SetAddr("127.0.0.1");
    sock.SetLineMode(true);
    sock.SetLineEnd("\r\n");
    sock.Connect();
  }
  // Connects to `listener` and returns the peer's side of the connection.
  PeerConn ConnectTo(LoopbackListener& listener) {
    Connect(listener.port());
    return listener.Accept();
  }
  // Waits (bounded) until `n` events are written down.
  bool Has(size_t n) {
    return WaitUntil([&] { return events.size() >= n; });
  }
  size_t Closes() const {
    size_t n = 0;
    for (const std::string& e : events)
      n += e.compare(0, 6, "closed") == 0 ? 1 : 0;
    return n;
  }
  // Waits (bounded) until `n` close events are written down.
  bool HasCloses(size_t n) {
    return WaitUntil([&] { return Closes() >= n; });
  }

  ProbeSocket sock;
  std::vector<std::string> events;
  std::string fail_on = "\x01";
  std::string answer_on = "\x01";
};

}  // namespace vantera::test
