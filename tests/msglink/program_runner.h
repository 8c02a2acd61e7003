// Test helper: runs one of the project's programs as a child process with its stdout and
// stderr in files of a private temporary folder, and stops it again. Every wait is bounded.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace vantera::test {

class RunningProgram {
 public:
  RunningProgram(const std::string& path, const std::vector<std::string>& args);
  ~RunningProgram();  // SIGTERM, then SIGKILL if it does not end within 5 s
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  std::string Stderr() const;
  std::string Stdout() const;
  bool StderrContains(const std::string& text) const;
  // Polls the stderr file until it holds text (sleeping, no event loop).
  bool WaitForStderr(const std::string& text, int timeout_ms = 5000) const;
  // Waits for the program to end: its exit code, 128 + signal, or -1 on time-out.
  int Wait(int timeout_ms = 5000);
  // SIGTERM and Wait.
  int Stop(int timeout_ms = 5000);
  bool running() const { return pid_ > 0 && !exited_; }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string dir_;
};

// Runs a program to its end (bounded): exit code, stdout and stderr.
struct ProgramResult {
  int code = -1;
  std::string out;
  std::string err;
};
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         int timeout_ms = 20000);

// vantera-msgserver on a free loopback port (or the given one); port() read from its log.
class MsgServerProcess {
 public:
  explicit MsgServerProcess(uint16_t port = 0, std::vector<std::string> extra = {});
  uint16_t port() const { return port_; }
  RunningProgram& program() { return program_; }

 private:
  RunningProgram program_;
  uint16_t port_ = 0;
};

// A loopback port that nobody listens on (bound once, then released).
uint16_t UnusedPort();

}  // namespace vantera::test
