// The vantera program as a whole, run as a child process (offscreen).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include <filesystem>

#include "tests/app/temp_dir.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

struct Result {
  int code = -1;
  std::string out;
};

// Runs vantera with the arguments (bounded by `timeout`) and returns exit code and stdout.
Result RunVantera(const std::string& args, const std::string& env = {}) {
  std::string command =
      env + " QT_QPA_PLATFORM=offscreen timeout 60 " VANTERA_PROGRAM " " + args + " 2>/dev/null";
  Result result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return result;
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    result.out.append(buffer, n);
  int status = ::pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(ProgramTest, RunsCommandsAndTheWindowToAnOrderlyEnd) {
  Result version = RunVantera("--version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "Vantera 3.0.5.0\n");
  EXPECT_EQ(RunVantera("--no-such-option").code, 2);

  // Without a settings file the workstation reaches the one database server running on
  // the machine through the local registry (here: a private runtime folder).
  testing::TempDir dir;
  testing::ServerProcess server({"--name", "Keskus"});
  std::filesystem::create_directory_symlink(server.RuntimeFolder(), dir.File("vantera"));
  std::string shot = dir.File("shot.png");
  Result window =
      RunVantera("--ini " + dir.File("Tarvola.ini") + " --quit-after 200 --screenshot " + shot,
                 "XDG_RUNTIME_DIR=" + dir.File(""));
  EXPECT_EQ(window.code, 0);
  EXPECT_EQ(server.CountInLog("opened for user"), 1);
  std::ifstream png(shot, std::ios::binary);
  std::string magic(4, '\0');
  png.read(magic.data(), 4);
  EXPECT_EQ(magic, "\x89PNG");
}

}  // namespace
}  // namespace vantera
