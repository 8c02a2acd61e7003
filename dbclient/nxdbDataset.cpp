// TnxDataset: the row buffer, navigation, edit and post, fields, blob streams.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "dbclient/nxdb.h"
#include "dbclient/nxdbBlobStreams.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

constexpr uint32_t kNoTransaction = 10257;
constexpr uint32_t kBlobModified = 13058;
constexpr uint8_t kLockForEdit = 2;

bool NotFoundGroup(uint32_t code) {
  return code >= 8704 && code <= 8959;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y))
      return false;
  }
  return true;
}

}  // namespace

// ===================================== fields =====================================

TnxField::TnxField(TnxDataset* dataset, std::string name, int field_number,
                   std::unique_ptr<TnxBaseVclFieldMapper> mapper)
    : dataset_(dataset),
      name_(std::move(name)),
      field_number_(field_number),
      mapper_(std::move(mapper)) {}

bool TnxField::IsBlob() const {
  DatasetFieldKind k = Kind();
  return k == DatasetFieldKind::Blob || k == DatasetFieldKind::Memo ||
         k == DatasetFieldKind::Graphic;
}

bool TnxField::IsNull() const {
  dataset_->ResolvePending();
  return mapper_->IsNull(dataset_->ActiveImage());
}

FieldValue TnxField::Value() const {
  dataset_->ResolvePending();
  return mapper_->Read(dataset_->ActiveImage());
}

std::string TnxField::AsString() const {
  FieldValue v = Value();
  if (auto* s = std::get_if<std::string>(&v))
    return *s;
  if (auto* i = std::get_if<int64_t>(&v))
    return std::to_string(*i);
  if (auto* b = std::get_if<bool>(&v))
    return *b ? "True" : "False";
  if (auto* d = std::get_if<double>(&v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", *d);
    return buf;
  }
  return {};
}

int32_t TnxField::AsInteger() const {
  FieldValue v = Value();
  if (std::holds_alternative<std::monostate>(v))
    return 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    try {
      return static_cast<int32_t>(std::stol(*s));
    } catch (const std::exception&) {
      dataset_->RaiseError("'" + *s + "' is not a valid integer value");
    }
  }
  return static_cast<int32_t>(FieldValueToInt64(v));
}

double TnxField::AsDateTime() const {
  FieldValue v = Value();
  if (std::holds_alternative<std::monostate>(v))
    return 0;
  return FieldValueToDouble(v);
}

void TnxField::SetValue(const FieldValue& value) {
  dataset_->ResolvePending();
  dataset_->CheckWritable(*this);
  Bytes& image = dataset_->ActiveImage();
  mapper_->Write(std::span<char>(image.data(), image.size()), value);
  dataset_->FieldChanged(*this);
}

void TnxField::SetAsString(const std::string& text) {
  switch (Kind()) {
    case DatasetFieldKind::Word:
    case DatasetFieldKind::SmallInt:
    case DatasetFieldKind::Integer:
    case DatasetFieldKind::LargeInt:
    case DatasetFieldKind::AutoInc:
      if (text.empty()) {
        SetValue(std::monostate{});
        return;
      }
      try {
        SetValue(static_cast<int64_t>(std::stoll(text)));
      } catch (const std::invalid_argument&) {
        dataset_->RaiseError("'" + text + "' is not a valid integer value");
      } catch (const std::out_of_range&) {
        dataset_->RaiseError("'" + text + "' is not a valid integer value");
      }
      return;
    default:
      SetValue(text);
  }
}

void TnxField::SetAsInteger(int32_t value) {
  SetValue(static_cast<int64_t>(value));
}
void TnxField::SetAsDateTime(double clock) {
  SetValue(clock);
}
void TnxField::Clear() {
  SetValue(std::monostate{});
}

void TnxField::LoadFromStream(TStream& source) {
  std::unique_ptr<TStream> blob = dataset_->CreateBlobStream(*this, TnxBlobStreamMode::Write);
  blob->CopyFrom(source, 0);
}

void TnxField::SaveToStream(TStream& target) {
  std::unique_ptr<TStream> blob = dataset_->CreateBlobStream(*this, TnxBlobStreamMode::Read);
  target.CopyFrom(*blob, 0);
}

// ===================================== dataset =====================================

TnxDataset::TnxDataset(std::string name) : TnxDbComponent(std::move(name)) {}

TnxDataset::~TnxDataset() {
  if (database_) {
    auto& list = database_->datasets_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TnxDataset::SetDatabase(TnxDatabase* database) {
  if (database == database_)
    return;
  CheckInactiveDataset();
  if (database_) {
    RemoveDependency(database_);
    auto& list = database_->datasets_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  database_ = database;
  if (database_) {
    DependOn(database_);
    database_->datasets_.push_back(this);
  }
}

void TnxDataset::LinkedComponentDestroyed(TnxStateComponent* other) {
  if (other == database_) {
    database_ = nullptr;
    Close();
  }
}

void TnxDataset::SetTimeout(int32_t timeout) {
  timeout_ = timeout;
  if (cursor_)
    Check(cursor_->SetTimeout(ResolvedTimeout()));
}

uint32_t TnxDataset::ResolvedTimeout() const {
  if (timeout_ >= 0)
    return static_cast<uint32_t>(timeout_);
  return database_ ? database_->ResolvedTimeout() : kDefaultSessionTimeout;
}

void TnxDataset::DeclareField(const std::string& name, DatasetFieldKind kind, int32_t size) {
  CheckInactiveDataset();
  declared_.push_back({name, kind, size});
}

void TnxDataset::CheckActive() const {
  if (state_ == TnxDataSetState::Inactive)
    RaiseError("Cannot perform this operation on a closed dataset");
}

void TnxDataset::CheckInactiveDataset() const {
  if (state_ != TnxDataSetState::Inactive)
    RaiseError("Cannot perform this operation on an open dataset");
}

// Leaves edit and insert by posting, key editing by keeping the key (browse mode).
void TnxDataset::CheckBrowse() {
  CheckActive();
  if (state_ == TnxDataSetState::Edit || state_ == TnxDataSetState::Insert)
    Post();
  else if (state_ == TnxDataSetState::SetKey)
    Post();
}

void TnxDataset::DoPrepare() {
  reconnected_ = false;
  TnxSession* session = database_ ? database_->Session() : nullptr;
  if (session && session->ConnectionLost()) {
    reconnected_ = true;
    session->Reconnect(database_);
  }
}

void TnxDataset::DoStart() {
  if (!database_)
    RaiseError("DataSet cannot open its database");
  const auto started = std::chrono::steady_clock::now();
  try {
    OpenCursor();
    state_ = TnxDataSetState::Browse;
  } catch (const EnxDatabaseError&) {
    CloseCursor();
    // A connection found broken at once (the server restarted since the last request):
    // the chain is opened again and the table once more. A server that did not answer in
    // time is not waited for a second time.
    TnxSession* session = database_ ? database_->Session() : nullptr;
    const bool quick = std::chrono::steady_clock::now() - started < kQuickLoss;
    if (reconnected_ || !quick || !session || !session->ConnectionLost())
      throw;
    reconnected_ = true;
    session->Reconnect(database_);
    try {
      OpenCursor();
      state_ = TnxDataSetState::Browse;
    } catch (...) {
      CloseCursor();
      throw;
    }
  } catch (...) {
    CloseCursor();
    throw;
  }
}

void TnxDataset::DoStop() {
  if (state_ == TnxDataSetState::Edit || state_ == TnxDataSetState::Insert) {
    try {
      Cancel();
    } catch (const std::exception&) {
      // Closing never fails; the server drops locks and blobs with the cursor.
    }
  }
  CloseCursor();
}

void TnxDataset::CloseCursor() {
  state_ = TnxDataSetState::Inactive;
  blob_caches_.clear();
  fields_.clear();
  cursor_.reset();
  ClearRow();
  pending_first_ = false;
  editing_key_ = nullptr;
}

void TnxDataset::BuildFields() {
  fields_.clear();
  for (int i = 0; i < dictionary_.FieldCount(); ++i) {
    auto mapper = CreateFieldMapper(dictionary_, i);
    if (!mapper)
      continue;
    fields_.push_back(
        std::make_unique<TnxField>(this, dictionary_.Field(i).name, i, std::move(mapper)));
  }
  for (const auto& d : declared_) {
    TnxField* f = FindField(d.name);
    if (!f)
      RaiseError("Field '" + d.name + "' not found");
    if (!SameFieldFamily(d.kind, f->Kind()))
      RaiseError("Type mismatch for field '" + d.name + "', expecting: " +
                 DatasetFieldKindName(d.kind) + " actual: " + DatasetFieldKindName(f->Kind()));
    if (d.kind == DatasetFieldKind::ByteArray && d.size != f->Size())
      RaiseError("Size mismatch for field '" + d.name + "', expecting: " + std::to_string(d.size) +
                 " actual: " + std::to_string(f->Size()));
  }
}

TnxField* TnxDataset::FindField(const std::string& name) {
  for (auto& f : fields_)
    if (SameName(f->FieldName(), name))
      return f.get();
  return nullptr;
}

TnxField& TnxDataset::FieldByName(const std::string& name) {
  TnxField* f = FindField(name);
  if (!f)
    RaiseError("Field '" + name + "' not found");
  return *f;
}

Bytes& TnxDataset::ActiveImage() {
  if (state_ == TnxDataSetState::SetKey && editing_key_)
    return editing_key_->image;
  if (record_.size() != static_cast<size_t>(rec_len_))
    record_ = dictionary_.NewRecord();  // no row: every field reads as null
  return record_;
}

void TnxDataset::CheckWritable(TnxField& field) {
  switch (state_) {
    case TnxDataSetState::Edit:
    case TnxDataSetState::Insert:
      return;
    case TnxDataSetState::SetKey:
      if (std::find(key_fields_.begin(), key_fields_.end(), field.FieldNumber()) ==
          key_fields_.end())
        RaiseError("Field '" + field.FieldName() + "' is not indexed and cannot be modified");
      return;
    default:
      RaiseError("DataSet not in editing mode");
  }
}

void TnxDataset::FieldChanged(TnxField& field) {
  if (state_ != TnxDataSetState::SetKey || !editing_key_)
    return;
  auto it = std::find(key_fields_.begin(), key_fields_.end(), field.FieldNumber());
  int32_t position = static_cast<int32_t>(it - key_fields_.begin()) + 1;
  editing_key_->modified = true;
  editing_key_->field_count = std::max(editing_key_->field_count, position);
}

// ---------------- rows ----------------

void TnxDataset::ClearRow() {
  has_row_ = false;
  row_current_ = false;
  eof_ = bof_ = true;
  record_.clear();
  bookmark_.clear();
}

void TnxDataset::GoToFirstRecord() {
  Check(cursor_->SetToBegin());
  ClearRow();
  at_begin_ = true;
  pending_first_ = true;
}

void TnxDataset::ResolvePending() {
  if (!pending_first_ || !cursor_)
    return;
  pending_first_ = false;
  if (!at_begin_)
    Check(cursor_->SetToBegin());
  at_begin_ = false;
  if (FetchInto(nxmsg::kRecordGetNext)) {
    bof_ = true;
    eof_ = false;
  } else {
    ClearRow();
  }
  RowChanged();
}

bool TnxDataset::FetchInto(uint16_t message_id) {
  at_begin_ = false;
  Bytes record;
  uint32_t code = cursor_->RecordGet(message_id, 0, &record);
  if (code == nxcode::kEndOfTable || code == nxcode::kBeginningOfTable) {
    row_current_ = false;
    return false;
  }
  Check(code);
  Bytes bookmark;
  Check(cursor_->GetBookmark(bookmark));
  record_ = std::move(record);
  bookmark_ = std::move(bookmark);
  bm_flag_ = TnxBookmarkFlag::Current;
  has_row_ = true;
  row_current_ = true;
  return true;
}

void TnxDataset::PutCursorOnActiveRow() {
  if (row_current_ || !has_row_)
    return;
  switch (bm_flag_) {
    case TnxBookmarkFlag::Current:
    case TnxBookmarkFlag::Inserted:
      if (bookmark_.empty())
        Check(nxcode::kInvalidHandle);
      Check(cursor_->SetToBookmark(bookmark_));
      break;
    case TnxBookmarkFlag::Bof:
      Check(cursor_->SetToBegin());
      break;
    case TnxBookmarkFlag::Eof:
      Check(cursor_->SetToEnd());
      break;
  }
  at_begin_ = false;
  row_current_ = true;
}

void TnxDataset::ReReadCurrent(bool with_fallbacks) {
  pending_first_ = false;
  at_begin_ = false;
  Bytes record;
  Bytes bookmark;
  auto fetch = [&](uint16_t id) {
    return cursor_->RecordGet(id, 0, &record) == 0 && cursor_->GetBookmark(bookmark) == 0;
  };
  bool found;
  if (!with_fallbacks) {
    uint32_t code = cursor_->RecordGet(nxmsg::kRecordGet, 0, &record);
    if (code != 0)
      RaiseError("Record not found");
    Check(cursor_->GetBookmark(bookmark));
    found = true;
  } else {
    found =
        fetch(nxmsg::kRecordGet) || fetch(nxmsg::kRecordGetNext) || fetch(nxmsg::kRecordGetPrior);
  }
  if (found) {
    record_ = std::move(record);
    bookmark_ = std::move(bookmark);
    bm_flag_ = TnxBookmarkFlag::Current;
    has_row_ = true;
    row_current_ = true;
    eof_ = bof_ = false;
  } else {
    ClearRow();
  }
  RowChanged();
}

void TnxDataset::AdoptRow(Bytes record) {
  pending_first_ = false;
  at_begin_ = false;
  Bytes bookmark;
  Check(cursor_->GetBookmark(bookmark));
  record_ = std::move(record);
  bookmark_ = std::move(bookmark);
  bm_flag_ = TnxBookmarkFlag::Current;
  has_row_ = true;
  row_current_ = true;
  eof_ = bof_ = false;
  RowChanged();
}

void TnxDataset::NewRow(TnxBookmarkFlag flag) {
  saved_record_ = record_;
  saved_bookmark_ = bookmark_;
  saved_has_row_ = has_row_;
  record_ = dictionary_.NewRecord();
  if (flag != TnxBookmarkFlag::Inserted)
    bookmark_.assign(static_cast<size_t>(cursor_->BookmarkSize()), '\0');
  bm_flag_ = flag;
  has_row_ = true;
  row_current_ = false;
  eof_ = bof_ = false;
  ApplyMasterValues();
}

// ---------------- navigation ----------------

bool TnxDataset::Eof() {
  if (state_ == TnxDataSetState::Inactive)
    return true;
  ResolvePending();
  return eof_;
}

bool TnxDataset::Bof() {
  if (state_ == TnxDataSetState::Inactive)
    return true;
  ResolvePending();
  return bof_;
}

bool TnxDataset::IsEmpty() {
  if (state_ == TnxDataSetState::Inactive)
    return true;
  ResolvePending();
  return !has_row_;
}

void TnxDataset::First() {
  CheckBrowse();
  GoToFirstRecord();
}

void TnxDataset::Last() {
  CheckBrowse();
  pending_first_ = false;
  Check(cursor_->SetToEnd());
  if (FetchInto(nxmsg::kRecordGetPrior)) {
    eof_ = true;
    bof_ = false;
  } else {
    ClearRow();
  }
  RowChanged();
}

void TnxDataset::Next() {
  CheckBrowse();
  ResolvePending();
  if (eof_ || !has_row_)
    return;
  PutCursorOnActiveRow();
  if (FetchInto(nxmsg::kRecordGetNext)) {
    bof_ = false;
    RowChanged();
  } else {
    eof_ = true;
  }
}

void TnxDataset::Prior() {
  CheckBrowse();
  ResolvePending();
  if (bof_ || !has_row_)
    return;
  PutCursorOnActiveRow();
  if (FetchInto(nxmsg::kRecordGetPrior)) {
    eof_ = false;
    RowChanged();
  } else {
    bof_ = true;
  }
}

Bytes TnxDataset::GetBookmark() {
  CheckActive();
  ResolvePending();
  if (!has_row_ || bm_flag_ != TnxBookmarkFlag::Current || state_ == TnxDataSetState::Insert)
    return {};
  return bookmark_;
}

bool TnxDataset::GotoBookmark(const Bytes& bookmark) {
  CheckBrowse();
  uint32_t code = cursor_->SetToBookmark(bookmark);
  if (code == nxcode::kRecordDeleted)
    return false;  // the server cursor has not moved
  Check(code);
  at_begin_ = false;
  Bytes record;
  code = cursor_->RecordGet(nxmsg::kRecordGet, 0, &record);
  if (code == nxcode::kRecordDeleted) {
    // Deleted between the two requests: the server cursor stands at the record's former
    // place, no longer on the active row.
    row_current_ = false;
    return false;
  }
  Check(code);
  pending_first_ = false;
  record_ = std::move(record);
  bookmark_ = bookmark;
  bm_flag_ = TnxBookmarkFlag::Current;
  has_row_ = true;
  row_current_ = true;
  eof_ = bof_ = false;
  RowChanged();
  return true;
}

// ---------------- editing ----------------

void TnxDataset::CheckCanModify() const {
  if (!CanModify())
    RaiseError("Cannot modify a read-only dataset");
}

void TnxDataset::Append() {
  CheckBrowse();
  CheckCanModify();
  pending_first_ = false;
  blob_caches_.clear();
  // The row buffers are emptied: there is no current row any more.
  NewRow(TnxBookmarkFlag::Eof);
  state_ = TnxDataSetState::Insert;
}

void TnxDataset::Insert() {
  CheckBrowse();
  CheckCanModify();
  ResolvePending();
  blob_caches_.clear();
  NewRow(has_row_ ? TnxBookmarkFlag::Inserted : TnxBookmarkFlag::Bof);
  state_ = TnxDataSetState::Insert;
}

void TnxDataset::Edit() {
  CheckActive();
  if (state_ == TnxDataSetState::Edit || state_ == TnxDataSetState::Insert)
    return;
  CheckBrowse();
  CheckCanModify();
  ResolvePending();
  if (!has_row_) {
    Insert();
    return;
  }
  uint8_t lock = kLockForEdit;
  if (Options & dsoOptimisticLocks) {
    if (!has_rec_rev_)
      RaiseError("A RecRev field is required for optimistic locking", nxcode::kNotSupported);
    lock = 0;
  }
  PutCursorOnActiveRow();
  Bytes record;
  Check(cursor_->RecordGet(nxmsg::kRecordGet, lock, &record));
  record_ = std::move(record);
  blob_caches_.clear();
  state_ = TnxDataSetState::Edit;
}

void TnxDataset::SendPostRequest(bool inserting) {
  uint32_t code = inserting ? cursor_->RecordInsert(0, record_) : cursor_->RecordModify(record_);
  if (!inserting && (Options & dsoOptimisticLocks) &&
      (code == nxcode::kRecordDeleted || code == nxcode::kNoCurrentRecord))
    code = nxcode::kRecordDeletedByOther;
  Check(code);
}

void TnxDataset::Post() {
  CheckActive();
  if (state_ == TnxDataSetState::SetKey) {
    editing_key_ = nullptr;
    state_ = TnxDataSetState::Browse;
    return;
  }
  if (state_ != TnxDataSetState::Edit && state_ != TnxDataSetState::Insert)
    RaiseError("Dataset not in edit or insert mode");
  for (auto& f : fields_) {
    if (f->Required() && f->Mapper().IsNull(record_))
      RaiseError("Field '" + f->FieldName() + "' must have a value");
  }
  bool inserting = state_ == TnxDataSetState::Insert;
  PutCursorOnActiveRow();
  bool dirty = std::any_of(blob_caches_.begin(), blob_caches_.end(),
                           [](const auto& c) { return c->Dirty(); });
  if (dirty) {
    PostWithCachedBlobs(inserting);
  } else {
    FreeFieldBuffers();
    SendPostRequest(inserting);
  }
  blob_caches_.clear();
  state_ = TnxDataSetState::Browse;
  ReReadCurrent(true);
}

void TnxDataset::PostWithCachedBlobs(bool inserting) {
  TnxRemoteDatabase* db = database_->RemoteDatabase();
  bool start = true;
  if (Options & dsoNoNestedTransForCachedBlobs) {
    int32_t level = -1;
    uint32_t code = db->TransactionLevel(level);
    if (code != 0 && code != kNoTransaction)
      database_->Check(code);
    start = code == kNoTransaction || level < 0;
  }
  if (start)
    database_->Check(db->TransactionStart(database_->FailSafe));
  std::vector<std::pair<int, int64_t>> before;
  try {
    for (const auto& cache : blob_caches_) {
      if (!cache->Dirty())
        continue;
      int f = cache->FieldNumber();
      before.emplace_back(f, nxBlobNumber(dictionary_, record_, f));
      TnxField* field = nullptr;
      for (auto& candidate : fields_)
        if (candidate->FieldNumber() == f)
          field = candidate.get();
      TnxBlobStream stream(*this, *field, TnxBlobStreamMode::ReadWrite, false);
      stream.WriteBuffer(cache->Data().data(), static_cast<int64_t>(cache->Data().size()));
      stream.Truncate();
    }
    FreeFieldBuffers(false);
    SendPostRequest(inserting);
    if (start)
      database_->Check(db->TransactionCommit());
  } catch (...) {
    for (const auto& [f, blob] : before)
      nxSetBlobNumber(dictionary_, std::span<char>(record_.data(), record_.size()), f, blob);
    if (start)
      (void)db->TransactionRollback();  // the post's own error is the one reported
    throw;
  }
  for (const auto& cache : blob_caches_)
    cache->SetDirty(false);
}

void TnxDataset::FreeFieldBuffers(bool drop_caches) {
  for (auto& f : fields_) {
    if (!f->IsBlob() || !f->Modified())
      continue;
    int64_t blob = nxBlobNumber(dictionary_, record_, f->FieldNumber());
    if (blob != 0) {
      uint32_t code = cursor_->BlobRelease(blob);
      if (code == kBlobModified)
        dictionary_.SetNull(std::span<char>(record_.data(), record_.size()), f->FieldNumber());
      else
        Check(code);
    }
    f->SetModified(false);
  }
  if (drop_caches)
    blob_caches_.clear();
}

void TnxDataset::Cancel() {
  CheckActive();
  switch (state_) {
    case TnxDataSetState::SetKey:
      if (editing_key_)
        *editing_key_ = key_saved_;
      editing_key_ = nullptr;
      state_ = TnxDataSetState::Browse;
      return;
    case TnxDataSetState::Edit:
      PutCursorOnActiveRow();
      Check(cursor_->RecordRelLock(false));
      break;
    case TnxDataSetState::Insert:
      PutCursorOnActiveRow();
      break;
    default:
      return;
  }
  state_ = TnxDataSetState::Browse;
  FreeFieldBuffers();
  ReReadCurrent(true);
}

void TnxDataset::Delete() {
  CheckBrowse();
  CheckCanModify();
  ResolvePending();
  if (!has_row_)
    RaiseError("Cannot perform this operation on an empty dataset");
  PutCursorOnActiveRow();
  uint32_t code = cursor_->RecordDelete(nullptr);
  if (!NotFoundGroup(code))
    Check(code);
  ReReadCurrent(true);
}

int32_t TnxDataset::RecordCount() {
  CheckActive();
  int32_t count = 0;
  Check(cursor_->RecordCount(count));
  return count;
}

std::unique_ptr<TStream> TnxDataset::CreateBlobStream(TnxField& field, TnxBlobStreamMode mode) {
  CheckActive();
  ResolvePending();
  if (!field.IsBlob())
    RaiseError("Field '" + field.FieldName() + "' is not a blob field");
  bool editing = state_ == TnxDataSetState::Edit || state_ == TnxDataSetState::Insert ||
                 state_ == TnxDataSetState::SetKey;
  if ((Options & dsoCacheBlobs) && editing && row_current_) {
    std::shared_ptr<TnxBlobCache> cache;
    for (auto& c : blob_caches_)
      if (c->FieldNumber() == field.FieldNumber())
        cache = c;
    if (!cache) {
      cache = std::make_shared<TnxBlobCache>(
          field.FieldNumber(), nxBlobNumber(dictionary_, record_, field.FieldNumber()));
      if (mode == TnxBlobStreamMode::Write) {
        cache->SetDirty(true);
      } else {
        TnxBlobStream direct(*this, field, TnxBlobStreamMode::Read);
        cache->Data().resize(static_cast<size_t>(direct.Size()));
        direct.ReadBuffer(cache->Data().data(), static_cast<int64_t>(cache->Data().size()));
      }
      blob_caches_.push_back(cache);
    } else if (mode == TnxBlobStreamMode::Write) {
      cache->Data().clear();
      cache->SetDirty(true);
    }
    return std::make_unique<TnxCachedBlobStream>(cache, mode);
  }
  return std::make_unique<TnxBlobStream>(*this, field, mode);
}

}  // namespace vantera
