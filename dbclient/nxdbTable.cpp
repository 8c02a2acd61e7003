// TnxTable: opening a server table on its index, and the table's own settings.
#include "dbclient/nxdb.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {
constexpr uint32_t kDatabaseReadOnly = 10501;
constexpr uint32_t kTableReadOnly = 10763;
constexpr uint32_t kIndexDoesNotExist = 9997;
constexpr uint32_t kDefaultFilterTimeout = 500;
}  // namespace

TnxTable::TnxTable(std::string name) : TnxIndexDataSet(std::move(name)) {}

TnxTable::~TnxTable() {
  Close();
}

void TnxTable::SetTableName(const std::string& name) {
  if (name == table_name_)
    return;
  CheckInactiveDataset();
  table_name_ = name;
}

void TnxTable::SetReadOnly(bool read_only) {
  if (read_only == read_only_)
    return;
  CheckInactiveDataset();
  read_only_ = read_only;
}

void TnxTable::SetExclusive(bool exclusive) {
  if (exclusive == exclusive_)
    return;
  CheckInactiveDataset();
  exclusive_ = exclusive;
}

void TnxTable::SetIndexName(const std::string& name) {
  if (name == index_name_ && index_field_names_.empty())
    return;
  if (DataSetState() != TnxDataSetState::Inactive) {
    CheckBrowse();
    if (dictionary_.IndexNumber(name) < 0)
      Check(kIndexDoesNotExist);
    index_name_ = name;
    index_field_names_.clear();
    DropKeyRange();
    SwitchIndex(name);
    UseIndex(name);
    ReReadCurrent(true);
    return;
  }
  index_name_ = name;
  index_field_names_.clear();
}

void TnxTable::SetIndexFieldNames(const std::string& names) {
  if (names == index_field_names_ && index_name_.empty())
    return;
  if (DataSetState() != TnxDataSetState::Inactive) {
    CheckBrowse();
    int n = FindIndexForFields(index_defs_, names);
    if (n < 0)
      RaiseError("No index for fields '" + names + "'");
    std::string index = index_defs_[static_cast<size_t>(n)].name;
    index_field_names_ = names;
    index_name_.clear();
    DropKeyRange();
    SwitchIndex(index);
    UseIndex(index);
    ReReadCurrent(true);
    return;
  }
  index_field_names_ = names;
  index_name_.clear();
}

bool TnxTable::CanModify() const {
  return !read_only_ && !(database_ && database_->ReadOnly());
}

std::string TnxTable::ChooseIndex() const {
  if (!index_field_names_.empty()) {
    int n = FindIndexForFields(index_defs_, index_field_names_);
    if (n < 0)
      RaiseError("No index for fields '" + index_field_names_ + "'");
    return index_defs_[static_cast<size_t>(n)].name;
  }
  if (!index_name_.empty()) {
    if (dictionary_.IndexNumber(index_name_) < 0)
      Check(kIndexDoesNotExist);
    return index_name_;
  }
  int n = dictionary_.DefaultIndex();
  return n >= 0 ? dictionary_.Index(n).name : std::string();
}

void TnxTable::OpenCursor() {
  TnxRemoteDatabase* db = database_->RemoteDatabase();
  if (!db)
    RaiseError("DataSet cannot open its database");
  // 1. The server cursor; a table the server allows only for reading is opened read-only.
  auto open = [&]() {
    bool ro = read_only_ || database_->ReadOnly();
    return db->TableOpen(table_name_, ro ? 0 : 2, exclusive_ ? 0 : 1, ResolvedTimeout(), cursor_,
                         &dictionary_);
  };
  uint32_t code = open();
  if ((code == kDatabaseReadOnly || code == kTableReadOnly) && !read_only_) {
    read_only_ = true;
    code = open();
  }
  Check(code);

  // 2. and 3. The index, the layout and the fields.
  has_rec_rev_ = false;
  for (int i = 0; i < dictionary_.FieldCount(); ++i)
    if (dictionary_.Field(i).type == nxtRecRev)
      has_rec_rev_ = true;
  index_defs_ = BuildIndexDefinitions(dictionary_);
  std::string index = ChooseIndex();
  rec_len_ = dictionary_.RecordLength();
  UseIndex(index);
  BuildFields();

  // 4. The switch to the chosen index goes out at every open.
  SwitchIndex(index);

  // 5. Before the first record (of the master's range for a detail).
  GoToFirstRecord();
  if (MasterSource() && MasterSource()->Active() && !MasterFields().empty()) {
    state_ = TnxDataSetState::Browse;
    ApplyRangeFromMaster(false);
  }
  if (FilterTimeout != kDefaultFilterTimeout)
    Check(cursor_->FilterSetTimeout(FilterTimeout));
}

}  // namespace vantera
