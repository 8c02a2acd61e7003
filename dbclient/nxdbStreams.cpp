#include "dbclient/nxdbStreams.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantera {

void TStream::ReadBuffer(char* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count)
    throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const char* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count)
    throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  int64_t copied = 0;
  std::vector<char> chunk(static_cast<size_t>(std::min(count, kCopyChunkSize)));
  while (copied < count) {
    int64_t n = std::min(count - copied, kCopyChunkSize);
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    copied += n;
  }
  return copied;
}

int64_t TMemoryStream::Read(char* buffer, int64_t count) {
  int64_t available = Size() - position_;
  int64_t n = std::max<int64_t>(0, std::min(count, available));
  if (n > 0)
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const char* buffer, int64_t count) {
  if (count <= 0)
    return 0;
  size_t end = static_cast<size_t>(position_ + count);
  if (end > data_.size())
    data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::Beginning ? 0
                 : origin == SeekOrigin::Current ? position_
                                                 : Size();
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

}  // namespace vantera
