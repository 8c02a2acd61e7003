// The session sees one "Session closed." for one connection, also when the server's last
// line is the prompt without its line end and the login sent for it fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msglink/msgsession.h"
#include "tests/msglink/loopback_peer.h"

namespace vantera {
namespace {

using namespace test;

class LogOnlyWindow : public MsgSessionView {
 public:
  void WriteLog(const std::string& text, bool always) override {
    if (always)
      log.push_back(text);
  }
  bool MessageDisplay() const override { return false; }
  void SetMessageDisplay(bool) override {}
  size_t LogLineCount() const override { return log.size(); }
  std::string LogLine(size_t i) const override { return log.at(i); }
  void ClearLog() override { log.clear(); }
  void SetPingTimerEnabled(bool) override {}

  size_t Count(const std::string& line) const {
    size_t n = 0;
    for (const auto& l : log)
      n += l == line ? 1 : 0;
    return n;
  }

  std::vector<std::string> log;
};

TEST(MsgSessionClose, LoginOnADeadConnectionClosesOnce) {
  test::EnsureQtApp();
  LoopbackListener listener;
  LogOnlyWindow window;
  MsgSession session(window);
  MsgServerSettings s;
  s.port = listener.port_text();
  session.Configure(s);
  session.kbmMTblMsg().Open();
  session.ConnectMsgServer();
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(WaitUntil([&] { return session.WSocketCl().State() == wsConnected; }));
  peer.Send("Login:");  // no line end: offered as the last line at the close
  peer.Reset();
  ASSERT_TRUE(WaitUntil([&] { return window.Count("Session closed.") >= 1; }));
  RunEventsFor(100);
  EXPECT_EQ(window.Count("Session closed."), 1u) << ::testing::PrintToString(window.log);
  EXPECT_EQ(session.WSocketCl().State(), wsClosed);
}

}  // namespace
}  // namespace vantera
