// vantera-cardpoint: presents a card to a workstation through the message server, or sends
// it a log command.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/win1252.h"
#include "msglink/Brkapart.h"
#include "msglink/Wdef.h"
#include "tools/cardpoint/cardpoint_command.h"
#include "tools/cardpoint/msg_line_client.h"

namespace {

using vantera::CardpointCommand;
using vantera::MsgLineClient;
using Clock = MsgLineClient::Clock;

constexpr int kExitOk = 0;
constexpr int kExitTimeout = 1;
constexpr int kExitUsage = 2;
constexpr int kExitConnection = 3;

std::vector<std::string> Split(const std::string& plain) {
  vantera::TBrkApart split("^", true);
  split.SetBaseString(plain);
  split.Split();
  return split.StringList();
}

std::string Shown(const std::string& text) {
  return vantera::Win1252ToUtf8(text);
}

void Log(const std::string& line) {
  std::fprintf(stderr, "vantera-cardpoint: %s\n", line.c_str());
}

int Present(const CardpointCommand& cmd, MsgLineClient& client) {
  std::string line = vantera::BuildCardMessage(cmd);
  client.SendPlain(line);
  Log("sent: " + Shown(line));
  auto deadline = vantera::CommandDeadline(cmd, Clock::now());
  std::string plain;
  while (client.ReadPlain(&plain, deadline)) {
    auto f = Split(plain);
    // The OK reply: the card message's type, addressed to us, "OK" in field 6.
    if (f.size() >= 7 && f[vantera::kFieldTyyppi] == vantera::kTypeCard &&
        f[vantera::kFieldRecipient] == cmd.name && f[vantera::kFieldKorttiLyh] == "OK") {
      Log("reply: " + Shown(plain));
      static const char* const kNames[] = {"Tyyppi", "Vastaanottaja", "Lahettaja",
                                           "Via",    "SanomaNo",      "Sanoma",
                                           "Tulos",  "EtaNo",         "SiltaSrv"};
      for (size_t i = 0; i < 9; ++i)
        std::printf("%s: %s\n", kNames[i], i < f.size() ? Shown(f[i]).c_str() : "");
      return kExitOk;
    }
    Log("ignored: " + Shown(plain));
  }
  Log("no reply within " + std::to_string(cmd.timeout_s) + " s");
  return kExitTimeout;
}

int SendLogCommand(const CardpointCommand& cmd, MsgLineClient& client) {
  std::string line = vantera::BuildLogCommand(cmd);
  client.SendPlain(line);
  Log("sent: " + Shown(line));
  auto end = vantera::CommandDeadline(cmd, Clock::now());
  int lines = 0;
  std::string plain;
  for (;;) {
    if (!client.ReadPlain(&plain, vantera::NextLogLineDeadline(cmd, Clock::now(), end)))
      break;
    auto f = Split(plain);
    if (f.size() >= 6 && f[vantera::kFieldTyyppi] == vantera::kTypeLog) {
      std::printf("%s\n", Shown(f[vantera::kFieldSanoma]).c_str());
      std::fflush(stdout);
      ++lines;
    }
  }
  if (cmd.command == vantera::kCommandGetLog && lines == 0) {
    Log("no log lines came back");
    return kExitTimeout;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  CardpointCommand cmd;
  try {
    cmd = vantera::ParseCardpointCommand(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "vantera-cardpoint: %s\nTry 'vantera-cardpoint --help'.\n", e.what());
    return kExitUsage;
  }
  if (cmd.action == CardpointCommand::Action::kHelp) {
    std::fputs(vantera::kCardpointUsage, stdout);
    return kExitOk;
  }
  MsgLineClient client;
  try {
    client.Connect(cmd.host, cmd.port, std::chrono::seconds(10));
    client.Login(cmd.name, std::chrono::seconds(10));
    Log("logged in as " + Shown(cmd.name) + " at " + cmd.host + ":" + std::to_string(cmd.port));
    return cmd.action == CardpointCommand::Action::kPresent ? Present(cmd, client)
                                                            : SendLogCommand(cmd, client);
  } catch (const vantera::MsgClientError& e) {
    Log(e.what());
    return kExitConnection;
  }
}
