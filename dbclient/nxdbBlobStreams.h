// Streams on a blob field of a dataset's active row.
//
// TnxBlobStream goes to the server at once: reads are BlobRead in pieces, the size is
// BlobGetLength, a write into a row without a blob first creates one (BlobCreate, number
// stored into the row image), then BlobWrite at the position. Opening for writing
// truncates an existing blob to 0 bytes.
//
// TnxCachedBlobStream works on a TnxBlobCache, a memory copy of the blob shared by every
// cached stream of the field on the row being edited; the dataset writes dirty caches back
// when it posts (inside a transaction) and drops them with the row buffers. A stream whose
// cache was dropped fails with "The stream has been disconnected".
//
// Errors are EnxDatabaseError in the form "TEXT [$CODE/DEC]" (no component).
#pragma once

#include <cstdint>
#include <memory>

#include "dbclient/nxdb.h"

namespace vantera {

class TnxBlobCache {
 public:
  TnxBlobCache(int field_number, int64_t blob) : field_number_(field_number), blob_(blob) {}
  int FieldNumber() const { return field_number_; }
  // The blob number the row had when the cache was made (0: none).
  int64_t OriginalBlob() const { return blob_; }
  Bytes& Data() { return data_; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }

 private:
  int field_number_;
  int64_t blob_;
  Bytes data_;
  bool dirty_ = false;
};

// The blob number of a field in a row image (0 when null).
int64_t nxBlobNumber(const TnxDataDictionary& dict, std::string_view record, int field);
void nxSetBlobNumber(const TnxDataDictionary& dict, std::span<char> record, int field,
                     int64_t blob);

class TnxBlobStream : public TStream {
 public:
  // `truncate` false keeps an existing blob's content when opening for writing (the
  // write-back of a cache).
  TnxBlobStream(TnxDataset& dataset, TnxField& field, TnxBlobStreamMode mode, bool truncate = true);
  // Marks the field modified when the stream was opened for writing or wrote.
  ~TnxBlobStream() override;

  int64_t Read(char* buffer, int64_t count) override;
  int64_t Write(const char* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  // Truncates the blob at the position.
  void Truncate();

 private:
  int64_t Blob() const;
  TnxDataset& dataset_;
  TnxField& field_;
  TnxBlobStreamMode mode_;
  int64_t position_ = 0;
  bool wrote_ = false;
};

class TnxCachedBlobStream : public TStream {
 public:
  TnxCachedBlobStream(std::weak_ptr<TnxBlobCache> cache, TnxBlobStreamMode mode);

  int64_t Read(char* buffer, int64_t count) override;
  int64_t Write(const char* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;

 private:
  std::shared_ptr<TnxBlobCache> Cache() const;
  std::weak_ptr<TnxBlobCache> cache_;
  TnxBlobStreamMode mode_;
  int64_t position_ = 0;
};

}  // namespace vantera
