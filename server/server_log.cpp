#include "server/server_log.h"

#include <chrono>
#include <ctime>

namespace vantera {

void ServerLog::Line(const std::string& line) {
  if (!out_)
    return;
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(out_, "kantadb-server: %s.%03d %s\n", stamp, static_cast<int>(ms.count()),
               line.c_str());
  std::fflush(out_);
}

ServerLog& ServerLog::Null() {
  static ServerLog log(nullptr);
  return log;
}

}  // namespace vantera
