// Byte streams that blob fields load from and save into.
//
// TStream is a positioned byte stream; CopyFrom moves bytes between two streams in chunks
// of at most kCopyChunkSize, so one copy of n <= 61440 bytes is one read and one write.
// TMemoryStream keeps its bytes in memory. Blob streams (nxdbBlobStreams.h) derive from
// TStream as well.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/coding.h"

namespace vantera {

inline constexpr int64_t kCopyChunkSize = 61440;

enum class SeekOrigin { Beginning, Current, End };

// A stream that did not deliver or take the bytes asked for: "Stream read error" or
// "Stream write error".
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes at the position; returns how many came.
  virtual int64_t Read(char* buffer, int64_t count) = 0;
  // Writes `count` bytes at the position; returns how many were taken.
  virtual int64_t Write(const char* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
  // Exactly `count` bytes or EStreamError.
  void ReadBuffer(char* buffer, int64_t count);
  void WriteBuffer(const char* buffer, int64_t count);
  // Copies `count` bytes from the source's position; 0 copies the whole source from its
  // beginning. Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) : data_(bytes) {}

  int64_t Read(char* buffer, int64_t count) override;
  int64_t Write(const char* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  const Bytes& Data() const { return data_; }
  void Clear() {
    data_.clear();
    position_ = 0;
  }

 private:
  Bytes data_;
  int64_t position_ = 0;
};

}  // namespace vantera
