// The vantera program ends on SIGTERM in time while its database server does not answer.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/temp_dir.h"
#include "tests/server/server_process.h"

extern char** environ;

namespace vantera {
namespace {

using Clock = std::chrono::steady_clock;

// Runs `program` (vantera by default) offscreen with `args` and the runtime folder of
// `xdg`; killed (SIGKILL) and reaped on the way out if it still runs.
class Workstation {
 public:
  Workstation(const std::vector<std::string>& args, const std::string& xdg,
              const char* program = VANTERA_PROGRAM) {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + xdg};
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0 && entry.rfind("XDG_RUNTIME_DIR=", 0) != 0)
        env.push_back(entry);
    }
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argv_text)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, program, nullptr, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
  }
  ~Workstation() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Workstation(const Workstation&) = delete;
  Workstation& operator=(const Workstation&) = delete;

  pid_t Pid() const { return pid_; }
  // Waits up to `limit` for the program to end; its wait status, or -1 when it still runs.
  int WaitFor(std::chrono::milliseconds limit) {
    const Clock::time_point until = Clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      if (Clock::now() >= until)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

// Stops `pid` and returns once it is stopped (the state letter of /proc/PID/stat is "T").
void Freeze(pid_t pid) {
  ::kill(pid, SIGSTOP);
  for (int i = 0; i < 400; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T')
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Sends SIGTERM to `vantera` while `server` is frozen: the program ends within 10 s by
// its orderly shut-down; then the server goes on and is stopped.
void ExpectSigtermEndsItWithinTenSeconds(Workstation& vantera, testing::ServerProcess& server) {
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(::kill(vantera.Pid(), SIGTERM), 0);
  const int status = vantera.WaitFor(std::chrono::milliseconds(10000));
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  ::kill(server.Pid(), SIGCONT);

  ASSERT_NE(status, -1) << "still running 10 s after SIGTERM";
  EXPECT_LT(took, 10.0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);  // the orderly shut-down order, not the watchdog
  EXPECT_EQ(server.Stop(), 0);
}

TEST(StalledServerProgram, SigtermEndsTheWorkstationWithinTenSecondsWhileItsServerIsStopped) {
  testing::TempDir dir;
  testing::ServerProcess server({"--name", "Keskus"});
  std::filesystem::create_directory_symlink(server.RuntimeFolder(), dir.File("vantera"));
  Workstation vantera({"--ini", dir.File("Tarvola.ini")}, dir.File(""));
  ASSERT_GT(vantera.Pid(), 0);
  ASSERT_TRUE(server.WaitForLog("opened for user", 20000)) << server.Log();
  // The window is up once its start-up has opened the session; give it the moment to
  // enter its event loop and install the signal handling.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));

  Freeze(server.Pid());
  ExpectSigtermEndsItWithinTenSeconds(vantera, server);
}

// The placement starts an identification pass, whose first table opening waits on the GUI
// thread for the stopped server; the signal ends that wait and the program.
TEST(StalledServerProgram, SigtermEndsTheWorkstationWhileAnIdentificationWaitsForTheServer) {
  testing::TempDir dir;
  testing::ServerProcess server({"--name", "Keskus"});
  std::filesystem::create_directory_symlink(server.RuntimeFolder(), dir.File("vantera"));
  Workstation vantera({"--ini", dir.File("Tarvola.ini")}, dir.File(""));
  ASSERT_GT(vantera.Pid(), 0);
  ASSERT_TRUE(server.WaitForLog("opened for user", 20000)) << server.Log();
  const std::string reader_socket = dir.File("vantera") + "/reader.sock";
  for (int i = 0; i < 200 && !std::filesystem::exists(reader_socket); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(std::filesystem::exists(reader_socket));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  Freeze(server.Pid());
  Workstation reader(
      {"place", "12345/oikea etusormi", "--runtime-dir", dir.File("vantera"), "--timeout", "20"},
      dir.File(""), VANTERA_READER_EXE);
  ASSERT_GT(reader.Pid(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the pass is waiting now
  ExpectSigtermEndsItWithinTenSeconds(vantera, server);
}

}  // namespace
}  // namespace vantera
