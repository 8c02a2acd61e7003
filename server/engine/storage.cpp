#include "server/engine/storage.h"

#include <mutex>

namespace vantera {

namespace {
std::mutex& FailureLogMutex() {
  static std::mutex mu;
  return mu;
}
std::function<void(const std::string&)>& FailureLog() {
  static std::function<void(const std::string&)> log;
  return log;
}
}  // namespace

void SetStoreFailureLog(std::function<void(const std::string&)> log) {
  std::lock_guard lock(FailureLogMutex());
  FailureLog() = std::move(log);
}

void ReportStoreFailure(const std::string& line) {
  std::lock_guard lock(FailureLogMutex());
  if (FailureLog())
    FailureLog()(line);
}

Storage::Write::Write(Storage& store) : store_(store) {
  store_.BeginChange();
}

void Storage::Write::Commit() {
  store_.CommitChange();
  done_ = true;
}

Storage::Write::~Write() {
  if (!done_)
    store_.UndoChange();
}

}  // namespace vantera
