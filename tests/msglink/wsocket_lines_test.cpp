// TWSocket: one close event per connection and whole lines, also when a handler sends on a
// dead connection or throws.
#include <gtest/gtest.h>
#include <unistd.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "msglink/WSocket.h"
#include "tests/msglink/line_client.h"
#include "tests/msglink/loopback_peer.h"

namespace vantera {
namespace {

using namespace test;
using Events = std::vector<std::string>;

// The peer resets the connection after a last line without line end; the handler of that
// line answers, and the answer fails on the dead connection. The close is told once.
TEST(WSocketLines, AnswerToTheLastLineOnADeadConnectionClosesOnce) {
  LoopbackListener listener;
  LineClient c;
  c.answer_on = "tail";
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("tail");
  peer.Reset();
  ASSERT_TRUE(c.HasCloses(1));
  RunEventsFor(100);
  EXPECT_EQ(c.Closes(), 1u) << ::testing::PrintToString(c.events);
  ASSERT_GE(c.events.size(), 3u);
  EXPECT_EQ(c.events[1], "line tail");
  EXPECT_EQ(c.sock.State(), wsClosed);

  // The next connection of the same socket has its own close event.
  PeerConn peer2 = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(4));
  peer2.Close();
  ASSERT_TRUE(c.HasCloses(2));
  RunEventsFor(50);
  EXPECT_EQ(c.Closes(), 2u) << ::testing::PrintToString(c.events);
}

// A close of our own inside the close event's last line, and a Close after the close:
// still one event.
TEST(WSocketLines, CloseInsideTheLastLineClosesOnce) {
  LoopbackListener listener;
  LineClient c;
  c.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    c.events.push_back("line " + s.ReceiveText());
    s.Close();
    s.Close();
  };
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("one\r\ntwo");
  peer.Close();
  ASSERT_TRUE(c.HasCloses(1));
  RunEventsFor(50);
  EXPECT_EQ(c.events, (Events{"connected 0", "line one\r\n", "line two", "closed 0"}));
}

// A handler throws on one line while further lines wait in the buffer, and the next read
// comes before the pass that would deliver them: every line is still offered whole.
TEST(WSocketLines, ThrowingHandlerNeverMergesTheLinesBehindIt) {
  LoopbackListener listener;
  LineClient c;
  c.fail_on = "bad\r\n";
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
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
  LineClient c;
  c.fail_on = "bad\r\n";
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("a\r\nbad\r\nb\r\nrest");
  peer.Close();
  ASSERT_TRUE(c.HasCloses(1));
  RunEventsFor(50);
  EXPECT_EQ(c.events, (Events{"connected 0", "line a\r\n", "line bad\r\n", "line b\r\n",
                              "line rest", "closed 0"}));

  // The same when our own Close offers what is left.
  LineClient d;
  d.fail_on = "bad\r\n";
  d.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    std::string line = s.ReceiveText();
    d.events.push_back("line " + line);
    if (line == "first\r\n")
      s.Close();
    else if (line == "bad\r\n")
      throw std::runtime_error("handler failed");
  };
  PeerConn peer2 = d.ConnectTo(listener);
  ASSERT_TRUE(d.Has(1));
  peer2.Send("first\r\nbad\r\nafter\r\n");
  ASSERT_TRUE(d.HasCloses(1));
  RunEventsFor(50);
  EXPECT_EQ(d.events, (Events{"connected 0", "line first\r\n", "line bad\r\n", "line after\r\n",
                              "closed 0"}));
}

}  // namespace
}  // namespace vantera
