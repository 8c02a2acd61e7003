#include "dbclient/nxdbBlobStreams.h"

#include <algorithm>
#include <cstring>

#include "protocol/nxllException.h"

namespace vantera {

namespace {

void CheckBlobCode(uint32_t code) {
  if (code != 0)
    throw EnxDatabaseError::WithoutComponent(code);
}

int64_t NewPosition(int64_t position, int64_t size, int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::Beginning ? 0
                 : origin == SeekOrigin::Current ? position
                                                 : size;
  return std::max<int64_t>(0, base + offset);
}

}  // namespace

int64_t nxBlobNumber(const TnxDataDictionary& dict, std::string_view record, int field) {
  bool is_null = false;
  std::string_view bytes = dict.GetFieldBytes(record, field, &is_null);
  if (is_null || bytes.size() < 8)
    return 0;
  return static_cast<int64_t>(DecodeFixed64(bytes.data()));
}

void nxSetBlobNumber(const TnxDataDictionary& dict, std::span<char> record, int field,
                     int64_t blob) {
  if (blob == 0) {
    dict.SetNull(record, field);
    return;
  }
  char bytes[8];
  EncodeFixed64(bytes, static_cast<uint64_t>(blob));
  dict.SetFieldBytes(record, field, std::string_view(bytes, 8));
}

// ===================================== direct =====================================

TnxBlobStream::TnxBlobStream(TnxDataset& dataset, TnxField& field, TnxBlobStreamMode mode,
                             bool truncate)
    : dataset_(dataset), field_(field), mode_(mode) {
  if (mode_ != TnxBlobStreamMode::Read && !field_.Modified()) {
    auto state = dataset_.DataSetState();
    if (state != TnxDataSetState::Edit && state != TnxDataSetState::Insert &&
        state != TnxDataSetState::SetKey)
      throw EnxDatabaseError(
          &dataset_,
          "The BLOB stream is being opened for read/write access but the DataSet is not being "
          "edited");
  }
  if (mode_ == TnxBlobStreamMode::Write && truncate) {
    int64_t blob = Blob();
    if (blob != 0)
      CheckBlobCode(dataset_.RemoteCursor()->BlobTruncate(blob, 0));
  }
}

TnxBlobStream::~TnxBlobStream() {
  if (mode_ != TnxBlobStreamMode::Read || wrote_)
    field_.SetModified(true);
}

int64_t TnxBlobStream::Blob() const {
  return nxBlobNumber(dataset_.Dictionary(), dataset_.record_, field_.FieldNumber());
}

int64_t TnxBlobStream::Read(char* buffer, int64_t count) {
  int64_t blob = Blob();
  if (blob == 0 || count <= 0)
    return 0;
  if (position_ > INT32_MAX)
    return 0;
  int32_t want = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
  Bytes data;
  CheckBlobCode(
      dataset_.RemoteCursor()->BlobRead(blob, static_cast<int32_t>(position_), want, data));
  std::memcpy(buffer, data.data(), data.size());
  position_ += static_cast<int64_t>(data.size());
  return static_cast<int64_t>(data.size());
}

int64_t TnxBlobStream::Write(const char* buffer, int64_t count) {
  if (count <= 0)
    return 0;
  if (position_ + count > INT32_MAX)
    CheckBlobCode(15490);  // "BLOB size exceeds maximum size."
  int64_t blob = Blob();
  if (blob == 0) {
    if (dataset_.RemoteCursor()->BlobCreate(blob) != 0 || blob == 0)
      return 0;  // nothing written; a copy into the stream then fails
    nxSetBlobNumber(dataset_.Dictionary(),
                    std::span<char>(dataset_.record_.data(), dataset_.record_.size()),
                    field_.FieldNumber(), blob);
  }
  CheckBlobCode(dataset_.RemoteCursor()->BlobWrite(
      blob, static_cast<int32_t>(position_), std::string_view(buffer, static_cast<size_t>(count))));
  position_ += count;
  wrote_ = true;
  return count;
}

int64_t TnxBlobStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t size = origin == SeekOrigin::End ? Size() : 0;
  position_ = NewPosition(position_, size, offset, origin);
  return position_;
}

int64_t TnxBlobStream::Size() {
  int64_t blob = Blob();
  if (blob == 0)
    return 0;
  int32_t length = 0;
  CheckBlobCode(dataset_.RemoteCursor()->BlobGetLength(blob, length));
  return length;
}

void TnxBlobStream::Truncate() {
  int64_t blob = Blob();
  if (blob == 0)
    return;
  CheckBlobCode(dataset_.RemoteCursor()->BlobTruncate(blob, static_cast<int32_t>(position_)));
  wrote_ = true;
}

// ===================================== cached =====================================

TnxCachedBlobStream::TnxCachedBlobStream(std::weak_ptr<TnxBlobCache> cache, TnxBlobStreamMode mode)
    : cache_(std::move(cache)), mode_(mode) {}

std::shared_ptr<TnxBlobCache> TnxCachedBlobStream::Cache() const {
  auto cache = cache_.lock();
  if (!cache)
    throw EnxBaseException("The stream has been disconnected");
  return cache;
}

int64_t TnxCachedBlobStream::Read(char* buffer, int64_t count) {
  auto cache = Cache();
  int64_t size = static_cast<int64_t>(cache->Data().size());
  int64_t n = std::max<int64_t>(0, std::min(count, size - position_));
  if (n > 0)
    std::memcpy(buffer, cache->Data().data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TnxCachedBlobStream::Write(const char* buffer, int64_t count) {
  auto cache = Cache();
  if (count <= 0)
    return 0;
  if (mode_ == TnxBlobStreamMode::Read)
    return 0;
  Bytes& data = cache->Data();
  size_t end = static_cast<size_t>(position_ + count);
  if (end > data.size())
    data.resize(end);
  std::memcpy(data.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  cache->SetDirty(true);
  return count;
}

int64_t TnxCachedBlobStream::Seek(int64_t offset, SeekOrigin origin) {
  auto cache = Cache();
  position_ = NewPosition(position_, static_cast<int64_t>(cache->Data().size()), offset, origin);
  return position_;
}

int64_t TnxCachedBlobStream::Size() {
  return static_cast<int64_t>(Cache()->Data().size());
}

}  // namespace vantera
