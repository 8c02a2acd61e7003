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
  current_ = -1;
  endResetModel();
}

void CursorGridModel::Reload() {
  beginResetModel();
  rows_.clear();
  current_ = -1;
  // The model is reset even when reading fails half way; the error goes to the caller.
  struct EndReset {
    CursorGridModel* model;
    ~EndReset() { model->endResetModel(); }
  } end_reset{this};
  if (!table_.Active())
    return;
  std::vector<TnxField*> fields;
  for (const GridColumn& column : columns_)
    fields.push_back(&table_.FieldByName(column.field));
  table_.First();
  while (!table_.Eof() && static_cast<int>(rows_.size()) < kGridReadAhead) {
    std::vector<std::string> row;
    row.reserve(fields.size());
    for (TnxField* field : fields)
      row.push_back(field->AsString());
    rows_.push_back(std::move(row));
    table_.Next();
  }
  table_.First();
  current_ = rows_.empty() ? -1 : 0;
}

void CursorGridModel::MoveTo(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || row == current_)
    return;
  if (current_ < 0 || row < current_) {
    table_.First();
    current_ = 0;
  }
  for (; current_ < row && !table_.Eof(); ++current_)
    table_.Next();
}

const std::string& CursorGridModel::Cell(int row, int column) const {
  return rows_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
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
