#include "protocol/nxllEventLog.h"

namespace vantera {

void MemoryEventLog::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> MemoryEventLog::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void MemoryEventLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace vantera
