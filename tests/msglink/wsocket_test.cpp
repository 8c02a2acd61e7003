#include "msglink/WSocket.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "msglink/wsocket_resolve.h"
#include "tests/msglink/line_client.h"
#include "tests/msglink/loopback_peer.h"
#include "tests/msglink/program_runner.h"

namespace vantera {
namespace {

using namespace test;

TEST(WSocket, NewComponentDefaultsAndPropertyRules) {
  test::EnsureQtApp();
  TWSocket s;
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(s.LocalPort(), "0");
  EXPECT_EQ(s.LineEnd(), "\r\n");
  EXPECT_EQ(s.LineLimit(), 65536u);
  EXPECT_FALSE(s.LineMode());
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.LingerTimeout(), 0);
  s.SetAddr("  10.0.0.1 ");
  EXPECT_EQ(s.Addr(), "10.0.0.1");
  s.SetAddr("");
  EXPECT_EQ(s.Addr(), "");

  // Checks of Connect, in their order.
  EXPECT_THROW(
      {
        try {
          s.Connect();
        } catch (const ESocketException& e) {
          EXPECT_STREQ(e.what(), "Connect: No Port Specified");
          throw;
        }
      },
      ESocketException);
  s.SetPort("40201");
  try {
    s.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No IP Address Specified");
  }
  s.SetAddr("127.0.0.1");
  s.SetProto("");
  try {
    s.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Protocol Specified");
  }
  s.SetProto("nosuchproto");
  try {
    s.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(),
                 "connect: WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error "
                 "#11004");
  }
  s.SetProto("tcp");
  s.SetPort("nosuchservice");
  try {
    s.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(),
                 "connect: WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
  }
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocket, Resolution) {
  EXPECT_TRUE(WSocketIsDottedIP("127.0.0.1"));
  EXPECT_TRUE(WSocketIsDottedIP("  10.1.2.3  "));
  EXPECT_FALSE(WSocketIsDottedIP(".1.2.3"));
  EXPECT_FALSE(WSocketIsDottedIP("1.2.3"));
  EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4.5"));
  EXPECT_FALSE(WSocketIsDottedIP("1.2.3.256"));
  EXPECT_FALSE(WSocketIsDottedIP("1..2.3"));
  EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4x"));
  EXPECT_EQ(ntohl(WSocketResolveHost("10.1.2.3").s_addr), 0x0A010203u);
  EXPECT_EQ(ntohl(WSocketResolveHost("255.255.255.255").s_addr), 0xFFFFFFFFu);
  EXPECT_EQ(ntohl(WSocketResolveHost("localhost").s_addr), 0x7F000001u);
  std::string long_name(257, 'a');
  try {
    WSocketResolveHost(long_name);
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()), "WSocketResolveHost: '" + long_name + "' Invalid Hostname.");
  }
  EXPECT_EQ(WSocketResolvePort("40201", "tcp"), 40201);
  EXPECT_EQ(WSocketResolvePort("70000", "tcp"), 4464);  // cut to 16 bits
  EXPECT_EQ(WSocketResolvePort("80abc", "tcp"), 80);
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  auto message = [](auto fn) {
    try {
      fn();
    } catch (const ESocketException& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
            "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { WSocketResolvePort("http", ""); }), "WSocketResolvePort: Invalid Proto.");
  EXPECT_EQ(message([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
}

TEST(WSocket, ErrorTextsAndCodes) {
  EXPECT_EQ(std::string(ESocketException::FromCall(10057, "Send").what()),
            "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(WSocketErrorDesc(0), "No Error");
  EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
  EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
  EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
  EXPECT_EQ(WSocketCodeFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WSocketCodeFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WSocketCodeFromErrno(ENOTCONN), 10057);
  EXPECT_EQ(WSocketCodeFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WSocketCodeFromErrno(EPIPE), 10053);
}

TEST(WSocket, SendWhileClosedAndEmptySendText) {
  test::EnsureQtApp();
  TWSocket s;
  std::vector<uint16_t> closed;
  s.OnSessionClosed = [&](TCustomWSocket&, uint16_t e) { closed.push_back(e); };
  EXPECT_EQ(s.SendText(""), 0u);
  try {
    s.SendText("x");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(e.code(), 10057);
  }
  EXPECT_TRUE(closed.empty());  // already closed: no event
}

TEST(WSocket, ConnectingStateRulesAndCloseWithoutPort) {
  LoopbackListener listener;
  LineClient c;
  c.Connect(listener.port());
  ASSERT_EQ(c.sock.State(), wsConnecting);
  try {
    c.sock.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: Socket already in use");
  }
  EXPECT_NO_THROW(c.sock.SetAddr("127.0.0.1"));  // the present value: nothing happens
  try {
    c.sock.SetAddr("127.0.0.2");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Addr if not closed");
  }
  try {
    c.sock.SetPort("1");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Port if not closed");
  }
  try {
    c.sock.SetProto("udp");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Proto if not closed");
  }
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(c.Has(1));
  EXPECT_EQ(c.events[0], "connected 0");
  EXPECT_EQ(c.sock.State(), wsConnected);

  // Close raises OnSessionClosed once and restores the defaults: Addr and Port are gone.
  c.sock.Close();
  c.sock.Close();
  EXPECT_EQ(c.events, (std::vector<std::string>{"connected 0", "closed 0"}));
  EXPECT_EQ(c.sock.State(), wsClosed);
  EXPECT_EQ(c.sock.Addr(), "");
  EXPECT_EQ(c.sock.Proto(), "tcp");
  EXPECT_TRUE(c.sock.LineMode());  // line mode and line end keep their values
  try {
    c.sock.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Port Specified");
  }
  // The peer sees the connection end (reset, as linger is on with 0 s).
  EXPECT_TRUE(WaitUntil([&] { return peer.Poll() && peer.eof(); }));

  // The same socket connects again once the properties are set again.
  PeerConn peer2 = c.ConnectTo(listener);
  ASSERT_TRUE(peer2.valid());
  ASSERT_TRUE(c.Has(3));
  EXPECT_EQ(c.events[2], "connected 0");
}

TEST(WSocket, RefusedConnectReportsErrorThenClosed) {
  LineClient c;
  c.Connect(test::UnusedPort());
  ASSERT_TRUE(c.Has(2));
  EXPECT_EQ(c.events, (std::vector<std::string>{"connected 10061", "closed 0"}));
  EXPECT_EQ(c.sock.State(), wsClosed);
  EXPECT_EQ(c.sock.LastError(), 10061);
}

TEST(WSocket, LinesAcrossReadsAndLastLineBeforeClose) {
  LoopbackListener listener;
  LineClient c;
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));

  peer.Send("one\r\ntwo\r\n");  // two lines in one read
  ASSERT_TRUE(c.Has(3));
  peer.Send("three\r");  // CR at the end of one read ...
  RunEventsFor(50);
  EXPECT_EQ(c.events.size(), 3u);
  peer.Send("\nfour");  // ... its LF at the start of the next
  ASSERT_TRUE(c.Has(4));
  RunEventsFor(20);
  peer.Close();  // "four" has no line end: it is offered before the close event
  ASSERT_TRUE(c.Has(6));
  EXPECT_EQ(c.events, (std::vector<std::string>{"connected 0", "line one\r\n", "line two\r\n",
                                                "line three\r\n", "line four", "closed 0"}));
  EXPECT_EQ(c.sock.State(), wsClosed);
}

TEST(WSocket, OverlongLineIsDroppedAndTheRestArrivesAsOneLine) {
  LoopbackListener listener;
  LineClient c;
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  std::string big(70000, 'x');
  peer.Send(big);
  // Once the buffer passed 65536 bytes it was discarded; what comes after starts anew.
  ASSERT_TRUE(WaitUntil([&] { return c.sock.State() == wsConnected; }));
  RunEventsFor(100);
  peer.Send("tail\r\nnext\r\n");
  ASSERT_TRUE(c.Has(3));
  ASSERT_EQ(c.events.size(), 3u);
  // The first line is whatever came after the discard (only x's), then "tail".
  std::string first = c.events[1].substr(5);
  ASSERT_GE(first.size(), 6u);
  EXPECT_EQ(first.substr(first.size() - 6), "tail\r\n");
  size_t xs = first.size() - 6;
  EXPECT_EQ(first.find_first_not_of('x'), xs);
  EXPECT_LE(xs, 70000u - 65536u);
  EXPECT_EQ(c.events[2], "line next\r\n");
}

TEST(WSocket, FailingDataHandlerLosesOnlyItsLine) {
  LoopbackListener listener;
  LineClient c;
  c.fail_on = "bad\r\n";
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("a\r\nbad\r\nb\r\nc\r\n");  // the failure is in the middle of one read
  ASSERT_TRUE(c.Has(5));
  RunEventsFor(50);
  peer.Send("d\r\n");
  ASSERT_TRUE(c.Has(6));
  RunEventsFor(50);
  EXPECT_EQ(c.events, (std::vector<std::string>{"connected 0", "line a\r\n", "line bad\r\n",
                                                "line b\r\n", "line c\r\n", "line d\r\n"}));

  // A handler that fails before taking its line: the line is not offered again.
  int calls = 0;
  c.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    if (++calls == 1)
      throw std::runtime_error("before taking");
    c.events.push_back("line " + s.ReceiveText());
  };
  peer.Send("x\r\ny\r\n");
  ASSERT_TRUE(c.Has(7));
  RunEventsFor(50);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(c.events.back(), "line y\r\n");
  EXPECT_EQ(c.sock.State(), wsConnected);
}

TEST(WSocket, SendQueueDeliversEverythingInOrder) {
  LoopbackListener listener;
  LineClient c;
  int sent_events = 0;
  c.sock.OnDataSent = [&](TCustomWSocket&, uint16_t) { ++sent_events; };
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  std::string data;
  for (int i = 0; data.size() < 4 * 1024 * 1024; ++i)
    data += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(c.sock.SendText(data), data.size());
  // The peer has not read yet: part of it waits in the queue.
  EXPECT_GT(c.sock.BufferedByteCount(), 0u);
  ASSERT_TRUE(WaitUntil(
      [&] {
        peer.Poll();
        return peer.input().size() >= data.size();
      },
      20000));
  EXPECT_TRUE(peer.input() == data);
  ASSERT_TRUE(WaitUntil([&] { return sent_events == 1; }));
  EXPECT_EQ(c.sock.BufferedByteCount(), 0u);
}

TEST(WSocket, PeerResetClosesWithItsCode) {
  LoopbackListener listener;
  LineClient c;
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("last\r\n");
  ASSERT_TRUE(c.Has(2));
  peer.Reset();
  ASSERT_TRUE(c.Has(3));
  EXPECT_EQ(c.events[2], "closed 10054");
  EXPECT_EQ(c.sock.State(), wsClosed);
  RunEventsFor(30);
  EXPECT_EQ(c.events.size(), 3u);  // closed exactly once
}

TEST(WSocket, SendOnAResetConnectionClosesWithTheCode) {
  LoopbackListener listener;
  LineClient c;
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Reset();
  RunEventsFor(0);  // the reset has arrived; the socket has not seen it yet
  usleep(20000);
  EXPECT_NO_THROW(c.sock.SendText("after reset\r\n"));
  ASSERT_TRUE(c.Has(2));
  EXPECT_TRUE(c.events[1] == "closed 10054" || c.events[1] == "closed 10053") << c.events[1];
  EXPECT_EQ(c.sock.State(), wsClosed);
  RunEventsFor(30);
  EXPECT_EQ(c.events.size(), 2u);
}

TEST(WSocket, FailingConnectHandlerAbortsTheConnection) {
  LoopbackListener listener;
  LineClient c;
  c.sock.OnSessionConnected = [&](TCustomWSocket&, uint16_t e) {
    c.events.push_back("connected " + std::to_string(e));
    throw std::runtime_error("handler failed");
  };
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(2));
  EXPECT_EQ(c.events, (std::vector<std::string>{"connected 0", "closed 0"}));
  EXPECT_EQ(c.sock.State(), wsClosed);
}

TEST(WSocket, HandlerMayCloseInsideDataEvent) {
  LoopbackListener listener;
  LineClient c;
  c.sock.OnDataAvailable = [&](TCustomWSocket& s, uint16_t) {
    c.events.push_back("line " + s.ReceiveText());
    s.Close();
  };
  PeerConn peer = c.ConnectTo(listener);
  ASSERT_TRUE(c.Has(1));
  peer.Send("one\r\ntwo\r\n");
  ASSERT_TRUE(c.Has(3));
  RunEventsFor(30);
  // Closing offers what is left in the buffer before the close event.
  EXPECT_EQ(c.events,
            (std::vector<std::string>{"connected 0", "line one\r\n", "line two\r\n", "closed 0"}));
}

}  // namespace
}  // namespace vantera
