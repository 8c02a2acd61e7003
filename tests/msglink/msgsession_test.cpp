#include "msglink/msgsession.h"

#include <gtest/gtest.h>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "msglink/Wdef.h"
#include "msglink/msgcipher.h"
#include "msglink/msgkey.h"
#include "tests/msglink/loopback_peer.h"
#include "tests/msglink/program_runner.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using namespace test;

std::string Encipher(const std::string& plain) {
  Chipper c;
  c.SetKeyText(kMessageKey);
  return c.EncryptLine(plain);
}

std::string Decipher(const std::string& wire) {
  Chipper c;
  c.SetKeyText(kMessageKey);
  return c.DecryptLine(wire);
}

// The window as the session sees it: the activity log with its 500-line rule, the message
// display switch and a real ping timer whose ticks reach the session.
class FakeWindow : public MsgSessionView {
 public:
  explicit FakeWindow(int ping_ms) : session(*this) {
    test::EnsureQtApp();
    ping_ms_ = ping_ms;
    timer_.setSingleShot(false);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      ++ticks;
      session.TimerPingTimeTimer();
    });
    session.SetClock([this] { return now; });
  }
  ~FakeWindow() override { timer_.stop(); }

  void WriteLog(const std::string& text, bool always) override {
    if (!always && !display)
      return;
    if (log.size() > 500)
      log.clear();
    log.push_back(text);
  }
  bool MessageDisplay() const override { return display; }
  void SetMessageDisplay(bool on) override { display = on; }
  size_t LogLineCount() const override { return log.size(); }
  std::string LogLine(size_t i) const override { return log.at(i); }
  void ClearLog() override { log.clear(); }
  void SetPingTimerEnabled(bool on) override {
    if (!on)
      timer_.stop();
    else if (ping_ms_ > 0)
      timer_.start(ping_ms_);
  }

  bool Logged(const std::string& line) const {
    for (const auto& l : log)
      if (l == line)
        return true;
    return false;
  }
  // Start-up as the window does it: open and empty the table, connect, enable the timer.
  void Start(uint16_t port) {
    MsgServerSettings s;
    s.port = std::to_string(port);
    session.Configure(s);
    session.kbmMTblMsg().Open();
    session.ConnectMsgServer();
    SetPingTimerEnabled(true);
  }

  std::vector<std::string> log;
  bool display = false;
  int ticks = 0;
  std::time_t now = 1000;
  MsgSession session;

 private:
  int ping_ms_;
  QTimer timer_;
};

// A scripted server: accepts the session, reads its enciphered lines.
struct ScriptedServer {
  LoopbackListener listener;
  PeerConn conn;

  void Accept() { conn = listener.Accept(); }
  void SendPlain(const std::string& plain) { conn.Send(Encipher(plain) + "\r\n"); }
  bool ReadPlain(std::string* plain, int timeout_ms = 5000) {
    std::string wire;
    if (!conn.ReadLine(&wire, timeout_ms))
      return false;
    *plain = Decipher(wire);
    return true;
  }
  // Every line that arrives until none came for quiet_ms.
  std::vector<std::string> ReadAll(int quiet_ms = 300) {
    std::vector<std::string> lines;
    std::string plain;
    while (ReadPlain(&plain, quiet_ms))
      lines.push_back(plain);
    return lines;
  }
};

TEST(CardMessageTable, OpenCloseFindDelete) {
  CardMessageTable t;
  EXPECT_THROW(t.Store(CardMessage{}), ETableClosed);
  EXPECT_THROW(t.RecordCount(), ETableClosed);
  t.Open();
  CardMessage m;
  m.KorttiLyh = "B";
  t.Store(m);
  m.KorttiLyh = "A";
  t.Store(m);
  m.KorttiLyh = "a";
  t.Store(m);
  EXPECT_EQ(t.Keys(), (std::vector<std::string>{"A", "B", "a"}));
  EXPECT_TRUE(t.Delete("B"));
  EXPECT_FALSE(t.Delete("B"));
  EXPECT_EQ(t.Find("b"), nullptr);
  t.Close();
  t.Open();  // a reopened table starts empty
  EXPECT_EQ(t.RecordCount(), 0u);
}

TEST(MsgSession, LoginPromptAndLinesThatAreNotThePrompt) {
  ScriptedServer server;
  FakeWindow w(0);
  w.display = true;
  w.Start(server.listener.port());
  server.Accept();
  ASSERT_TRUE(WaitUntil([&] { return w.Logged("Session connected."); }));

  server.conn.Send("Login:\r\n");
  std::string plain;
  ASSERT_TRUE(server.ReadPlain(&plain));
  EXPECT_EQ(plain, "Moi^-^Vantera01^-^0^QXVKM^");
  EXPECT_TRUE(w.Logged("Snd: Moi^-^Vantera01^-^0^QXVKM^"));
  EXPECT_FALSE(w.Logged("Rcv: Login:"));  // the prompt is neither deciphered nor logged

  // "Login: " with a blank is not the prompt: deciphered, logged, ignored.
  w.log.clear();
  server.conn.Send("Login: \r\n");
  ASSERT_TRUE(WaitUntil([&] { return w.log.size() == 1; }));
  EXPECT_EQ(w.log[0].substr(0, 5), "Rcv: ");
  // CR LF alone becomes the empty line: "Rcv: " and nothing else.
  server.conn.Send("\r\n");
  ASSERT_TRUE(WaitUntil([&] { return w.log.size() == 2; }));
  EXPECT_EQ(w.log[1], "Rcv: ");
  EXPECT_TRUE(server.ReadAll(200).empty());
  EXPECT_EQ(w.session.kbmMTblMsg().RecordCount(), 0u);
}

TEST(MsgSession, CardMessagesAreStoredReplacedAndListed) {
  setenv("TZ", "UTC", 1);
  tzset();
  ScriptedServer server;
  FakeWindow w(0);
  w.Start(server.listener.port());
  server.Accept();
  ASSERT_TRUE(WaitUntil([&] { return w.session.WSocketCl().State() == wsConnected; }));
  CardMessageTable& t = w.session.kbmMTblMsg();

  w.now = 1000;
  server.SendPlain("Crd^Vantera01^Kassa1^R1^11^eka^12345^E1^S1^");
  ASSERT_TRUE(WaitUntil([&] { return t.RecordCount() == 1; }));
  w.now = 2000;
  server.SendPlain("Crd^Vantera01^Kassa2^R2^22^toka^12345^E2^S2^");
  ASSERT_TRUE(WaitUntil([&] { return t.Find("12345")->Aika == 2000; }));
  ASSERT_EQ(t.RecordCount(), 1u);
  const CardMessage* m = t.Find("12345");
  EXPECT_EQ(m->Lahettaja, "Kassa2");
  EXPECT_EQ(m->Via, "R2");
  EXPECT_EQ(m->SanomaNo, "22");
  EXPECT_EQ(m->Sanoma, "toka");
  EXPECT_EQ(m->EtaNo, "E2");
  EXPECT_EQ(m->SiltaSrv, "S2");

  // 17-character card numbers that agree in their first 16 share one record; keys match
  // exactly, letter case counting; fields are cut to their sizes.
  server.SendPlain("Crd^Vantera01^K^-^1^a^ABCDEFGHIJKLMNOPQ^123456^" + std::string(30, 'b') + "^");
  server.SendPlain("Crd^Vantera01^K^-^2^b^ABCDEFGHIJKLMNOPR^1^2^");
  server.SendPlain("Crd^Vantera01^K^-^3^c^abcdefghijklmnop^1^2^");
  // Seven pieces: EtaNo and SiltaSrv are stored empty.
  server.SendPlain("Crd^Vantera01^K^-^4^d^777");
  ASSERT_TRUE(WaitUntil([&] { return t.RecordCount() == 4; }));
  RunEventsFor(50);
  ASSERT_EQ(t.RecordCount(), 4u);
  EXPECT_EQ(t.Find("ABCDEFGHIJKLMNOP")->SanomaNo, "2");
  EXPECT_EQ(t.Find("abcdefghijklmnop")->SanomaNo, "3");
  const CardMessage* seven = t.Find("777");
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven->EtaNo, "");
  EXPECT_EQ(seven->SiltaSrv, "");

  server.SendPlain("Crd^Vantera01^K^-^5^e^X1^123456789^" + std::string(30, 's') + "^");
  ASSERT_TRUE(WaitUntil([&] { return t.RecordCount() == 5; }));
  EXPECT_EQ(t.Find("X1")->EtaNo, "12345");
  EXPECT_EQ(t.Find("X1")->SiltaSrv, std::string(25, 's'));

  // "Viestit": one line per record in ascending KorttiLyh order, always written.
  w.log.clear();
  w.session.BBtnShowMsgClick();
  ASSERT_EQ(w.log.size(), 5u);
  EXPECT_EQ(w.log[0], "Crd 12345 Kassa2 E2 S2 toka 1970.01.01 00:33:20");
  EXPECT_EQ(w.log[1].substr(0, 21), "Crd 777 K   d 1970.01");
  EXPECT_EQ(w.log[2].substr(0, 20), "Crd ABCDEFGHIJKLMNOP");
  EXPECT_EQ(w.log[3].substr(0, 6), "Crd X1");
  EXPECT_EQ(w.log[4].substr(0, 20), "Crd abcdefghijklmnop");
}

TEST(MsgSession, LogCommands) {
  ScriptedServer server;
  FakeWindow w(0);
  w.Start(server.listener.port());
  server.Accept();
  ASSERT_TRUE(WaitUntil([&] { return w.session.WSocketCl().State() == wsConnected; }));

  // "ShowLog" with "On" switches message display on, with "on" off again.
  server.SendPlain("Log^Vantera01^Hallinta^-^0^On^ShowLog^");
  ASSERT_TRUE(WaitUntil([&] { return w.display; }));
  server.SendPlain("Log^Vantera01^Hallinta^-^0^on^ShowLog^");
  ASSERT_TRUE(WaitUntil([&] { return !w.display; }));

  // GetLog with display off, an empty log and an empty table: the no-log line alone.
  w.log.clear();
  server.SendPlain("Log^Vantera01^Station7^-^0^^GetLog^");
  std::vector<std::string> got = server.ReadAll();
  EXPECT_EQ(got, (std::vector<std::string>{"Log^Station7^Vantera01^-^0^Error: No log found...^"}));

  // Display off, three log lines and two card messages: five lines, listing last.
  server.SendPlain("Crd^Vantera01^K^-^1^a^C1^e^s^");
  server.SendPlain("Crd^Vantera01^K^-^2^b^C2^e^s^");
  ASSERT_TRUE(WaitUntil([&] { return w.session.kbmMTblMsg().RecordCount() == 2; }));
  w.log = {"one", "two^with^carets", "three"};
  server.SendPlain("Log^Vantera01^Station7^-^0^^GetLog^");
  got = server.ReadAll();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], "Log^Station7^Vantera01^-^0^one^");
  EXPECT_EQ(got[1],
            "Log^Station7^Vantera01^-^0^two\xA4with\xA4"
            "carets^");
  EXPECT_EQ(got[2], "Log^Station7^Vantera01^-^0^three^");
  EXPECT_EQ(got[3].substr(0, 32), "Log^Station7^Vantera01^-^0^Crd C");
  EXPECT_EQ(got[4].substr(0, 33), "Log^Station7^Vantera01^-^0^Crd C2");

  // Display on: the command's own "Rcv: " line comes between; "Snd: " lines are not sent.
  w.display = true;
  w.log = {"one", "two", "three"};
  server.SendPlain("Log^Vantera01^Station7^-^0^^GetLog^");
  got = server.ReadAll();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[3],
            "Log^Station7^Vantera01^-^0^Rcv: Log\xA4Vantera01\xA4Station7\xA4-\xA4"
            "0\xA4\xA4GetLog\xA4^");
  EXPECT_EQ(got[4].substr(0, 33), "Log^Station7^Vantera01^-^0^Crd C1");
  EXPECT_EQ(w.log.size(), 6u + 6u);  // and the six "Snd: " lines after them

  // ClearLog empties the activity log.
  server.SendPlain("Log^Vantera01^Station7^-^0^^ClearLog^");
  ASSERT_TRUE(WaitUntil([&] { return w.log.empty(); }));
}

TEST(MsgSession, ConnectFailuresAreLogged) {
  FakeWindow w(0);
  w.Start(test::UnusedPort());
  ASSERT_TRUE(WaitUntil([&] { return w.Logged("Session closed."); }));
  EXPECT_EQ(w.log, (std::vector<std::string>{"Can't connect. Error #10061", "Session closed."}));

  w.log.clear();
  MsgServerSettings s;
  s.port = "nosuchservice";
  w.session.Configure(s);
  w.session.ConnectMsgServer();
  EXPECT_EQ(w.log, (std::vector<std::string>{
                       "Unabled to connect: ESocketException: connect: WSocketResolvePort: Cannot "
                       "convert port 'nosuchservice', Error #11004"}));

  // A line to send while not connected is dropped; only the reconnect starts.
  LoopbackListener listener;
  s.port = listener.port_text();
  w.session.Configure(s);
  w.session.SendMsg("Ping^-^Vantera01^-^0^Ping^");
  PeerConn peer = listener.Accept();
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(WaitUntil([&] { return w.session.WSocketCl().State() == wsConnected; }));
  RunEventsFor(100);
  peer.Poll();
  EXPECT_EQ(peer.input(), "");
}

TEST(MsgSession, PingsKeepGoingAndReconnectAtTheNextPing) {
  ScriptedServer server;
  FakeWindow w(150);
  w.Start(server.listener.port());
  server.Accept();
  std::string plain;
  ASSERT_TRUE(server.ReadPlain(&plain, 3000));
  EXPECT_EQ(plain, "Ping^-^Vantera01^-^0^Ping^");
  ASSERT_TRUE(server.ReadPlain(&plain, 3000));
  EXPECT_EQ(plain, "Ping^-^Vantera01^-^0^Ping^");

  // The server goes away: "Session closed.", then the next tick connects again.
  server.conn.Close();
  ASSERT_TRUE(WaitUntil([&] { return w.Logged("Session closed."); }));
  server.Accept();
  ASSERT_TRUE(server.conn.valid());
  ASSERT_TRUE(WaitUntil([&] { return w.session.WSocketCl().State() == wsConnected; }));
  ASSERT_TRUE(server.ReadPlain(&plain, 3000));
  EXPECT_EQ(plain, "Ping^-^Vantera01^-^0^Ping^");
}

TEST(MsgSession, PingIntervalZeroNeverPingsNorReconnects) {
  ScriptedServer server;
  FakeWindow w(0);
  w.Start(server.listener.port());
  server.Accept();
  ASSERT_TRUE(WaitUntil([&] { return w.session.WSocketCl().State() == wsConnected; }));
  EXPECT_TRUE(server.ReadAll(400).empty());
  EXPECT_EQ(w.ticks, 0);
  server.conn.Close();
  ASSERT_TRUE(WaitUntil([&] { return w.Logged("Session closed."); }));
  PeerConn none = server.listener.Accept(400);
  EXPECT_FALSE(none.valid());
  // Only another line to send brings the connection back.
  w.session.SendPing();
  server.Accept();
  EXPECT_TRUE(server.conn.valid());
}

TEST(MsgSession, AgainstTheMessageServer) {
  auto server = std::make_unique<test::MsgServerProcess>();
  uint16_t port = server->port();
  FakeWindow w(200);
  w.Start(port);
  ASSERT_TRUE(WaitUntil([&] { return server->program().StderrContains("(Vantera01) logged in"); }));

  // A card point presents card 4711: it reaches the table; the OK reply reaches the card point.
  MsgLineClient point;
  point.Connect("127.0.0.1", port, std::chrono::seconds(5));
  point.Login("Kassa01", std::chrono::seconds(5));
  ASSERT_TRUE(WaitUntil([&] { return server->program().StderrContains("(Kassa01) logged in"); }));
  point.SendPlain("Crd^Vantera01^Kassa01^-^9^Kortti^4711^E^S^");
  ASSERT_TRUE(WaitUntil([&] { return w.session.kbmMTblMsg().Find("4711") != nullptr; }));
  const CardMessage* m = w.session.kbmMTblMsg().Find("4711");
  CardMessageFields f{m->Tyyppi, m->Lahettaja, m->Via,     m->SanomaNo,
                      m->Sanoma, m->EtaNo,     m->SiltaSrv};
  w.session.SendMsg(BuildIdentificationReplyMsg(f, "Vantera01"));
  std::string reply;
  ASSERT_TRUE(point.ReadPlain(&reply, MsgLineClient::Clock::now() + std::chrono::seconds(5)));
  EXPECT_EQ(reply, "Crd^Kassa01^Vantera01^-^9^Kortti^OK^E^S^");

  // Pings go to the server itself.
  ASSERT_TRUE(WaitUntil(
      [&] { return server->program().StderrContains("for the server from Vantera01: Ping^"); }));

  // The server is killed and started again on the same port: the next ping reconnects and
  // the session logs in again on the new prompt.
  server.reset();
  ASSERT_TRUE(WaitUntil([&] { return w.Logged("Session closed."); }));
  server = std::make_unique<test::MsgServerProcess>(port);
  ASSERT_TRUE(WaitUntil([&] { return server->program().StderrContains("(Vantera01) logged in"); }));
}

}  // namespace
}  // namespace vantera
