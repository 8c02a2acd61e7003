#include <gtest/gtest.h>
#include <chrono>
#include <string>

#include "tests/msglink/program_runner.h"
#include "tools/cardpoint/cardpoint_command.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using Clock = MsgLineClient::Clock;
using test::MsgServerProcess;
using test::RunningProgram;

Clock::time_point In(int ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

std::string Server(const MsgServerProcess& s) {
  return "127.0.0.1:" + std::to_string(s.port());
}

// The workstation's side, logged in as Vantera01.
struct Station {
  explicit Station(MsgServerProcess& server) {
    client.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
    client.Login("Vantera01", std::chrono::seconds(5));
    EXPECT_TRUE(server.program().WaitForStderr("(Vantera01) logged in"));
  }
  MsgLineClient client;
};

TEST(Cardpoint, CommandLine) {
  auto help = test::RunProgram(VANTERA_CARDPOINT_PATH, {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Usage: vantera-cardpoint"), std::string::npos);
  EXPECT_EQ(test::RunProgram(VANTERA_CARDPOINT_PATH, {}).code, 2);
  EXPECT_EQ(test::RunProgram(VANTERA_CARDPOINT_PATH, {"present", "1"}).code, 2);  // no --to
  EXPECT_EQ(test::RunProgram(VANTERA_CARDPOINT_PATH, {"log", "ShowLog", "on", "--to", "V"}).code,
            2);
  EXPECT_EQ(test::RunProgram(VANTERA_CARDPOINT_PATH, {"present", "1^2", "--to", "V"}).code, 2);
  auto none = test::RunProgram(
      VANTERA_CARDPOINT_PATH,
      {"--server", "127.0.0.1:" + std::to_string(test::UnusedPort()), "present", "1", "--to", "V"});
  EXPECT_EQ(none.code, 3);
  EXPECT_NE(none.err.find("cannot connect to 127.0.0.1:"), std::string::npos);

  CardpointCommand cmd = ParseCardpointCommand({"--name", "Kassa7", "present", "4711", "--to",
                                                "Vantera01", "--eta-no", "E", "--bridge", "S",
                                                "--message-no", "12", "--text", "Kortti luettu"});
  EXPECT_EQ(BuildCardMessage(cmd), "Crd^Vantera01^Kassa7^-^12^Kortti luettu^4711^E^S^");
  cmd = ParseCardpointCommand({"log", "ShowLog", "On", "--to", "Vantera01"});
  EXPECT_EQ(BuildLogCommand(cmd), "Log^Vantera01^Kassa01^-^0^On^ShowLog^");
  cmd = ParseCardpointCommand({"log", "GetLog", "--to", "Vantera01"});
  EXPECT_EQ(BuildLogCommand(cmd), "Log^Vantera01^Kassa01^-^0^^GetLog^");
}

TEST(Cardpoint, PresentWaitsForTheOkReplyOrTimesOut) {
  MsgServerProcess server;
  // Nobody answers: exit 1 after the time-out.
  auto lonely = test::RunProgram(
      VANTERA_CARDPOINT_PATH,
      {"--server", Server(server), "present", "4711", "--to", "Vantera01", "--timeout", "1"});
  EXPECT_EQ(lonely.code, 1);
  EXPECT_NE(lonely.err.find("no reply within 1 s"), std::string::npos);

  Station station(server);
  RunningProgram point(VANTERA_CARDPOINT_PATH,
                       {"--server", Server(server), "--name", "Kassa7", "present", "4711", "--to",
                        "Vantera01", "--eta-no", "E9", "--bridge", "Silta", "--timeout", "10"});
  std::string plain;
  ASSERT_TRUE(station.client.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Crd^Vantera01^Kassa7^-^1^Kortti^4711^E9^Silta^");
  // Unrelated lines first, then the reply.
  station.client.SendPlain("Log^Kassa7^Vantera01^-^0^noise^");
  station.client.SendPlain("Crd^Kassa7^Vantera01^-^1^Kortti^OK^E9^Silta^");
  EXPECT_EQ(point.Wait(10000), 0);
  std::string out = point.Stdout();
  EXPECT_NE(out.find("Tyyppi: Crd\n"), std::string::npos);
  EXPECT_NE(out.find("Lahettaja: Vantera01\n"), std::string::npos);
  EXPECT_NE(out.find("Tulos: OK\n"), std::string::npos);
  EXPECT_NE(out.find("EtaNo: E9\n"), std::string::npos);
  EXPECT_NE(out.find("SiltaSrv: Silta\n"), std::string::npos);
}

TEST(Cardpoint, LogCommandsPrintTheLinesThatComeBack) {
  MsgServerProcess server;
  Station station(server);
  RunningProgram point(VANTERA_CARDPOINT_PATH, {"--server", Server(server), "log", "GetLog", "--to",
                                                "Vantera01", "--quiet-ms", "500"});
  std::string plain;
  ASSERT_TRUE(station.client.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Log^Vantera01^Kassa01^-^0^^GetLog^");
  station.client.SendPlain("Log^Kassa01^Vantera01^-^0^Session connected.^");
  station.client.SendPlain("Log^Kassa01^Vantera01^-^0^Rcv: Crd\xA4x^");
  EXPECT_EQ(point.Wait(10000), 0);
  EXPECT_EQ(point.Stdout(), "Session connected.\nRcv: Crd\xC2\xA4x\n");  // UTF-8 on the terminal

  // GetLog that nobody answers: exit 1; ShowLog arrives as the command line says.
  auto silent = test::RunProgram(
      VANTERA_CARDPOINT_PATH,
      {"--server", Server(server), "log", "GetLog", "--to", "Nobody", "--quiet-ms", "200"});
  EXPECT_EQ(silent.code, 1);
  auto show =
      test::RunProgram(VANTERA_CARDPOINT_PATH, {"--server", Server(server), "log", "ShowLog", "Off",
                                                "--to", "Vantera01", "--quiet-ms", "100"});
  EXPECT_EQ(show.code, 0);
  ASSERT_TRUE(station.client.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Log^Vantera01^Kassa01^-^0^Off^ShowLog^");
}

}  // namespace
}  // namespace vantera
