// The event log that database components write their diagnostic lines to.
//
// A component holds a non-owning pointer to one (or none). Transports write from their
// worker threads, so every implementation must accept lines from several threads at once.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vantera {

class EventLog {
 public:
  virtual ~EventLog() = default;
  // Appends one line. Must be safe to call from any thread.
  virtual void WriteLine(const std::string& line) = 0;
};

// Keeps the lines in memory; for tests and for showing recent diagnostics.
class MemoryEventLog : public EventLog {
 public:
  void WriteLine(const std::string& line) override;
  std::vector<std::string> Lines() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace vantera
