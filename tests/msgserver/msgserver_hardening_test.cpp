// The message server against clients that lie about who they are: forged senders, name
// takeover from other addresses, log commands from anybody, connections that never log
// in, and floods of connections from one address.
#include <gtest/gtest.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "msgserver/client_list.h"
#include "tests/msglink/program_runner.h"
#include "tests/msgserver/bound_client.h"

namespace vantera {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using test::BoundClient;
using test::MsgServerProcess;

// A private folder with one clients file; removed again.
class ClientsFile {
 public:
  explicit ClientsFile(const std::string& text) {
    char tmpl[] = "/tmp/vantera-clients-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    path_ = dir_ + "/clients";
    std::ofstream(path_) << text;
  }
  ~ClientsFile() {
    std::remove(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// A client from source logged in under name (the server has said so).
std::unique_ptr<BoundClient> LogIn(MsgServerProcess& server, const std::string& source,
                                   const std::string& name) {
  auto c = std::make_unique<BoundClient>(source, server.port());
  c->Login(name);
  EXPECT_TRUE(server.program().WaitForStderr("(" + name + ") logged in from " + source))
      << server.program().Stderr();
  return c;
}

// The next line c receives within 3 s, or "(nothing)".
std::string Next(BoundClient& c, milliseconds wait = milliseconds(3000)) {
  std::string line;
  return c.ReadPlain(&line, wait) ? line : "(nothing)";
}

const char kForgedOk[] = "Crd^Kassa01^Vantera01^-^5^Kortti^OK^E^S^";

TEST(MsgServerHardening, ForgedSenderIsNotRouted) {
  MsgServerProcess server;
  EXPECT_TRUE(server.program().StderrContains(
      "warning: names are not bound to addresses (no --clients file)"));
  auto point = LogIn(server, "127.0.0.1", "Kassa01");
  auto station = LogIn(server, "127.0.0.1", "Vantera01");
  auto evil = LogIn(server, "127.0.0.2", "Evil");

  // An OK reply that claims to come from the workstation never reaches the card point.
  evil->SendPlain(kForgedOk);
  ASSERT_TRUE(server.program().WaitForStderr(
      "(Evil) line dropped: its sender Vantera01 is not its login name Evil: " +
      std::string(kForgedOk)));
  EXPECT_EQ(Next(*point, milliseconds(300)), "(nothing)");
  // Neither does a card message under the card point's name reach the workstation.
  evil->SendPlain("Crd^Vantera01^Kassa01^-^6^Kortti^4711^E^S^");
  ASSERT_TRUE(server.program().WaitForStderr("sender Kassa01 is not its login name Evil"));
  EXPECT_EQ(Next(*station, milliseconds(300)), "(nothing)");

  // The connection stays, and its lines under its own name are routed as before; so are
  // the genuine ones, and without a clients file log commands work as they did.
  evil->SendPlain("Crd^Kassa01^Evil^-^7^x^1^^^");
  EXPECT_EQ(Next(*point), "Crd^Kassa01^Evil^-^7^x^1^^^");
  station->SendPlain(kForgedOk);
  EXPECT_EQ(Next(*point), kForgedOk);
  evil->SendPlain("Log^Vantera01^Evil^-^0^^GetLog^");
  EXPECT_EQ(Next(*station), "Log^Vantera01^Evil^-^0^^GetLog^");
  EXPECT_FALSE(evil->closed());
}

TEST(MsgServerHardening, BoundNameLogsInOnlyFromItsAddresses) {
  ClientsFile clients(
      "# counters and card points\n"
      "Vantera01 127.0.0.1\n"
      "Kassa01   127.0.0.0/8\n"
      "\n");
  MsgServerProcess server(0, {"--clients", clients.path()});
  EXPECT_TRUE(server.program().StderrContains("client names bound to addresses: 2 name(s) from " +
                                              clients.path()));
  EXPECT_FALSE(server.program().StderrContains("warning: names are not bound"));
  auto station = LogIn(server, "127.0.0.1", "Vantera01");
  auto point = LogIn(server, "127.0.0.3", "Kassa01");  // inside its network

  // A login as Vantera01 from another address is refused and closed; the holder keeps
  // the name and its card messages.
  BoundClient thief("127.0.0.2", server.port());
  thief.Login("Vantera01");
  EXPECT_TRUE(thief.ClosedWithin(seconds(5)));
  EXPECT_TRUE(server.program().WaitForStderr(
      "dropped: login as Vantera01 refused: the name is bound to other addresses than "
      "127.0.0.2"));
  point->SendPlain("Crd^Vantera01^Kassa01^-^8^Kortti^4711^E^S^");
  EXPECT_EQ(Next(*station), "Crd^Vantera01^Kassa01^-^8^Kortti^4711^E^S^");
  EXPECT_FALSE(station->closed());

  // A connection logged in under a free name cannot rename itself to the bound one.
  auto guest = LogIn(server, "127.0.0.2", "Gast");
  guest->SendPlain("Moi^-^Vantera01^-^0^QXVKM^");
  EXPECT_TRUE(guest->ClosedWithin(seconds(5)));
  point->SendPlain("Crd^Vantera01^Kassa01^-^9^Kortti^4711^E^S^");
  EXPECT_EQ(Next(*station), "Crd^Vantera01^Kassa01^-^9^Kortti^4711^E^S^");

  // A restarted workstation on its own address still takes the name over.
  auto restarted = LogIn(server, "127.0.0.1", "Vantera01");
  EXPECT_TRUE(station->ClosedWithin(seconds(5)));
  point->SendPlain("Crd^Vantera01^Kassa01^-^10^Kortti^4711^E^S^");
  EXPECT_EQ(Next(*restarted), "Crd^Vantera01^Kassa01^-^10^Kortti^4711^E^S^");
}

TEST(MsgServerHardening, LogCommandsOnlyFromLogNames) {
  ClientsFile clients(
      "Vantera01 127.0.0.1\n"
      "Kassa01 127.0.0.1\n"
      "Valvoja 127.0.0.1 log  # the supervisor's desk\n");
  MsgServerProcess server(0, {"--clients", clients.path()});
  auto station = LogIn(server, "127.0.0.1", "Vantera01");
  auto point = LogIn(server, "127.0.0.1", "Kassa01");
  auto desk = LogIn(server, "127.0.0.1", "Valvoja");
  auto guest = LogIn(server, "127.0.0.2", "Gast");  // not in the file

  for (const char* command : {"GetLog", "ClearLog"}) {
    point->SendPlain(std::string("Log^Vantera01^Kassa01^-^0^^") + command + "^");
    ASSERT_TRUE(server.program().WaitForStderr(
        std::string("(Kassa01) line dropped: Kassa01 may not send log commands (not marked "
                    "log in the clients file), to Vantera01: Log^Vantera01^Kassa01^-^0^^") +
        command));
  }
  point->SendPlain("Log^Vantera01^Kassa01^-^0^On^ShowLog^");
  guest->SendPlain("Log^Vantera01^Gast^-^0^^GetLog^");
  ASSERT_TRUE(server.program().WaitForStderr("(Gast) line dropped: Gast may not send log"));
  EXPECT_EQ(Next(*station, milliseconds(300)), "(nothing)");

  // The log name's command is routed, and the workstation's log lines (no command in
  // field 6) go back to it from a name that may not send commands.
  desk->SendPlain("Log^Vantera01^Valvoja^-^0^^GetLog^");
  EXPECT_EQ(Next(*station), "Log^Vantera01^Valvoja^-^0^^GetLog^");
  station->SendPlain("Log^Valvoja^Vantera01^-^0^Rcv: Crd\xA4Vantera01^");
  EXPECT_EQ(Next(*desk), "Log^Valvoja^Vantera01^-^0^Rcv: Crd\xA4Vantera01^");
  station->SendPlain("Log^Valvoja^Vantera01^-^0^Error: No log found...^");
  EXPECT_EQ(Next(*desk), "Log^Valvoja^Vantera01^-^0^Error: No log found...^");
}

TEST(MsgServerHardening, ConnectionsWithoutLoginAreClosed) {
  MsgServerProcess server(0, {"--login-timeout", "1"});
  auto station = LogIn(server, "127.0.0.1", "Vantera01");
  BoundClient idle("127.0.0.2", server.port());
  BoundClient trickle("127.0.0.2", server.port());
  std::string line;
  ASSERT_TRUE(idle.ReadPlain(&line, seconds(5)));
  EXPECT_EQ(line, "Login:");
  // Bytes that never make a line do not keep the connection.
  auto until = BoundClient::Clock::now() + seconds(5);
  while (!trickle.closed() && BoundClient::Clock::now() < until) {
    try {
      trickle.SendRaw("Q");
    } catch (const std::runtime_error&) {
      break;  // reset by the server: closed
    }
    trickle.ReadPlain(&line, milliseconds(200));
  }
  EXPECT_TRUE(idle.ClosedWithin(seconds(5)));
  EXPECT_TRUE(trickle.ClosedWithin(seconds(1)));
  EXPECT_TRUE(server.program().WaitForStderr("dropped: no login within 1 s"));

  // The logged-in client stays past the login time and is still served.
  auto point = LogIn(server, "127.0.0.1", "Kassa01");
  point->SendPlain("Crd^Vantera01^Kassa01^-^1^Kortti^4711^E^S^");
  EXPECT_EQ(Next(*station), "Crd^Vantera01^Kassa01^-^1^Kortti^4711^E^S^");
  EXPECT_FALSE(station->closed());
}

TEST(MsgServerHardening, ConnectionsPerAddressAreLimited) {
  MsgServerProcess server(0, {"--max-per-address", "3"});
  std::vector<std::unique_ptr<BoundClient>> held;
  std::string line;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<BoundClient>("127.0.0.2", server.port()));
    ASSERT_TRUE(held.back()->ReadPlain(&line, seconds(5)));
    EXPECT_EQ(line, "Login:");
  }
  // The fourth from that address is closed without a prompt, and the refusal is logged.
  BoundClient fourth("127.0.0.2", server.port());
  EXPECT_FALSE(fourth.ReadPlain(&line, seconds(5)));
  EXPECT_TRUE(fourth.closed());
  EXPECT_TRUE(server.program().WaitForStderr(
      "connection from 127.0.0.2 refused: it has 3 connections already (--max-per-address)"));

  // Other addresses are not affected, and a slot that is given back can be used again.
  auto station = LogIn(server, "127.0.0.1", "Vantera01");
  held.pop_back();
  bool admitted = false;
  for (int i = 0; i < 50 && !admitted; ++i) {
    BoundClient again("127.0.0.2", server.port());
    admitted = again.ReadPlain(&line, milliseconds(500)) && line == "Login:";
    if (!admitted)
      usleep(100000);
  }
  EXPECT_TRUE(admitted);
}

TEST(MsgServerHardening, ClientLimitStaysUnderTheOpenFileLimit) {
  // With 40 descriptors the server cannot hold 1000 clients: it lowers its limit and
  // refuses the connections beyond it, instead of leaving them unaccepted.
  test::RunningProgram server("/bin/sh",
                              {"-c", std::string("ulimit -n 40; exec ") + VANTERA_MSGSERVER_PATH +
                                         " --listen 127.0.0.1:0 --max-per-address 0"});
  ASSERT_TRUE(server.WaitForStderr("at most 24 clients: the open-file limit is 40"))
      << server.Stderr();
  const std::string marker = "listening on 127.0.0.1:";
  ASSERT_TRUE(server.WaitForStderr(marker));
  std::string log = server.Stderr();
  auto port = static_cast<uint16_t>(std::stoul(log.substr(log.find(marker) + marker.size())));
  std::vector<std::unique_ptr<BoundClient>> clients;
  std::string line;
  for (int i = 0; i < 24; ++i) {
    clients.push_back(std::make_unique<BoundClient>("127.0.0.2", port));
    ASSERT_TRUE(clients.back()->ReadPlain(&line, seconds(5))) << i;
  }
  for (int i = 0; i < 6; ++i) {
    BoundClient over("127.0.0.2", port);
    EXPECT_TRUE(over.ClosedWithin(seconds(5))) << i;
  }
  EXPECT_TRUE(server.WaitForStderr("connection from 127.0.0.2 refused: too many clients (24)"));
  EXPECT_EQ(server.Stop(), 0);
}

TEST(MsgServerHardening, ClientsFileFormat) {
  auto list = ClientList::Parse(
      "# comment\n"
      "\n"
      "Vantera01 192.168.10.21\r\n"
      "Vantera01\t192.168.20.0/24   # a second counter network\n"
      "Valvoja 10.0.0.7/32 log\n"
      "Kaikki 0.0.0.0/0\n"
      "Kass\xC3\xA4 10.1.2.3\n",
      "f");
  uint32_t a = 0;
  ASSERT_TRUE(ParseIpv4("192.168.10.21", &a));
  EXPECT_EQ(FormatIpv4(a), "192.168.10.21");
  EXPECT_EQ(list.size(), 4u);
  EXPECT_TRUE(list.MayLogInFrom("Vantera01", a));
  ASSERT_TRUE(ParseIpv4("192.168.20.254", &a));
  EXPECT_TRUE(list.MayLogInFrom("Vantera01", a));
  ASSERT_TRUE(ParseIpv4("192.168.21.1", &a));
  EXPECT_FALSE(list.MayLogInFrom("Vantera01", a));
  EXPECT_TRUE(list.MayLogInFrom("Kaikki", a));
  EXPECT_TRUE(list.MayLogInFrom("Unbound", a));
  EXPECT_FALSE(list.MayLogInFrom("vantera01", 0) && list.Binds("vantera01"));
  EXPECT_TRUE(list.Binds("Kass\xE4"));  // UTF-8 in the file, Windows-1252 on the wire
  EXPECT_TRUE(list.MaySendLogCommands("Valvoja"));
  EXPECT_FALSE(list.MaySendLogCommands("Vantera01"));
  EXPECT_FALSE(list.MaySendLogCommands("Unbound"));

  struct Bad {
    std::string text;
    std::string error;
  };
  for (const Bad& bad : std::vector<Bad>{
           {"ok 1.2.3.4\nVantera01\n", "f:2: expected NAME ADDRESS[/PREFIX] [log]"},
           {"Vantera01 1.2.3.4 log extra\n", "f:1: expected NAME ADDRESS[/PREFIX] [log]"},
           {"Vantera01 1.2.3\n", "f:1: '1.2.3' is not an IPv4 address"},
           {"Vantera01 vantera.example\n", "f:1: 'vantera.example' is not an IPv4 address"},
           {"Vantera01 1.2.3.4/33\n", "f:1: the prefix of '1.2.3.4/33' is not a number"},
           {"Vantera01 1.2.3.4/\n", "f:1: the prefix of '1.2.3.4/' is not a number"},
           {"\n\nVantera01 1.2.3.4 LOG\n", "f:3: unknown word 'LOG'"},
           {"A^B 1.2.3.4\n", "f:1: 'A^B' cannot be a client name"},
           {"- 1.2.3.4\n", "f:1: '-' cannot be a client name"},
           {"Kass\xE4 1.2.3.4\n", "f:1: the name is not UTF-8 text"},
           {std::string(36, 'x') + " 1.2.3.4\n", "f:1: the name is longer than 35"},
       }) {
    try {
      ClientList::Parse(bad.text, "f");
      ADD_FAILURE() << "accepted: " << bad.text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(bad.error, 0), 0u) << e.what();
    }
  }
}

TEST(MsgServerHardening, CommandLine) {
  auto help = test::RunProgram(VANTERA_MSGSERVER_PATH, {"--help"});
  for (const char* option : {"--clients FILE", "--login-timeout SECONDS", "--max-per-address N"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--login-timeout", "0"}).code, 2);
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--max-per-address", "x"}).code, 2);
  EXPECT_EQ(test::RunProgram(VANTERA_MSGSERVER_PATH, {"--clients"}).code, 2);

  // A malformed clients file stops the start with its name and line.
  ClientsFile bad("Vantera01 127.0.0.1\nKassa01 127.0.0.300\n");
  auto run = test::RunProgram(VANTERA_MSGSERVER_PATH,
                              {"--listen", "127.0.0.1:0", "--clients", bad.path()});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("error: " + bad.path() + ":2: '127.0.0.300' is not an IPv4 address"),
            std::string::npos)
      << run.err;
  auto missing = test::RunProgram(VANTERA_MSGSERVER_PATH,
                                  {"--listen", "127.0.0.1:0", "--clients", bad.path() + ".none"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("cannot read the clients file"), std::string::npos);
}

}  // namespace
}  // namespace vantera
