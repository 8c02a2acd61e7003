// kantadb-server as a child process of a benchmark, shared by the benchmarks that measure
// a client against the real server program.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantera::bench {

// Whether the server gets a data folder (the alias "Tarvola") of its own.
enum class DataFolder { None, Private };

// kantadb-server listening on 127.0.0.1 (port chosen by the system) without discovery,
// with a private folder under /tmp that holds its runtime folder ("run") and, if asked,
// its data folder ("data"), plus `extra` options. Throws std::runtime_error when it does
// not start. Stopped with SIGTERM, and the folder removed, when destroyed.
class ServerChild {
 public:
  explicit ServerChild(const std::vector<std::string>& extra = {},
                       DataFolder data = DataFolder::Private);
  ~ServerChild();
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  uint16_t Port() const { return port_; }
  std::string RuntimeFolder() const { return dir_ + "/run"; }

 private:
  void Start(const std::vector<std::string>& extra, DataFolder data);
  void Stop();

  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
};

}  // namespace vantera::bench
