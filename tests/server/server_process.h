// Runs the real kantadb-server for a test: a private runtime folder, its log in a file,
// the port read from its "listening on" line, and a bounded SIGTERM stop.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantera::testing {

class ServerProcess {
 public:
  // Starts kantadb-server with `args` (plus --runtime-dir); --listen defaults to
  // 127.0.0.1:0. Throws std::runtime_error when it does not report ready within 10 s.
  explicit ServerProcess(std::vector<std::string> args = {});
  // Stops the server if it still runs.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  uint16_t Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // SIGTERM, then waits up to `limitMs`; returns the exit code, or -1 when the server
  // had to be killed or ended by a signal.
  int Stop(int limitMs = 10000);
  // The private runtime folder handed to the server.
  std::string RuntimeFolder() const { return dir_ + "/run"; }
  // The server's log so far.
  std::string Log() const;
  // Waits (bounded) until the log contains `text`.
  bool WaitForLog(const std::string& text, int limitMs = 5000) const;
  // Number of lines of the log that contain `text`.
  int CountInLog(const std::string& text) const;

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
  std::string log_path_;
};

// A port number P for which TCP P on 127.0.0.1 and UDP P and P + 1 on every address are
// free right now.
uint16_t FreeDiscoveryPort();

// A TCP port on 127.0.0.1 that nothing listens on right now.
uint16_t UnusedTcpPort();

// Path of the kantadb-server program of this build.
std::string ServerProgram();

}  // namespace vantera::testing
