// vantera-msgserver: routes the enciphered lines of the card system between named clients.
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "msgserver/msg_router.h"
#include "msgserver/options.h"

namespace {

int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  int saved = errno;
  char b = 1;
  [[maybe_unused]] ssize_t n = ::write(g_stop_pipe[1], &b, 1);
  errno = saved;
}

void Log(const std::string& line) {
  std::string out = "vantera-msgserver: " + line + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  vantera::MsgServerCommand cmd;
  try {
    cmd = vantera::ParseMsgServerCommand(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "vantera-msgserver: %s\nTry 'vantera-msgserver --help'.\n", e.what());
    return 2;
  }
  if (cmd.help) {
    std::fputs(vantera::kMsgServerUsage, stdout);
    return 0;
  }
  if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    Log("cannot create the stop pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    vantera::LoadClients(&cmd);
    vantera::MsgRouter router(cmd.router, Log);
    router.Listen();
    router.Run(g_stop_pipe[0]);
  } catch (const std::exception& e) {
    Log(std::string("error: ") + e.what());
    return 1;
  }
  Log("stopped");
  return 0;
}
