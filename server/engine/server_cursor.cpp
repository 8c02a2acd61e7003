#include "server/engine/server_cursor.h"

#include <algorithm>
#include <utility>

#include "core/win1252.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

constexpr uint8_t kLockForEdit = 2;
constexpr size_t kMinBookmarkSize = 16;
constexpr size_t kMaxBookmarkSize = 4096;

[[noreturn]] void Throw(uint32_t code) {
  throw EnxBaseException(code);
}

void SetNull(Bytes* image, const TableSchema& schema, size_t field, bool null) {
  size_t byte = static_cast<size_t>(schema.null_offset) + (field / 32) * 4 + (field % 32) / 8;
  auto mask = static_cast<unsigned char>(1u << (field % 8));
  auto c = static_cast<unsigned char>((*image)[byte]);
  (*image)[byte] = static_cast<char>(null ? (c | mask) : (c & ~mask));
}

uint32_t GetU32(std::string_view image, const FieldLayout& f) {
  return DecodeFixed32(image.data() + f.offset);
}

void PutU32(Bytes* image, const FieldLayout& f, uint32_t v) {
  EncodeFixed32(image->data() + f.offset, v);
}

// Orders (key, row) places.
int ComparePlaces(std::string_view ka, int64_t ra, std::string_view kb, int64_t rb) {
  int c = ka.compare(kb);
  if (c != 0)
    return c < 0 ? -1 : 1;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// A record lock taken for the length of one request: released when the request ends,
// unless Keep() made it the cursor's edit lock. A lock that was there before stays.
class HeldForWrite {
 public:
  // `edit`: the cursor's edit lock (taken over from another cursor of the session), else
  // a hold for one write that leaves a lock of the session as it is.
  HeldForWrite(FolderState& folder, int64_t table, int64_t row, LockOwner owner, bool edit)
      : folder_(folder),
        table_(table),
        row_(row),
        cursor_(owner.cursor),
        taken_(edit ? folder.Lock(table, row, owner) : folder.Hold(table, row, owner)) {}
  ~HeldForWrite() {
    if (taken_)
      folder_.Unlock(table_, row_, cursor_);
  }
  HeldForWrite(const HeldForWrite&) = delete;
  HeldForWrite& operator=(const HeldForWrite&) = delete;
  // Leaves the lock in place; true when this hold had taken it.
  bool Keep() { return std::exchange(taken_, false); }

 private:
  FolderState& folder_;
  int64_t table_;
  int64_t row_;
  uint32_t cursor_;
  bool taken_;
};

KeyBound Higher(const KeyBound& a, const KeyBound& b) {
  if (!a.present)
    return b;
  if (!b.present)
    return a;
  return a.key >= b.key ? a : b;
}

KeyBound Lower(const KeyBound& a, const KeyBound& b) {
  if (!a.present)
    return b;
  if (!b.present)
    return a;
  return a.key <= b.key ? a : b;
}

}  // namespace

ServerCursor::ServerCursor(uint32_t id, ServerDatabase& database,
                           std::shared_ptr<const TableDef> table, bool read_only, bool exclusive,
                           int32_t timeout)
    : id_(id),
      database_(database),
      table_(std::move(table)),
      read_only_(read_only || database.store().read_only()),
      exclusive_(exclusive),
      timeout_(timeout),
      index_(table_->schema.default_index) {
  folder().OpenTable(table_->id, exclusive_);
}

ServerCursor::ServerCursor(uint32_t id, const ServerCursor& other, bool read_only)
    : id_(id),
      database_(other.database_),
      table_(other.table_),
      read_only_(read_only || other.read_only_),
      exclusive_(false),
      timeout_(other.timeout_),
      index_(other.index_),
      where_(other.where_),
      place_(other.place_),
      range_empty_(other.range_empty_),
      lower_(other.lower_),
      upper_(other.upper_) {
  folder().OpenTable(table_->id, false);
}

ServerCursor::~ServerCursor() {
  folder().UnlockCursor(id_);
  folder().CloseTable(table_->id, exclusive_);
}

const IndexLayout& ServerCursor::CurrentIndex() const {
  if (index_ < 0 || static_cast<size_t>(index_) >= schema().indexes.size())
    Throw(10764);  // No associated index.
  return schema().indexes[static_cast<size_t>(index_)];
}

// ---- Position ----

void ServerCursor::SetToBegin() {
  where_ = Where::kBegin;
}

void ServerCursor::SetToEnd() {
  where_ = Where::kEnd;
}

void ServerCursor::SetToCursor(const ServerCursor& other) {
  if (other.table_->id != table_->id || &other.database_ != &database_)
    Throw(10020);  // Cannot set cursor of one table to another.
  if (other.where_ != Where::kOn) {
    where_ = other.where_;
    return;
  }
  if (other.index_ == index_) {
    place_ = other.place_;
  } else {
    CurrentIndex();
    auto key = store().RowKey(table_->id, index_, other.place_.row);
    if (!key)
      Throw(8708);  // Record/Key deleted.
    place_ = {*key, other.place_.row};
  }
  where_ = Where::kOn;
}

// A bookmark: the row number (8 bytes), the table id (8 bytes), zeros to the size asked.
Bytes ServerCursor::GetBookmark(int32_t size) const {
  if (size < 0 || static_cast<size_t>(size) < kMinBookmarkSize ||
      static_cast<size_t>(size) > kMaxBookmarkSize)
    Throw(9986);  // Invalid parameter.
  if (where_ != Where::kOn)
    Throw(8709);  // No current record.
  Bytes b;
  PutFixed64(&b, static_cast<uint64_t>(place_.row));
  PutFixed64(&b, static_cast<uint64_t>(table_->id));
  b.resize(static_cast<size_t>(size), '\0');
  return b;
}

int64_t ServerCursor::BookmarkRow(std::string_view bookmark) const {
  if (bookmark.size() < kMinBookmarkSize)
    Throw(9986);
  if (static_cast<int64_t>(DecodeFixed64(bookmark.data() + 8)) != table_->id)
    Throw(10021);  // Bookmarks do not match table.
  return static_cast<int64_t>(DecodeFixed64(bookmark.data()));
}

void ServerCursor::SetToBookmark(std::string_view bookmark) {
  int64_t row = BookmarkRow(bookmark);
  CurrentIndex();
  auto key = store().RowKey(table_->id, index_, row);
  if (!key)
    Throw(8708);
  place_ = {*key, row};
  where_ = Where::kOn;
}

int8_t ServerCursor::CompareBookmarks(std::string_view a, std::string_view b) const {
  int64_t ra = BookmarkRow(a);
  int64_t rb = BookmarkRow(b);
  CurrentIndex();
  auto ka = store().RowKey(table_->id, index_, ra);
  auto kb = store().RowKey(table_->id, index_, rb);
  if (!ka || !kb)
    Throw(8708);
  return static_cast<int8_t>(ComparePlaces(*ka, ra, *kb, rb));
}

int32_t ServerCursor::SwitchToIndex(std::string_view name, int32_t number, bool keep_position) {
  int32_t target = number >= 0 ? number : schema().FindIndex(name);
  if (target < 0 || static_cast<size_t>(target) >= schema().indexes.size())
    Throw(9997);  // Index does not exist.
  index_ = target;
  lower_ = upper_ = KeyBound{};
  range_empty_ = false;
  if (!keep_position) {
    where_ = Where::kBegin;
    return target;
  }
  if (where_ == Where::kEnd)
    Throw(8706);  // switched; the cursor stays after the last record
  if (where_ == Where::kOn) {
    auto key = store().RowKey(table_->id, index_, place_.row);
    if (!key) {
      where_ = Where::kBegin;
      Throw(8708);
    }
    place_.key = *key;
  }
  return target;
}

// ---- Reading ----

int64_t ServerCursor::CurrentRow() const {
  if (where_ == Where::kBegin)
    Throw(8705);  // At beginning of table.
  if (where_ == Where::kEnd)
    Throw(8706);  // At end of table.
  return place_.row;
}

Bytes ServerCursor::Deliver(const FoundRecord& found, uint8_t lock_mode, bool want_image) {
  place_ = {found.key, found.row};
  where_ = Where::kOn;
  if (lock_mode == kLockForEdit)
    return LockAndRead(found.row, want_image);
  return want_image ? found.image : Bytes();
}

// The lock comes first and the image is read under it: an image read before would be the
// version from before a post of another session that was still running, whose lock this
// one could take right after; posting that image would undo the other's change.
Bytes ServerCursor::LockAndRead(int64_t row, bool want_image) {
  CheckWritable();
  HeldForWrite hold(folder(), table_->id, row, {session(), id_}, true);
  auto image = store().ReadRow(table_->id, row);
  if (!image)
    Throw(8708);  // gone meanwhile: a lock taken for it is released again
  hold.Keep();
  return want_image ? std::move(*image) : Bytes();
}

Bytes ServerCursor::RecordGet(uint8_t lock_mode, bool want_image) {
  int64_t row = CurrentRow();
  if (lock_mode == kLockForEdit)
    return LockAndRead(row, want_image);
  auto image = store().ReadRow(table_->id, row);
  if (!image)
    Throw(8708);
  return want_image ? std::move(*image) : Bytes();
}

Bytes ServerCursor::Step(bool forward, uint8_t lock_mode, bool want_image) {
  const uint32_t at_edge = forward ? 8706 : 8705;
  if (forward && where_ == Where::kEnd)
    Throw(at_edge);
  if (!forward && where_ == Where::kBegin)
    Throw(at_edge);
  CurrentIndex();
  std::optional<FoundRecord> found;
  const IndexPlace* from = where_ == Where::kOn ? &place_ : nullptr;
  // A record read without a lock usually has its blobs read next: the store may fetch them
  // along. One locked for edit is read again under the lock, and so are its blobs.
  if (!range_empty_ && want_image && lock_mode != kLockForEdit)
    found = store().StepToRead(table_->id, index_, lower_, upper_, from, forward);
  else if (!range_empty_)
    found = store().Step(table_->id, index_, lower_, upper_, from, forward);
  if (!found) {
    where_ = forward ? Where::kEnd : Where::kBegin;
    Throw(at_edge);
  }
  return Deliver(*found, lock_mode, want_image);
}

Bytes ServerCursor::RecordGetNext(uint8_t lock_mode, bool want_image) {
  return Step(true, lock_mode, want_image);
}

Bytes ServerCursor::RecordGetPrior(uint8_t lock_mode, bool want_image) {
  return Step(false, lock_mode, want_image);
}

Bytes ServerCursor::RecordGetForKey(int32_t field_count, int32_t partial_length, bool first_call,
                                    bool want_image, std::string_view key) {
  CheckImage(key);
  const IndexLayout& index = CurrentIndex();
  Bytes prefix = KeyPrefix(schema(), index, key, field_count, partial_length);
  KeyBound lo = Higher(lower_, KeyBound{true, prefix});
  KeyBound hi = upper_;
  if (auto next = PrefixSuccessor(prefix))
    hi = Lower(hi, KeyBound{true, *next});
  if (range_empty_ || (lo.present && hi.present && lo.key >= hi.key))
    Throw(8710);  // Could not find record.
  const IndexPlace* from = (!first_call && where_ == Where::kOn) ? &place_ : nullptr;
  auto found = want_image ? store().StepToRead(table_->id, index_, lo, hi, from, true)
                          : store().Step(table_->id, index_, lo, hi, from, true);
  if (!found)
    Throw(8710);
  return Deliver(*found, 0, want_image);
}

void ServerCursor::Locate(const LocateFilter& filter) {
  CheckImage(filter.image);
  // The located fields as the key fields of an index of their own: a record matches when
  // its key over those fields starts with the key built from the values (the last text
  // field cut to the partial length). Keys are prefix-free, so without a partial length
  // this is equality of every field.
  IndexLayout fields;
  for (const std::string& name : filter.field_names) {
    std::string upper = Win1252Upper(name);
    auto it =
        std::find_if(schema().fields.begin(), schema().fields.end(),
                     [&upper](const FieldLayout& f) { return Win1252Upper(f.name) == upper; });
    if (it == schema().fields.end())
      Throw(9986);
    fields.key_fields.push_back(KeyFieldLayout{static_cast<int32_t>(it - schema().fields.begin()),
                                               true, filter.case_insensitive});
  }
  auto count = static_cast<int32_t>(fields.key_fields.size());
  Bytes wanted = KeyPrefix(schema(), fields, filter.image, count, filter.partial_length);
  CurrentIndex();
  if (!range_empty_) {
    IndexPlace at;
    const IndexPlace* from = nullptr;
    while (auto found = store().Step(table_->id, index_, lower_, upper_, from, true)) {
      Bytes key = KeyPrefix(schema(), fields, found->image, count, 0);
      if (key.compare(0, wanted.size(), wanted) == 0) {
        Deliver(*found, 0, false);
        return;
      }
      at = {std::move(found->key), found->row};
      from = &at;
    }
  }
  Throw(8710);  // Could not find record.
}

// ---- Ranges ----

void ServerCursor::SetRange(const RangeEndSpec& start, const RangeEndSpec& end) {
  const IndexLayout& index = CurrentIndex();
  KeyBound lo;
  KeyBound hi;
  bool empty = false;
  if (!start.key.empty()) {
    CheckImage(start.key);
    Bytes p = KeyPrefix(schema(), index, start.key, start.field_count, start.partial_length);
    if (start.inclusive) {
      lo = {true, p};
    } else if (auto next = PrefixSuccessor(p)) {
      lo = {true, *next};
    } else {
      empty = true;
    }
  }
  if (!end.key.empty()) {
    CheckImage(end.key);
    Bytes p = KeyPrefix(schema(), index, end.key, end.field_count, end.partial_length);
    if (!end.inclusive) {
      if (p.empty())
        empty = true;
      hi = {true, p};
    } else if (auto next = PrefixSuccessor(p)) {
      hi = {true, *next};
    }
  }
  lower_ = lo;
  upper_ = hi;
  range_empty_ = empty || (lo.present && hi.present && lo.key >= hi.key);
  where_ = Where::kBegin;
}

void ServerCursor::ResetRange() {
  lower_ = upper_ = KeyBound{};
  range_empty_ = false;
}

int64_t ServerCursor::RecordCount() {
  if (index_ < 0)
    return store().Count(table_->id, -1, {}, {});
  if (range_empty_)
    return 0;
  return store().Count(table_->id, index_, lower_, upper_);
}

// ---- Writing ----

void ServerCursor::CheckWritable() const {
  if (database_.store().read_only())
    Throw(10501);  // Database is read only.
  if (read_only_)
    Throw(10763);  // Table is read only.
}

void ServerCursor::CheckImage(std::string_view image) const {
  if (image.size() != static_cast<size_t>(schema().record_length))
    Throw(9986);
}

std::vector<int64_t> ServerCursor::BlobNumbers(std::string_view image) const {
  std::vector<int64_t> blobs;
  for (size_t f = 0; f < schema().fields.size(); ++f) {
    if (!IsBlobType(schema().fields[f].type) || schema().IsNull(image, f))
      continue;
    auto n = static_cast<int64_t>(DecodeFixed64(image.data() + schema().fields[f].offset));
    if (n != 0)
      blobs.push_back(n);
  }
  return blobs;
}

std::vector<Bytes> ServerCursor::Keys(std::string_view image, int64_t row) const {
  std::vector<Bytes> keys;
  for (const IndexLayout& index : schema().indexes)
    keys.push_back(RecordSortKey(schema(), index, image, row));
  return keys;
}

namespace {
void CheckRequired(const TableSchema& schema, std::string_view image) {
  for (size_t f = 0; f < schema.fields.size(); ++f) {
    const FieldLayout& field = schema.fields[f];
    if (!field.required)
      continue;
    bool missing = schema.IsNull(image, f);
    if (!missing && IsBlobType(field.type))
      missing = DecodeFixed64(image.data() + field.offset) == 0;
    if (missing)
      Throw(9732);  // Field value required.
  }
}
}  // namespace

void ServerCursor::RecordInsert(int32_t lock_mode, std::string_view image) {
  CheckWritable();
  CheckImage(image);
  Bytes rec(image);
  Storage::Write write(store());
  for (size_t f = 0; f < schema().fields.size(); ++f) {
    const FieldLayout& field = schema().fields[f];
    if (field.type == nxtAutoInc && (schema().IsNull(rec, f) || GetU32(rec, field) == 0)) {
      PutU32(&rec, field, static_cast<uint32_t>(store().AllocateAutoInc(table_->id)));
      SetNull(&rec, schema(), f, false);
    } else if (field.type == nxtRecRev) {
      PutU32(&rec, field, 1);
      SetNull(&rec, schema(), f, false);
    }
  }
  CheckRequired(schema(), rec);
  std::vector<int64_t> blobs = BlobNumbers(rec);
  for (int64_t blob : blobs) {
    auto owner = store().BlobOwner(table_->id, blob);
    if (!owner || *owner != 0)
      Throw(10030);  // Invalid BLOB handle in record buffer.
  }
  int64_t row = store().AllocateRow(table_->id);
  std::vector<Bytes> keys = Keys(rec, row);
  store().InsertRow(table_->id, row, rec, keys);
  for (int64_t blob : blobs)
    store().SetBlobOwner(table_->id, blob, row);
  write.Commit();
  if (index_ >= 0 && static_cast<size_t>(index_) < keys.size()) {
    place_ = {keys[static_cast<size_t>(index_)], row};
    where_ = Where::kOn;
  }
  if (lock_mode == kLockForEdit)
    folder().Lock(table_->id, row, {session(), id_});
}

void ServerCursor::RecordModify(bool release_lock, std::string_view image) {
  CheckWritable();
  CheckImage(image);
  int64_t row = CurrentRow();
  // Held from the read of the old version to the commit, so that no other session locks
  // and reads the record in between; a lock this request took for itself goes after it.
  HeldForWrite hold(folder(), table_->id, row, {session(), id_}, false);
  auto old = store().ReadRow(table_->id, row);
  if (!old)
    Throw(8708);
  Bytes rec(image);
  for (size_t f = 0; f < schema().fields.size(); ++f) {
    const FieldLayout& field = schema().fields[f];
    if (field.type == nxtAutoInc) {
      rec.replace(
          static_cast<size_t>(field.offset), static_cast<size_t>(field.length),
          old->substr(static_cast<size_t>(field.offset), static_cast<size_t>(field.length)));
      SetNull(&rec, schema(), f, schema().IsNull(*old, f));
    } else if (field.type == nxtRecRev) {
      PutU32(&rec, field, GetU32(*old, field) + 1);
      SetNull(&rec, schema(), f, false);
    }
  }
  CheckRequired(schema(), rec);
  Storage::Write write(store());
  std::vector<int64_t> blobs = BlobNumbers(rec);
  for (int64_t blob : blobs) {
    auto owner = store().BlobOwner(table_->id, blob);
    if (!owner || (*owner != 0 && *owner != row))
      Throw(10030);
  }
  std::vector<Bytes> keys = Keys(rec, row);
  store().UpdateRow(table_->id, row, rec, keys);
  for (int64_t blob : blobs)
    store().SetBlobOwner(table_->id, blob, row);
  store().DeleteBlobsOfRow(table_->id, row, blobs);
  write.Commit();
  if (index_ >= 0 && static_cast<size_t>(index_) < keys.size())
    place_ = {keys[static_cast<size_t>(index_)], row};
  if (store().TransactionLevel() > 0) {
    if (hold.Keep() || release_lock)
      database_.ReleaseAtTransactionEnd(table_->id, row, id_);
  } else if (release_lock) {
    folder().Unlock(table_->id, row, id_);
  }
}

Bytes ServerCursor::RecordDelete(bool want_image) {
  CheckWritable();
  int64_t row = CurrentRow();
  HeldForWrite hold(folder(), table_->id, row, {session(), id_}, false);
  auto old = store().ReadRow(table_->id, row);
  if (!old)
    Throw(8708);
  Storage::Write write(store());
  store().DeleteRow(table_->id, row);
  store().DeleteBlobsOfRow(table_->id, row, {});
  write.Commit();
  if (store().TransactionLevel() > 0) {
    hold.Keep();
    database_.ReleaseAtTransactionEnd(table_->id, row, id_);
  } else {
    folder().Forget(table_->id, row);
  }
  return want_image ? *old : Bytes();
}

void ServerCursor::RecordDeleteAll() {
  CheckWritable();
  Storage::Write write(store());
  store().DeleteAllRows(table_->id);
  write.Commit();
  where_ = Where::kBegin;
}

void ServerCursor::RecordRelLock(bool all_locks) {
  if (all_locks)
    folder().UnlockCursor(id_);
  else if (where_ == Where::kOn)
    folder().Unlock(table_->id, place_.row, id_);
}

bool ServerCursor::RecordIsLocked() {
  int64_t row = CurrentRow();
  return folder().LockedByOther(table_->id, row, session());
}

// ---- Blobs ----

void ServerCursor::CheckBlobEditable(int64_t blob, int64_t* length) {
  auto n = store().BlobLength(table_->id, blob);
  if (!n)
    Throw(9990);  // Invalid handle to the function.
  auto owner = store().BlobOwner(table_->id, blob);
  if (owner && *owner != 0)
    folder().CheckEditable(table_->id, *owner, session());
  *length = *n;
}

int64_t ServerCursor::BlobCreate() {
  CheckWritable();
  Storage::Write write(store());
  int64_t blob = store().CreateBlob(table_->id);
  write.Commit();
  return blob;
}

void ServerCursor::BlobRelease(int64_t blob) {
  if (!store().BlobLength(table_->id, blob))
    Throw(13058);  // BLOB has been modified.
}

Bytes ServerCursor::BlobRead(int64_t blob, int32_t offset, int32_t length, bool* at_end) {
  if (offset < 0 || length < 0)
    Throw(9986);
  int64_t total = 0;
  auto data = store().ReadBlob(table_->id, blob, offset, length, &total);
  if (!data)
    Throw(9990);
  if (offset >= total)
    Throw(9998);  // Invalid offset into the BLOB.
  *at_end = offset + static_cast<int64_t>(length) > total;
  return std::move(*data);
}

void ServerCursor::BlobWrite(int64_t blob, int32_t offset, std::string_view data) {
  CheckWritable();
  if (offset < 0)
    Throw(9998);
  int64_t n = 0;
  CheckBlobEditable(blob, &n);
  if (offset > n)
    Throw(9998);
  if (static_cast<int64_t>(offset) + static_cast<int64_t>(data.size()) >
      database_.options().max_blob_size)
    Throw(15490);  // BLOB size exceeds maximum size.
  Storage::Write write(store());
  store().WriteBlob(table_->id, blob, offset, data);
  write.Commit();
}

void ServerCursor::BlobTruncate(int64_t blob, int32_t length) {
  CheckWritable();
  if (length < 0)
    Throw(9998);
  int64_t n = 0;
  CheckBlobEditable(blob, &n);
  if (length > n)
    Throw(9998);
  Storage::Write write(store());
  store().TruncateBlob(table_->id, blob, length);
  write.Commit();
}

int32_t ServerCursor::BlobGetLength(int64_t blob) {
  auto n = store().BlobLength(table_->id, blob);
  if (!n)
    Throw(9990);
  return static_cast<int32_t>(std::min<int64_t>(*n, INT32_MAX));
}

}  // namespace vantera
