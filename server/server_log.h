// The server's log: one line per event on stderr (or any stream), safe from every thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace vantera {

class ServerLog {
 public:
  explicit ServerLog(std::FILE* out = stderr) : out_(out) {}
  // Writes "kantadb-server: TIME LINE" and flushes.
  void Line(const std::string& line);
  // A log that writes nothing (fuzzing, tests).
  static ServerLog& Null();

 private:
  std::FILE* out_;
  std::mutex mutex_;
};

}  // namespace vantera
