// The session wired into the real main window (offscreen), against vantera-msgserver.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/message_link.h"
#include "app/workstation_wiring.h"
#include "tests/app/temp_dir.h"
#include "tests/app/window_fixture.h"
#include "tests/msglink/loopback_peer.h"
#include "tests/msglink/program_runner.h"
#include "tests/server/server_process.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using test::WaitUntil;

bool LogHas(TfrmVantera& w, const std::string& prefix) {
  for (const auto& l : w.Log().Lines())
    if (l.compare(0, prefix.size(), prefix) == 0)
      return true;
  return false;
}

TEST(WorkstationLink, StartUpCardUnderViestitPingsReconnectAndShutDown) {
  // The window opens its database session at start-up: a private database server over TCP.
  testing::TempDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.File("").c_str(), 1);
  testing::TempDir data;
  testing::ServerProcess kanta({"--data", data.File("kanta"), "--no-discovery"});
  auto server = std::make_unique<test::MsgServerProcess>();
  uint16_t port = server->port();
  testing::WindowFixture f(
      "[DataBase]\r\nEngine=TCPIP\r\nServerName=Main\r\nServerAddress=127.0.0.1\r\nPort=" +
      std::to_string(kanta.Port()) + "\r\n[MessageSrv]\r\nServerAddress=127.0.0.1\r\nServerPort=" +
      std::to_string(port) + "\r\nPingTime=1\r\n[Defaults]\r\nVantera=07\r\n");
  TfrmVantera& w = f.window();
  // Parts replaced before start-up: the first link's handlers must not outlive it.
  w.SetParts(MakeWorkstationParts(w, CommandLine{}));
  w.SetParts(MakeWorkstationParts(w, CommandLine{}));
  auto* link = dynamic_cast<WorkstationMessageLink*>(w.Parts().messages.get());
  ASSERT_NE(link, nullptr);
  w.FormCreate();
  // Steps 10 to 14: interval from the settings, table open and empty, connection started.
  EXPECT_EQ(w.TimerPingTime().Interval(), 1000);
  EXPECT_TRUE(w.TimerPingTime().Enabled());
  EXPECT_TRUE(link->Session().kbmMTblMsg().Active());
  EXPECT_EQ(link->Session().kbmMTblMsg().RecordCount(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return server->program().StderrContains("(Vantera07) logged in"); }));

  // A card is presented: it shows under "Viestit" in the activity log.
  MsgLineClient point;
  point.Connect("127.0.0.1", port, std::chrono::seconds(5));
  point.Login("Kassa01", std::chrono::seconds(5));
  ASSERT_TRUE(server->program().WaitForStderr("(Kassa01) logged in"));
  point.SendPlain("Crd^Vantera07^Kassa01^-^3^Kortti^12345^E^S^");
  ASSERT_TRUE(WaitUntil([&] { return link->Session().kbmMTblMsg().Find("12345") != nullptr; }));
  w.ui().BBtnShowMsg->click();
  EXPECT_TRUE(LogHas(w, "Crd 12345 Kassa01 E S Kortti "));
  EXPECT_NE(w.ui().MemoSa->toPlainText().toStdString().find("Crd 12345 Kassa01 E S Kortti"),
            std::string::npos);

  // "ShowLog On" from the server checks "Näytä viestit".
  point.SendPlain("Log^Vantera07^Kassa01^-^0^On^ShowLog^");
  ASSERT_TRUE(WaitUntil([&] { return w.ui().ChkBoxDebug->isChecked(); }));

  // Pings keep the session alive.
  ASSERT_TRUE(WaitUntil(
      [&] { return server->program().StderrContains("for the server from Vantera07: Ping"); },
      5000));

  // The server is killed and started again: the next ping reconnects and logs in again.
  server.reset();
  ASSERT_TRUE(WaitUntil([&] { return LogHas(w, "Session closed."); }));
  server = std::make_unique<test::MsgServerProcess>(port);
  ASSERT_TRUE(
      WaitUntil([&] { return server->program().StderrContains("(Vantera07) logged in"); }, 5000));

  // Shut-down steps 3 and 4: socket closed, table closed.
  w.close();
  EXPECT_EQ(link->Session().WSocketCl().State(), wsClosed);
  EXPECT_FALSE(link->Session().kbmMTblMsg().Active());
  EXPECT_FALSE(w.TimerPingTime().Enabled());
  ASSERT_TRUE(
      WaitUntil([&] { return server->program().StderrContains("(Vantera07) disconnected"); }));
}

}  // namespace
}  // namespace vantera

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
