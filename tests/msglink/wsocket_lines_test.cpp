// TWSocket: one close event per connection and whole lines, also when a handler sends on a
// dead connection or throws.
#include <gtest/gtest.h>
#include <unistd.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "msglink/WSocket.h"
#include "tests/msglink/loopback_peer.h"

namespace vantera {
namespace {

using test::LoopbackListener;
using test::PeerConn;
using test::RunEventsFor;
using test::WaitUntil;
using Events = std::vector<std::string>;

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

struct Client {
  Client() {
    test::EnsureQtApp();
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
  size_t Closes() const {
    size_t n = 0;
    for (const std::string& e : events)
      n += e.compare(0, 6, "closed") == 0 ? 1 : 0;
    return n;
  }

  ProbeSocket sock;
  Events events;
  std::string fail_on = "\x01";
  std::string answer_on = "\x01";
};

// The peer resets the connection after a last line without line end; the handler of that
// line answers, and the answer fails on the dead connection. The close is told once.
TEST(WSocketLines, AnswerToTheLastLineOnADeadConnectionClosesOnce) {
  LoopbackListener listener;
  Client c;
  c.answer_on = "tail";
  c.Connect(listener.port());
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return c.events.size() >= 1; }));
  peer.Send("tail");
  peer.Reset();
  ASSERT_TRUE(WaitUntil([&] { return c.Closes() >= 1; }));
  RunEventsFor(100);
  EXPECT_EQ(c.Closes(), 1u) << ::testing::PrintToString(c.events);
  ASSERT_GE(c.events.size(), 3u);
  EXPECT_EQ(c.events[1], "line tail");
  EXPECT_EQ(c.sock.State(), wsClosed);

  // The next connection of the same socket has its own close event.
  c.Connect(listener.port());
  PeerConn peer2 = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return c.events.size() >= 4; }));
  peer2.Close();
  ASSERT_TRUE(WaitUntil([&] { return c.Closes() >= 2; }));
  RunEventsFor(50);
  EXPECT_EQ(c.Closes(), 2u) << ::testing::PrintToString(c.events);
}

// A close of our own inside the close event's last line, and a Close after the close:
// still one event.
TEST(WSocketLines, CloseInsideTheLastLineClosesOnce) {
  LoopbackListener listener;
  Client c;
  c.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    c.events.push_back("line " + s.ReceiveText());
    s.Close();
    s.Close();
  };
  c.Connect(listener.port());
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return c.events.size() >= 1; }));
  peer.Send("one\r\ntwo");
  peer.Close();
  ASSERT_TRUE(WaitUntil([&] { return c.Closes() >= 1; }));
  RunEventsFor(50);
  EXPECT_EQ(c.events, (Events{"connected 0", "line one\r\n", "line two", "closed 0"}));
}

// A handler throws on one line while further lines wait in the buffer, and the next read
// comes before the pass that would deliver them: every line is still offered whole.
TEST(WSocketLines, ThrowingHandlerNeverMergesTheLinesBehindIt) {
  LoopbackListener listener;
  Client c;
  c.fail_on = "bad\r\n";
  c.Connect(listener.port());
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return c.events.size() >= 1; }));
  // From here on the test does the reading itself, without the event loop.
  peer.Send("bad\r\nB\r\nC1");
  usleep(20000);
  EXPECT_THROW(c.sock.ReadNow(), std::runtime_error);
  peer.Send("C2\r\nD\r\n");
  usleep(20000);
  c.sock.ReadNow();
  EXPECT_EQ(c.events,
            (Events{"connected 0", "line bad\r\n", "line B\r\n", "line C1C2\r\n", "line D\r\n"}));
}

// Lines that wait behind a failing line when the peer closes are each offered once, whole;
// the failure costs its own line only.
TEST(WSocketLines, ThrowingHandlerAtTheCloseLosesOnlyItsLine) {
  LoopbackListener listener;
  Client c;
  c.fail_on = "bad\r\n";
  c.Connect(listener.port());
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return c.events.size() >= 1; }));
  peer.Send("a\r\nbad\r\nb\r\nrest");
  peer.Close();
  ASSERT_TRUE(WaitUntil([&] { return c.Closes() >= 1; }));
  RunEventsFor(50);
  EXPECT_EQ(c.events, (Events{"connected 0", "line a\r\n", "line bad\r\n", "line b\r\n",
                              "line rest", "closed 0"}));

  // The same when our own Close offers what is left.
  Client d;
  d.fail_on = "bad\r\n";
  d.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    std::string line = s.ReceiveText();
    d.events.push_back("line " + line);
    if (line == "first\r\n")
      s.Close();
    else if (line == "bad\r\n")
      throw std::runtime_error("handler failed");
  };
  d.Connect(listener.port());
  PeerConn peer2 = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return d.events.size() >= 1; }));
  peer2.Send("first\r\nbad\r\nafter\r\n");
  ASSERT_TRUE(WaitUntil([&] { return d.Closes() >= 1; }));
  RunEventsFor(50);
  EXPECT_EQ(d.events, (Events{"connected 0", "line first\r\n", "line bad\r\n", "line after\r\n",
                              "closed 0"}));
}

}  // namespace
}  // namespace vantera
