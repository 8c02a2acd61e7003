#include <gtest/gtest.h>
#include <chrono>
#include <string>

#include "msgserver/msg_router.h"
#include "tests/msglink/program_runner.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using Clock = MsgLineClient::Clock;
using test::MsgServerProcess;

Clock::time_point In(int ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

// A client logged in under name.
void LogIn(MsgLineClient& c, uint16_t port, const std::string& name, MsgServerProcess& server) {
  c.Connect("127.0.0.1", port, std::chrono::seconds(5));
  c.Login(name, std::chrono::seconds(5));
  ASSERT_TRUE(server.program().WaitForStderr("(" + name + ") logged in"));
}

// True when the server has closed the client's connection.
bool IsDropped(MsgLineClient& c) {
  std::string wire;
  try {
    while (c.ReadWire(&wire, In(3000))) {
    }
  } catch (const MsgClientError&) {
    return true;
  }
  return false;
}

TEST(MsgServer, CommandLine) {
  auto help = test::RunProgram(VANTERA_MSGSERVER_PATH, {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Usage: vantera-msgserver"), std::string::npos);
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--bogus"}).code, 2);
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--listen", "nocolon"}).code, 2);
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--listen", "127.0.0.1:99999"}).code, 2);

  // A port that is taken: exit 1 with the reason.
  MsgServerProcess first;
  auto taken = test::RunProgram(VANTERA_MSGSERVER_PATH,
                                {"--listen", "127.0.0.1:" + std::to_string(first.port())});
  EXPECT_EQ(taken.code, 1);
  EXPECT_NE(taken.err.find("error: bind 127.0.0.1:"), std::string::npos);

  // SIGTERM stops it cleanly.
  EXPECT_EQ(first.program().Stop(), 0);
  EXPECT_TRUE(first.program().StderrContains("vantera-msgserver: stopped"));
}

TEST(MsgServer, RoutesLinesUnchangedByRecipient) {
  MsgServerProcess server;
  MsgLineClient point, station;
  // The prompt comes in plain text.
  point.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
  std::string wire;
  ASSERT_TRUE(point.ReadWire(&wire, In(5000)));
  EXPECT_EQ(wire, "Login:");
  point.SendPlain("Moi^-^Kassa01^-^0^QXVKM^");
  ASSERT_TRUE(server.program().WaitForStderr("(Kassa01) logged in"));
  LogIn(station, server.port(), "Vantera01", server);

  const std::string card = "Crd^Vantera01^Kassa01^-^5^Kortti^4711^E^S^";
  point.SendPlain(card);
  ASSERT_TRUE(station.ReadWire(&wire, In(5000)));
  EXPECT_EQ(wire, point.Encipher(card));  // forwarded byte for byte
  station.SendPlain("Crd^Kassa01^Vantera01^-^5^Kortti^OK^E^S^");
  std::string plain;
  ASSERT_TRUE(point.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Crd^Kassa01^Vantera01^-^5^Kortti^OK^E^S^");

  // Lines for the server itself and for unknown names go nowhere.
  station.SendPlain("Ping^-^Vantera01^-^0^Ping^");
  point.SendPlain("Crd^Nobody^Kassa01^-^6^x^1^^^");
  ASSERT_TRUE(server.program().WaitForStderr("no client Nobody for Kassa01"));
  EXPECT_FALSE(point.ReadWire(&wire, In(200)));
  EXPECT_FALSE(station.ReadWire(&wire, In(200)));
  std::string log = server.program().Stderr();
  EXPECT_NE(log.find("route Kassa01 -> Vantera01: " + card), std::string::npos);
  EXPECT_NE(log.find("route Vantera01 -> Kassa01: Crd^Kassa01^Vantera01^-^5^Kortti^OK^E^S^"),
            std::string::npos);
  EXPECT_NE(log.find("for the server from Vantera01: Ping^-^Vantera01^-^0^Ping^"),
            std::string::npos);
}

TEST(MsgServer, DropsMisbehavingClientsAndKeepsTheOthers) {
  MsgServerProcess server({}, {"--max-rate", "50"});
  MsgLineClient point, station;
  LogIn(point, server.port(), "Kassa01", server);
  LogIn(station, server.port(), "Vantera01", server);

  MsgLineClient garbage, overlong, flood, wrong, early;
  LogIn(garbage, server.port(), "G", server);
  garbage.SendRaw("this is not base64!\r\n");
  EXPECT_TRUE(IsDropped(garbage));
  LogIn(overlong, server.port(), "L", server);
  overlong.SendRaw(std::string(2000, 'A'));
  EXPECT_TRUE(IsDropped(overlong));
  LogIn(flood, server.port(), "F", server);
  try {
    for (int i = 0; i < 60; ++i)
      flood.SendPlain("Ping^-^F^-^0^Ping^");
  } catch (const MsgClientError&) {
    // The server may already have reset the connection: that is the drop.
  }
  EXPECT_TRUE(IsDropped(flood));
  wrong.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
  std::string prompt;
  ASSERT_TRUE(wrong.ReadWire(&prompt, In(5000)));
  wrong.SendPlain("Moi^-^W^-^0^WRONG^");
  EXPECT_TRUE(IsDropped(wrong));
  early.Connect("127.0.0.1", server.port(), std::chrono::seconds(5));
  early.SendPlain("Crd^Vantera01^E^-^1^x^1^^^");
  EXPECT_TRUE(IsDropped(early));

  std::string log = server.program().Stderr();
  EXPECT_NE(log.find("(G) dropped: garbage line"), std::string::npos);
  EXPECT_NE(log.find("(L) dropped: line too long"), std::string::npos);
  EXPECT_NE(log.find("(F) dropped: more than 50 lines per second"), std::string::npos);
  EXPECT_NE(log.find("dropped: login refused"), std::string::npos);
  EXPECT_NE(log.find("dropped: line before login"), std::string::npos);

  // The well-behaved pair still talks.
  point.SendPlain("Crd^Vantera01^Kassa01^-^7^Kortti^99^^^");
  std::string plain;
  ASSERT_TRUE(station.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Crd^Vantera01^Kassa01^-^7^Kortti^99^^^");

  // A second login under a taken name takes it over; the older connection is closed and
  // the lines for the name reach the newer one.
  MsgLineClient restarted;
  LogIn(restarted, server.port(), "Vantera01", server);
  EXPECT_TRUE(IsDropped(station));
  EXPECT_TRUE(server.program().StderrContains("(Vantera01) dropped: the name logged in again"));
  point.SendPlain("Crd^Vantera01^Kassa01^-^8^Kortti^99^^^");
  ASSERT_TRUE(restarted.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Crd^Vantera01^Kassa01^-^8^Kortti^99^^^");
  // Logging in again on the same connection keeps it.
  restarted.SendPlain("Moi^-^Vantera01^-^0^QXVKM^");
  point.SendPlain("Crd^Vantera01^Kassa01^-^9^Kortti^99^^^");
  ASSERT_TRUE(restarted.ReadPlain(&plain, In(5000)));
  EXPECT_EQ(plain, "Crd^Vantera01^Kassa01^-^9^Kortti^99^^^");
}

TEST(MsgServer, CipherTextShape) {
  EXPECT_TRUE(LooksLikeCipherText("QUJD"));
  EXPECT_TRUE(LooksLikeCipherText("QUI="));
  EXPECT_TRUE(LooksLikeCipherText("QQ=="));
  EXPECT_FALSE(LooksLikeCipherText(""));
  EXPECT_FALSE(LooksLikeCipherText("QUJ"));
  EXPECT_FALSE(LooksLikeCipherText("Q=JD"));
  EXPECT_FALSE(LooksLikeCipherText("Q=I="));
  EXPECT_FALSE(LooksLikeCipherText("Login:  "));
}

}  // namespace
}  // namespace vantera
