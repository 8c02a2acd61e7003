// A read-only table model over an open table cursor, for the grids of the search dialog.
//
// Rows are read as the grid asks for them: Reload() reads the first kFetchChunk rows of the
// cursor's current range, and fetchMore() the next kFetchChunk after the last row read,
// until the range ends; there is no limit on the number of rows. Every row keeps the
// bookmark of its record, and MoveTo(row) puts the cursor on that record by its bookmark:
// the row the user picks is the record shown in it, even when another workstation inserts
// or deletes records of the range while the grid is open.
//
// Reading walks the cursor over the rows and ends back on the current row. The walk hooks
// run around every walk (the dialog unlinks its detail cursor meanwhile, so that the detail
// follows only the row the user stands on). A record met again while reading (its key was
// changed meanwhile) is not listed twice.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/coding.h"

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
  // Rows read from the cursor at one time, as the grid scrolls to the last row read.
  static constexpr int kFetchChunk = 100;

  CursorGridModel(TnxTable& table, QObject* parent = nullptr);

  void SetColumns(std::vector<GridColumn> columns);
  const std::vector<GridColumn>& Columns() const { return columns_; }
  // Called before and after every walk of the cursor over rows.
  void SetWalkHooks(std::function<void()> before, std::function<void()> after);

  // Reads the first rows of the range in force and puts the cursor on the first; an
  // inactive cursor gives no rows.
  void Reload();
  // No rows (the cursor is left alone).
  void Clear();
  // Puts the cursor on the record of the given row by its bookmark, also when it stands
  // there already (the record is read again). False for a row out of range or a record
  // deleted meanwhile; the row is then not current.
  bool MoveTo(int row);
  // The row the cursor stands on; -1 when it stands on none of them.
  int CurrentRow() const { return current_; }
  // The text of a cell (Windows-1252).
  const std::string& Cell(int row, int column) const;
  // The bookmark of a row's record.
  const Bytes& RowBookmark(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // True while the range has rows not read yet.
  bool canFetchMore(const QModelIndex& parent) const override;
  // Reads the next kFetchChunk rows (fewer at the end of the range).
  void fetchMore(const QModelIndex& parent) override;

 private:
  struct Row {
    std::vector<std::string> cells;
    Bytes bookmark;
  };

  // Reads up to `count` rows from the cursor's active record on, skipping records already
  // listed; notes whether the range has ended.
  std::vector<Row> ReadRows(int count);
  // Runs `body` between the walk hooks, also when it throws.
  void Walk(const std::function<void()>& body);
  // Back on the current row after a walk; no current row when its record is gone.
  void ReturnToCurrent();

  TnxTable& table_;
  std::vector<GridColumn> columns_;
  std::vector<Row> rows_;
  std::set<Bytes> listed_;  // bookmarks of the rows read
  bool at_end_ = true;
  bool walking_ = false;
  int current_ = -1;
  std::function<void()> before_walk_;
  std::function<void()> after_walk_;
};

}  // namespace vantera
