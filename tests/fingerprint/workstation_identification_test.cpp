// The whole road with the real programs: the window (offscreen) against kantadb-server with
// its demo data over TCP and vantera-msgserver; a finger enrolled for a demo customer's
// card, the card presented with vantera-cardpoint and the finger placed with vantera-reader.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <string>
#include <vector>

#include "app/fingerprint_link.h"
#include "app/message_link.h"
#include "app/workstation_wiring.h"
#include "dbclient/nxDbEngine.h"
#include "tests/app/window_fixture.h"
#include "tests/msglink/loopback_peer.h"
#include "tests/msglink/program_runner.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using test::RunningProgram;
using test::WaitUntil;

std::string Text(QLineEdit* field) {
  return field->text().toStdString();
}

bool LogHas(TfrmVantera& w, const std::string& line) {
  for (const auto& l : w.Log().Lines())
    if (l == line)
      return true;
  return false;
}

// Runs a program to its end while the window's events are served: its exit code, or -1.
int Finish(RunningProgram& program, int timeout_ms = 20000) {
  int code = -1;
  WaitUntil(
      [&] {
        code = program.Wait(0);
        return code != -1;
      },
      timeout_ms);
  return code;
}

// The Maara values of ASSORMI through a connection of the test's own.
std::vector<int32_t> Counters(uint16_t port) {
  TnxDbEng eng;
  eng.Values.ServerName = "Main";
  eng.Values.ServerAddress = "127.0.0.1";
  eng.Values.Port = port;
  eng.OpenConnection(1, "Tarvola");
  eng.nxSession.Open();
  TnxTable t("TestAsSormi");
  t.SetDatabase(&eng.nxDatabase);
  t.SetTableName("ASSORMI");
  t.SetIndexFieldNames("AsNo");
  t.Open();
  std::vector<int32_t> out;
  for (int guard = 0; !t.Eof() && guard < 100; ++guard, t.Next())
    out.push_back(t.FieldByName("Maara").AsInteger());
  t.Close();
  eng.CloseConnection(1);
  return out;
}

TEST(WorkstationIdentification, EnrolThenIdentifyAtAPresentedCard) {
  testing::TempDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.File("").c_str(), 1);
  const std::string reader_dir = runtime.File("vantera");

  testing::TempDir data;
  vantera::testing::ServerProcess kanta(
      {"--data", data.File("kanta"), "--no-discovery", "--demo-data"});
  test::MsgServerProcess msgserver;
  const std::string msg_address = "127.0.0.1:" + std::to_string(msgserver.port());

  testing::WindowFixture f(
      "[DataBase]\r\nAlias=Tarvola\r\nEngine=TCPIP\r\nServerName=Main\r\n"
      "ServerAddress=127.0.0.1\r\nPort=" +
      std::to_string(kanta.Port()) + "\r\n[MessageSrv]\r\nServerAddress=127.0.0.1\r\nServerPort=" +
      std::to_string(msgserver.port()) + "\r\nPingTime=60\r\n");
  TfrmVantera& w = f.window();
  w.SetParts(MakeWorkstationParts(w, CommandLine{}));
  auto* fp = dynamic_cast<WorkstationFingerprints*>(w.Parts().fingerprint.get());
  auto* link = dynamic_cast<WorkstationMessageLink*>(w.Parts().messages.get());
  ASSERT_NE(fp, nullptr);
  ASSERT_NE(link, nullptr);
  int searches = 0;
  fp->SetCardSearch([&] {
    ++searches;
    return std::optional<std::string>("6390000010010001");  // demo customer 1001's card
  });
  w.FormCreate();
  ASSERT_TRUE(f.boxes().empty()) << f.boxes().front();
  ASSERT_NE(fp->Socket(), nullptr);
  EXPECT_TRUE(fp->FPGetTemplateX().IsArmed());
  ASSERT_TRUE(
      WaitUntil([&] { return msgserver.program().StderrContains("(Vantera01) logged in"); }));

  // Enrolment: search, read four placements, save.
  const TfrmVanteraUi& ui = w.ui();
  ui.BBtnHaku->click();
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(Text(ui.EdtAsNo), "1001");
  EXPECT_EQ(Text(ui.EdtKortti), "100101");
  EXPECT_FALSE(Text(ui.EdtAsNimi).empty());
  ASSERT_TRUE(ui.BBtnSormenjalki->isEnabled());
  ui.BBtnSormenjalki->click();
  EXPECT_FALSE(fp->FPGetTemplateX().IsArmed());
  for (int i = 1; i <= 4; ++i) {
    RunningProgram reader(VANTERA_READER_EXE,
                          {"place", "1001/oikea etusormi", "--runtime-dir", reader_dir});
    ASSERT_EQ(Finish(reader), 0) << reader.Stderr();
    EXPECT_NE(reader.Stdout().find("ok enrolment " + std::to_string(i) + "/4"), std::string::npos);
  }
  ASSERT_TRUE(ui.BBtnTalleta->isEnabled());
  ui.BBtnTalleta->click();
  EXPECT_EQ(Text(ui.EdtAsNo), "");
  EXPECT_TRUE(fp->FPGetTemplateX().IsArmed());
  EXPECT_EQ(Counters(kanta.Port()), (std::vector<int32_t>{1}));

  // The card is presented; the same finger is placed: the card point gets its OK reply.
  RunningProgram point(VANTERA_CARDPOINT_PATH,
                       {"--server", msg_address, "--name", "Kassa7", "present", "100101", "--to",
                        "Vantera01", "--eta-no", "E9", "--bridge", "Silta", "--timeout", "20"});
  ASSERT_TRUE(
      WaitUntil([&] { return link->Session().kbmMTblMsg().Find("100101") != nullptr; }, 10000));
  RunningProgram finger(VANTERA_READER_EXE,
                        {"place", "1001/oikea etusormi", "--runtime-dir", reader_dir});
  ASSERT_EQ(Finish(finger), 0) << finger.Stderr();
  ASSERT_EQ(Finish(point), 0) << point.Stderr();
  std::string out = point.Stdout();
  EXPECT_NE(out.find("Lahettaja: Vantera01\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Tulos: OK\n"), std::string::npos) << out;
  EXPECT_NE(out.find("EtaNo: E9\n"), std::string::npos) << out;
  EXPECT_NE(out.find("SiltaSrv: Silta\n"), std::string::npos) << out;
  EXPECT_TRUE(LogHas(w, "Verify=TRUE  AsNo=           1001 Etsitty=1 kpl"));
  EXPECT_EQ(Text(ui.EdtSeAsNo), "1001");
  EXPECT_EQ(Text(ui.EdtSeKortti), "100101");
  EXPECT_EQ(link->Session().kbmMTblMsg().Find("100101"), nullptr);
  EXPECT_EQ(Counters(kanta.Port()), (std::vector<int32_t>{2}));
  EXPECT_TRUE(fp->FPGetTemplateX().IsArmed());

  // A different finger at the same card: not recognised, no reply.
  RunningProgram second(VANTERA_CARDPOINT_PATH,
                        {"--server", msg_address, "--name", "Kassa7", "present", "100101", "--to",
                         "Vantera01", "--timeout", "3"});
  ASSERT_TRUE(
      WaitUntil([&] { return link->Session().kbmMTblMsg().Find("100101") != nullptr; }, 10000));
  RunningProgram other(VANTERA_READER_EXE, {"place", "1002/peukalo", "--runtime-dir", reader_dir});
  ASSERT_EQ(Finish(other), 0) << other.Stderr();
  EXPECT_TRUE(LogHas(w, "Verify=FALSE AsNo= Etsitty=1 kpl"));
  EXPECT_EQ(Finish(second), 1);  // its time-out: no reply came
  EXPECT_NE(link->Session().kbmMTblMsg().Find("100101"), nullptr);
  EXPECT_EQ(Counters(kanta.Port()), (std::vector<int32_t>{2}));

  // Shut-down: the controls stop and the reader socket goes.
  w.close();
  EXPECT_FALSE(fp->FPGetTemplateX().IsArmed());
  EXPECT_EQ(kanta.Stop(), 0);
}

}  // namespace
}  // namespace vantera

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
