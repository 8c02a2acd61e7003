// A read-only table model over an open table cursor, for the grids of the search dialog.
//
// Reload() reads the rows of the cursor's current range into the model, at most
// kGridReadAhead of them, and leaves the cursor on the first. The grid's current row and
// the cursor are kept together by MoveTo(row): the cursor walks forward from where it
// stands, or from the first record when the row lies behind it.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace vantera {

class TnxTable;

// A column shown in a grid: a field of the table and its title.
struct GridColumn {
  std::string field;
  std::string title;
  // Character-set conversion flag of the string field (texts are shown byte for byte,
  // Windows-1252, either way).
  bool transliterate = false;
};

class CursorGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Rows read from the cursor at one time; the user narrows the range to reach others.
  static constexpr int kGridReadAhead = 500;

  CursorGridModel(TnxTable& table, QObject* parent = nullptr);

  void SetColumns(std::vector<GridColumn> columns);
  const std::vector<GridColumn>& Columns() const { return columns_; }

  // Reads the rows of the range in force; an inactive cursor gives no rows.
  void Reload();
  // Puts the cursor on the given row of the model (nothing for a row out of range).
  void MoveTo(int row);
  int CurrentRow() const { return current_; }
  // The text of a cell (Windows-1252).
  const std::string& Cell(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  TnxTable& table_;
  std::vector<GridColumn> columns_;
  std::vector<std::vector<std::string>> rows_;
  int current_ = -1;
};

}  // namespace vantera
