// A table cursor on the server: a table, a current index, an optional key range and a
// position in that index.
//
// Position states and the operations that move between them:
//
//   before the first --RecordGetNext--> on a record --RecordGetNext (past the last)--> after
//        ^   ^  SetToBegin, SetRange,          |  SetToBookmark, RecordGetForKey,       the last
//        |   |  SwitchToIndex (no keep)        |  RecordInsert, SetToCursor                |
//        |   +---------- RecordGetPrior (before the first) ---------+  <--- RecordGetPrior ---+
//
// "On a record" keeps the record's sort key and row number. When the record is deleted or
// changed by someone else, the place stays where the record was, so the next and prior
// records are found from there; reading the current record then answers 8708.
//
// Ranges are sort-key bounds (sort_key.h): the lower bound inclusive, the upper exclusive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/locate_filter.h"
#include "server/engine/server_database.h"
#include "server/engine/sort_key.h"

namespace vantera {

struct RangeEndSpec {
  int32_t field_count = 0;
  int32_t partial_length = 0;
  bool inclusive = true;
  Bytes key;  // a record image, or empty for an open end
};

class ServerCursor {
 public:
  // Throws 10253 when exclusive use of the table conflicts.
  ServerCursor(uint32_t id, ServerDatabase& database, std::shared_ptr<const TableDef> table,
               bool read_only, bool exclusive, int32_t timeout);
  // A clone: same table, index, range and position.
  ServerCursor(uint32_t id, const ServerCursor& other, bool read_only);
  ~ServerCursor();
  ServerCursor(const ServerCursor&) = delete;
  ServerCursor& operator=(const ServerCursor&) = delete;

  uint32_t id() const { return id_; }
  ServerDatabase& database() const { return database_; }
  const TableDef& table() const { return *table_; }
  const std::shared_ptr<const TableDef>& table_ptr() const { return table_; }
  int32_t index() const { return index_; }
  int32_t timeout() const { return timeout_; }
  void set_timeout(int32_t t) { timeout_ = t; }

  // ---- Position ----
  void SetToBegin();
  void SetToEnd();
  void SetToCursor(const ServerCursor& other);
  Bytes GetBookmark(int32_t size) const;
  void SetToBookmark(std::string_view bookmark);
  int8_t CompareBookmarks(std::string_view a, std::string_view b) const;
  int32_t SwitchToIndex(std::string_view name, int32_t number, bool keep_position);

  // ---- Reading; each answers the image (empty when `want_image` is false) ----
  Bytes RecordGet(uint8_t lock_mode, bool want_image);
  Bytes RecordGetNext(uint8_t lock_mode, bool want_image);
  Bytes RecordGetPrior(uint8_t lock_mode, bool want_image);
  Bytes RecordGetForKey(int32_t field_count, int32_t partial_length, bool first_call,
                        bool want_image, std::string_view key);

  // The first record of the current order and range (from its start) whose located fields
  // equal the filter's values; the cursor stays where it was when none does (8710). A field
  // name the table lacks or an image of the wrong size answers 9986.
  void Locate(const LocateFilter& filter);

  // ---- Ranges ----
  void SetRange(const RangeEndSpec& start, const RangeEndSpec& end);
  void ResetRange();
  int64_t RecordCount();

  // ---- Writing ----
  void RecordInsert(int32_t lock_mode, std::string_view image);
  void RecordModify(bool release_lock, std::string_view image);
  Bytes RecordDelete(bool want_image);
  void RecordDeleteAll();
  void RecordRelLock(bool all_locks);
  bool RecordIsLocked();

  // ---- Blobs ----
  int64_t BlobCreate();
  void BlobRelease(int64_t blob);
  // The bytes and whether the blob's end was reached before `length` bytes.
  Bytes BlobRead(int64_t blob, int32_t offset, int32_t length, bool* at_end);
  void BlobWrite(int64_t blob, int32_t offset, std::string_view data);
  void BlobTruncate(int64_t blob, int32_t length);
  int32_t BlobGetLength(int64_t blob);

 private:
  enum class Where { kBegin, kEnd, kOn };
  const IndexLayout& CurrentIndex() const;
  const TableSchema& schema() const { return table_->schema; }
  Storage& store() const { return database_.store(); }
  FolderState& folder() const { return database_.folder(); }
  uint32_t session() const { return database_.session(); }
  Bytes Step(bool forward, uint8_t lock_mode, bool want_image);
  Bytes Deliver(const FoundRecord& found, uint8_t lock_mode, bool want_image);
  // Takes the edit lock on `row`, then reads it; 8708 (and no lock) when it is gone.
  Bytes LockAndRead(int64_t row, bool want_image);
  void CheckWritable() const;
  void CheckImage(std::string_view image) const;
  std::vector<int64_t> BlobNumbers(std::string_view image) const;
  std::vector<Bytes> Keys(std::string_view image, int64_t row) const;
  // The current record's row; 8705/8706 before the first or after the last.
  int64_t CurrentRow() const;
  int64_t BookmarkRow(std::string_view bookmark) const;
  void CheckBlobEditable(int64_t blob, int64_t* length);

  uint32_t id_;
  ServerDatabase& database_;
  std::shared_ptr<const TableDef> table_;
  bool read_only_;
  bool exclusive_;
  int32_t timeout_;
  int32_t index_;
  Where where_ = Where::kBegin;
  IndexPlace place_;
  bool range_empty_ = false;
  KeyBound lower_;
  KeyBound upper_;
};

}  // namespace vantera
