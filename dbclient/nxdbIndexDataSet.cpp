// TnxIndexDataSet: key buffers, key lookup, ranges, master and detail, locate.
#include <algorithm>
#include <cctype>

#include "dbclient/nxdb.h"
#include "protocol/locate_filter.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

constexpr int kLocateRetries = 100;

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos)
      end = names.size();
    std::string part = names.substr(start, end - start);
    size_t b = part.find_first_not_of(' ');
    size_t e = part.find_last_not_of(' ');
    if (b != std::string::npos)
      out.push_back(part.substr(b, e - b + 1));
    start = end + 1;
  }
  return out;
}

}  // namespace

TnxIndexDataSet::~TnxIndexDataSet() {
  for (TnxIndexDataSet* d : details_)
    d->master_ = nullptr;
  if (master_) {
    auto& list = master_->details_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TnxIndexDataSet::CloseCursor() {
  TnxDataset::CloseCursor();  // the table's cursor first, then the locate cursor
  CloseLocateCursor();
  for (TnxIndexDataSet* d : details_)
    d->MasterClosed();
}

void TnxIndexDataSet::CloseLocateCursor() {
  locate_cursor_.reset();
  locate_index_.clear();
}

void TnxIndexDataSet::UseIndex(const std::string& index_name) {
  int n = dictionary_.IndexNumber(index_name);
  SetBookmarkSize(dictionary_.BookmarkSize(n < 0 ? 0 : n));
  key_fields_.clear();
  if (n >= 0 && n < static_cast<int>(index_defs_.size()))
    key_fields_ = index_defs_[static_cast<size_t>(n)].key_field_numbers;
  index_name_current_ = index_name;
  for (KeyBuffer* b :
       {&key_lookup_, &range_start_, &range_end_, &start_in_force_, &end_in_force_, &key_saved_})
    ClearKeyBuffer(*b);
}

void TnxIndexDataSet::SwitchIndex(const std::string& index_name) {
  uint32_t code = cursor_->SwitchToIndex(index_name, -1, true);
  if (code == nxcode::kBeginningOfTable || code == nxcode::kEndOfTable ||
      code == nxcode::kRecordDeleted || code == nxcode::kNoCurrentRecord)
    code = cursor_->SwitchToIndex(index_name, -1, false);
  Check(code);
}

void TnxIndexDataSet::CheckKeyIndex() const {
  if (key_fields_.empty())
    RaiseError("No index currently active");
}

void TnxIndexDataSet::ClearKeyBuffer(KeyBuffer& buffer) const {
  buffer.modified = false;
  buffer.exclusive = false;
  buffer.field_count = 0;
  buffer.image = dictionary_.NewRecord();
}

void TnxIndexDataSet::FillKeyBuffer(KeyBuffer& buffer, const std::vector<FieldValue>& values) {
  CheckKeyIndex();
  if (values.size() > key_fields_.size())
    RaiseError("Too many key values: the index has " + std::to_string(key_fields_.size()) +
               " key fields");
  ClearKeyBuffer(buffer);
  for (size_t i = 0; i < values.size(); ++i) {
    auto mapper = CreateFieldMapper(dictionary_, key_fields_[i]);
    mapper->Write(std::span<char>(buffer.image.data(), buffer.image.size()), values[i]);
  }
  buffer.field_count = static_cast<int32_t>(values.size());
  buffer.modified = !values.empty();
}

// ---------------- key lookup ----------------

bool TnxIndexDataSet::FindByKey(const std::vector<FieldValue>& values) {
  CheckBrowse();
  FillKeyBuffer(key_lookup_, values);
  return GoToKeyBuffer();
}

bool TnxIndexDataSet::GoToKeyBuffer() {
  CheckBrowse();
  CheckKeyIndex();
  uint32_t code =
      cursor_->RecordGetForKey(key_lookup_.field_count, 0, key_lookup_.image, true, nullptr);
  at_begin_ = false;
  if (code == nxcode::kRecordNotFound) {
    row_current_ = false;  // the next operation puts the server cursor back by bookmark
    return false;
  }
  Check(code);
  ReReadCurrent(false);
  return true;
}

// ---------------- ranges ----------------

void TnxIndexDataSet::StartKeyEdit(KeyBuffer& buffer) {
  CheckBrowse();
  CheckKeyIndex();
  key_saved_ = buffer;
  ClearKeyBuffer(buffer);
  editing_key_ = &buffer;
  state_ = TnxDataSetState::SetKey;
}

void TnxIndexDataSet::FinishKeyEdit() {
  editing_key_ = nullptr;
  state_ = TnxDataSetState::Browse;
}

void TnxIndexDataSet::EditRangeLow() {
  StartKeyEdit(range_start_);
}
void TnxIndexDataSet::EditRangeHigh() {
  StartKeyEdit(range_end_);
}

void TnxIndexDataSet::SetRangeBounds(const std::vector<FieldValue>& start,
                                     const std::vector<FieldValue>& end) {
  CheckBrowse();
  FillKeyBuffer(range_start_, start);
  FillKeyBuffer(range_end_, end);
  ApplyKeyRange();
}

void TnxIndexDataSet::ApplyKeyRange() {
  CheckActive();
  if (state_ == TnxDataSetState::SetKey)
    FinishKeyEdit();
  CheckBrowse();
  SendRange(true);
}

void TnxIndexDataSet::SendRange(bool go_first) {
  if (range_start_ == start_in_force_ && range_end_ == end_in_force_)
    return;
  CloseLocateCursor();
  auto end_of = [](const KeyBuffer& b) {
    return RangeEnd{b.field_count, 0, !b.exclusive, b.modified ? b.image : Bytes()};
  };
  Check(cursor_->SetRange(end_of(range_start_), end_of(range_end_)));
  start_in_force_ = range_start_;
  end_in_force_ = range_end_;
  if (go_first) {
    GoToFirstRecord();
  } else {
    ClearRow();
    at_begin_ = true;
    pending_first_ = true;
  }
}

void TnxIndexDataSet::DropKeyRange() {
  CheckBrowse();
  ResolvePending();
  PutCursorOnActiveRow();
  if (!RangeInForce())
    return;
  CloseLocateCursor();
  Check(cursor_->ResetRange());
  ClearKeyBuffer(start_in_force_);
  ClearKeyBuffer(end_in_force_);
  ReReadCurrent(true);
}

// ---------------- master and detail ----------------

void TnxIndexDataSet::SetMasterSource(TnxIndexDataSet* master) {
  if (master == master_)
    return;
  for (TnxIndexDataSet* m = master; m; m = m->master_)
    if (m == this)
      RaiseError("Circular data link with data source [" + master->DisplayName() + "]");
  if (master_) {
    auto& list = master_->details_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  master_ = master;
  if (master_)
    master_->details_.push_back(this);
  if (Active())
    ApplyRangeFromMaster();
}

void TnxIndexDataSet::SetMasterFields(const std::string& fields) {
  master_fields_ = fields;
  if (Active())
    ApplyRangeFromMaster();
}

void TnxIndexDataSet::RowChanged() {
  for (TnxIndexDataSet* d : details_)
    if (d->state_ == TnxDataSetState::Browse)
      d->ApplyRangeFromMaster();
}

void TnxIndexDataSet::MasterClosed() {
  if (state_ == TnxDataSetState::Browse && RangeInForce())
    DropKeyRange();
}

// The master's values for the linked key fields; empty without an active master.
static std::vector<FieldValue> MasterValues(TnxIndexDataSet* master, const std::string& names) {
  std::vector<FieldValue> values;
  if (!master || !master->Active())
    return values;
  for (const auto& name : SplitNames(names))
    values.push_back(master->FieldByName(name).Value());
  return values;
}

void TnxIndexDataSet::ApplyRangeFromMaster(bool go_first) {
  if (!master_ || master_fields_.empty() || state_ != TnxDataSetState::Browse)
    return;
  if (!master_->Active()) {
    MasterClosed();
    return;
  }
  FillKeyBuffer(range_start_, MasterValues(master_, master_fields_));
  range_start_.modified = true;
  range_end_ = range_start_;
  SendRange(go_first);
}

void TnxIndexDataSet::ApplyMasterValues() {
  if (!master_ || master_fields_.empty())
    return;
  std::vector<FieldValue> values = MasterValues(master_, master_fields_);
  for (size_t i = 0; i < values.size() && i < key_fields_.size(); ++i) {
    auto mapper = CreateFieldMapper(dictionary_, key_fields_[i]);
    mapper->Write(std::span<char>(record_.data(), record_.size()), values[i]);
  }
}

// ---------------- locate ----------------

bool TnxIndexDataSet::Locate(const std::string& fields, const std::vector<FieldValue>& values,
                             bool case_insensitive, bool partial_key) {
  CheckBrowse();
  std::vector<std::string> names = SplitNames(fields);
  if (names.empty() || names.size() != values.size())
    RaiseError("Locate needs one value per field");
  std::vector<int> numbers;
  for (const auto& n : names)
    numbers.push_back(FieldByName(n).FieldNumber());

  // An index whose leading key fields are the located fields, with matching ignore-case for
  // text fields.
  auto fits = [&](const IndexDefinition& def) {
    if (def.descending || def.key_field_numbers.size() < numbers.size())
      return false;
    for (size_t i = 0; i < numbers.size(); ++i) {
      if (def.key_field_numbers[i] != numbers[i])
        return false;
      if (IsStringType(dictionary_.Field(numbers[i]).type) &&
          def.key_ignore_case[i] != case_insensitive)
        return false;
    }
    return true;
  };

  Bytes key = dictionary_.NewRecord();
  for (size_t i = 0; i < values.size(); ++i)
    CreateFieldMapper(dictionary_, numbers[i])
        ->Write(std::span<char>(key.data(), key.size()), values[i]);
  int32_t partial = 0;
  if (partial_key)
    if (auto* s = std::get_if<std::string>(&values.back()))
      partial = static_cast<int32_t>(s->size());
  int32_t count = static_cast<int32_t>(values.size());

  TnxRemoteCursor* search = nullptr;
  int own = dictionary_.IndexNumber(index_name_current_);
  if (own >= 0 && fits(index_defs_[static_cast<size_t>(own)])) {
    search = cursor_.get();
  } else if (!RangeInForce()) {
    for (const auto& def : index_defs_) {
      if (def.fields.empty() || !fits(def))
        continue;
      if (!locate_cursor_ || locate_index_ != def.name || locate_case_ != case_insensitive) {
        CloseLocateCursor();
        std::unique_ptr<TnxRemoteCursor> clone;
        Check(cursor_->Clone(0, clone));
        Check(clone->SwitchToIndex(def.name, -1, false));
        locate_cursor_ = std::move(clone);
        locate_index_ = def.name;
        locate_case_ = case_insensitive;
      }
      search = locate_cursor_.get();
      break;
    }
  }
  if (!search) {
    // No index serves these fields: the server scans the cursor's order for the values.
    LocateFilter filter;
    filter.case_insensitive = case_insensitive;
    filter.partial_length = partial;
    for (int n : numbers)
      filter.field_names.push_back(dictionary_.Field(n).name);
    filter.image = key;
    Bytes expression = filter.Encode();
    for (int attempt = 0; attempt < kLocateRetries; ++attempt) {
      uint32_t code = cursor_->Locate(expression);
      if (code == nxcode::kRecordNotFound)
        return false;
      Check(code);
      Bytes record;
      code = cursor_->RecordGet(nxmsg::kRecordGet, 0, &record);
      if (code == nxcode::kRecordDeleted)
        continue;  // deleted in between: locate again
      Check(code);
      AdoptRow(std::move(record));
      return true;
    }
    Check(nxcode::kRecordDeleted);
    return false;
  }

  for (int attempt = 0; attempt < kLocateRetries; ++attempt) {
    uint32_t code = search->RecordGetForKey(count, partial, key, true, nullptr);
    if (code == nxcode::kRecordNotFound)
      return false;
    Check(code);
    if (search != cursor_.get())
      Check(cursor_->SetToCursor(*search));
    Bytes record;
    code = cursor_->RecordGet(nxmsg::kRecordGet, 0, &record);
    if (code == nxcode::kRecordDeleted)
      continue;  // deleted in between: search again
    Check(code);
    AdoptRow(std::move(record));
    return true;
  }
  Check(nxcode::kRecordDeleted);
  return false;
}

}  // namespace vantera
