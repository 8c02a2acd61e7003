// One server per data folder: a second kantadb-server on a folder that a running one
// serves refuses to start and names the holder's process; once the first has ended (also
// when it was killed), a server starts on the folder again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/engine/folder_lock.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera::testing {
namespace {

struct ServerRun {
  int exit_code = -1;  // -1: did not end within the bound, or ended by a signal
  std::string output;  // stdout and stderr
};

// Runs kantadb-server with `args` to its end (at most `limit_ms`), killing it after that.
ServerRun RunServer(const std::vector<std::string>& args, const std::string& out_file,
                    int limit_ms = 10000) {
  std::string program = ServerProgram();
  std::vector<std::string> all = args;
  std::vector<char*> argv{program.data()};
  for (auto& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ServerRun run;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (status != -1 && WIFEXITED(status))
    run.exit_code = WEXITSTATUS(status);
  std::ifstream in(out_file);
  std::stringstream ss;
  ss << in.rdbuf();
  run.output = ss.str();
  return run;
}

TEST(FolderLock, ASecondServerOnTheFolderRefusesToStartAndNamesTheHolder) {
  TempFolder root;
  const std::string data = root.Sub("data");
  const std::string other = root.Sub("muu");
  std::vector<std::string> second_args{"--data",        data,          "--no-discovery",
                                       "--listen",      "127.0.0.1:0", "--runtime-dir",
                                       root.Sub("run2")};
  {
    ServerProcess first({"--data", data, "--no-discovery"});
    ServerRun second = RunServer(second_args, root.Sub("second.log"));
    EXPECT_EQ(second.exit_code, 1) << second.output;
    EXPECT_NE(second.output.find("cannot start"), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("The data folder " + data + " is in use by another server"),
              std::string::npos)
        << second.output;
    EXPECT_NE(second.output.find("process " + std::to_string(first.Pid())), std::string::npos)
        << second.output;
    EXPECT_EQ(second.output.find("listening on"), std::string::npos) << second.output;
    // The same folder as a further alias is refused too; another folder is not held.
    ServerRun alias = RunServer({"--alias", "Toinen=" + data, "--no-discovery", "--listen",
                                 "127.0.0.1:0", "--runtime-dir", root.Sub("run3")},
                                root.Sub("alias.log"));
    EXPECT_EQ(alias.exit_code, 1) << alias.output;
    {
      ServerProcess beside({"--data", other, "--no-discovery"});
      EXPECT_EQ(FolderLock::HolderOf(other), beside.Pid());
    }
    EXPECT_EQ(FolderLock::HolderOf(data), first.Pid());
    EXPECT_EQ(first.Stop(), 0);
  }
  // After a clean stop and after a kill, a new server takes the folder.
  {
    ServerProcess again({"--data", data, "--no-discovery"});
    EXPECT_EQ(FolderLock::HolderOf(data), again.Pid());
    ::kill(again.Pid(), SIGKILL);
    EXPECT_EQ(again.Stop(2000), -1);
  }
  ServerProcess after_kill({"--data", data, "--no-discovery"});
  EXPECT_EQ(FolderLock::HolderOf(data), after_kill.Pid());
}

TEST(FolderLock, ALockInThisProcessExcludesAnotherAndEndsWithItsOwner) {
  TempFolder root;
  const std::string data = root.Sub("data");
  {
    std::vector<FolderLock> held = LockDataFolders({data, data + "/.", root.Sub("muu")});
    EXPECT_EQ(held.size(), 2u);  // the same folder named twice is locked once
    EXPECT_EQ(FolderLock::HolderOf(data), ::getpid());
    try {
      FolderLock second(data);
      ADD_FAILURE() << "the folder was locked twice";
    } catch (const EnxBaseException& e) {
      EXPECT_EQ(e.ErrorCode(), 9221u);
      EXPECT_NE(e.BareText().find("process " + std::to_string(::getpid())), std::string::npos)
          << e.BareText();
    }
  }
  EXPECT_EQ(FolderLock::HolderOf(data), 0);
  FolderLock again(data);
  EXPECT_EQ(FolderLock::HolderOf(data), ::getpid());
}

}  // namespace
}  // namespace vantera::testing
