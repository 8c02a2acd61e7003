#include "fingerprint/cursor_grid_model.h"

#include "core/win1252.h"
#include "dbclient/nxdb.h"

namespace vantera {

namespace {

QString ToDisplay(const std::string& text) {
  return QString::fromStdString(Win1252ToUtf8(text));
}

}  // namespace

CursorGridModel::CursorGridModel(TnxTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {}

void CursorGridModel::SetColumns(std::vector<GridColumn> columns) {
  beginResetModel();
  columns_ = std::move(columns);
  rows_.clear();
  listed_.clear();
  at_end_ = true;
  current_ = -1;
  endResetModel();
}

void CursorGridModel::SetWalkHooks(std::function<void()> before, std::function<void()> after) {
  before_walk_ = std::move(before);
  after_walk_ = std::move(after);
}

void CursorGridModel::Walk(const std::function<void()>& body) {
  walking_ = true;
  if (before_walk_)
    before_walk_();
  try {
    body();
  } catch (...) {
    walking_ = false;
    if (after_walk_)
      after_walk_();
    throw;
  }
  walking_ = false;
  if (after_walk_)
    after_walk_();
}

std::vector<CursorGridModel::Row> CursorGridModel::ReadRows(int count) {
  std::vector<TnxField*> fields;
  for (const GridColumn& column : columns_)
    fields.push_back(&table_.FieldByName(column.field));
  std::vector<Row> read;
  while (static_cast<int>(read.size()) < count && !table_.Eof()) {
    Bytes bookmark = table_.GetBookmark();
    if (listed_.insert(bookmark).second) {
      Row row;
      row.cells.reserve(fields.size());
      for (TnxField* field : fields)
        row.cells.push_back(field->AsString());
      row.bookmark = std::move(bookmark);
      read.push_back(std::move(row));
    }
    table_.Next();
  }
  at_end_ = table_.Eof();
  return read;
}

void CursorGridModel::ReturnToCurrent() {
  if (current_ >= 0 && !table_.GotoBookmark(rows_[static_cast<size_t>(current_)].bookmark))
    current_ = -1;
}

void CursorGridModel::Reload() {
  beginResetModel();
  rows_.clear();
  listed_.clear();
  at_end_ = true;
  current_ = -1;
  // The model is reset even when reading fails half way; the error goes to the caller.
  struct EndReset {
    CursorGridModel* model;
    ~EndReset() { model->endResetModel(); }
  } end_reset{this};
  if (!table_.Active())
    return;
  Walk([this] {
    table_.First();
    rows_ = ReadRows(kFetchChunk);
    if (!rows_.empty()) {
      current_ = 0;
      ReturnToCurrent();
    }
  });
}

void CursorGridModel::Clear() {
  SetColumns(columns_);
}

bool CursorGridModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !at_end_ && !walking_ && table_.Active();
}

void CursorGridModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent))
    return;
  std::vector<Row> read;
  Walk([&] {
    // Go on after the last row read; when its record is gone, after the nearest earlier
    // row whose record remains (the rows between are listed already and skipped).
    bool placed = false;
    for (size_t i = rows_.size(); i-- > 0 && !placed;)
      placed = table_.GotoBookmark(rows_[i].bookmark);
    if (placed)
      table_.Next();
    else
      table_.First();
    read = ReadRows(kFetchChunk);
    ReturnToCurrent();
  });
  if (read.empty())
    return;
  int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(read.size()) - 1);
  for (Row& row : read)
    rows_.push_back(std::move(row));
  endInsertRows();
}

bool CursorGridModel::MoveTo(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size()))
    return false;
  current_ = -1;
  if (!table_.GotoBookmark(rows_[static_cast<size_t>(row)].bookmark))
    return false;
  current_ = row;
  return true;
}

const std::string& CursorGridModel::Cell(int row, int column) const {
  return rows_.at(static_cast<size_t>(row)).cells.at(static_cast<size_t>(column));
}

const Bytes& CursorGridModel::RowBookmark(int row) const {
  return rows_.at(static_cast<size_t>(row)).bookmark;
}

int CursorGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CursorGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant CursorGridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
      index.column() >= columnCount())
    return {};
  return ToDisplay(Cell(index.row(), index.column()));
}

QVariant CursorGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (orientation == Qt::Vertical)
    return {};
  if (section < 0 || section >= columnCount())
    return {};
  return ToDisplay(columns_[static_cast<size_t>(section)].title);
}

Qt::ItemFlags CursorGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

}  // namespace vantera
