#include "server/engine/storage.h"

#include <algorithm>
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

void WriteChunks(int64_t offset, std::string_view data, int64_t total, int64_t chunk_size,
                 const std::function<Bytes(int64_t n)>& read,
                 const std::function<void(int64_t n, const Bytes& chunk)>& put) {
  int64_t pos = offset;
  const int64_t end = offset + static_cast<int64_t>(data.size());
  while (pos < end) {
    const int64_t n = pos / chunk_size;
    const int64_t start = n * chunk_size;
    const int64_t within = pos - start;
    const int64_t take = std::min(chunk_size - within, end - pos);
    const std::string_view piece =
        data.substr(static_cast<size_t>(pos - offset), static_cast<size_t>(take));
    Bytes chunk;
    const int64_t old_size = start < total ? std::min(chunk_size, total - start) : 0;
    if (old_size > 0 && !(within == 0 && take >= old_size))
      chunk = read(n);
    if (chunk.size() < static_cast<size_t>(within + take))
      chunk.resize(static_cast<size_t>(within + take));
    chunk.replace(static_cast<size_t>(within), piece.size(), piece);
    put(n, chunk);
    pos += take;
  }
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
