// TFDBHaku: the dialog of the master-detail search. The search field narrows the master
// grid to the records whose key on the chosen order starts with the typed text; the
// detail grid shows the detail records of the master record in the master grid's current
// row. Enter or a double click in either grid chooses the current detail record's value
// of ValueFld and closes; Escape closes without a choice. The grids read their rows as they
// scroll, and each row reaches its record by bookmark (cursor_grid_model.h).
//
// TDBMDHaku (DbMdHak.h) fills the dialog, opens its tables and runs it modally; the dialog
// itself never opens or closes the tables. Database errors of the handlers propagate to
// the caller of the event (the application's error report).
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "dbclient/nxdb.h"
#include "fingerprint/search_rules.h"

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace vantera {

class CursorGridModel;
struct GridColumn;

class TFDBHaku : public QDialog {
  Q_OBJECT

 public:
  explicit TFDBHaku(QWidget* parent = nullptr);
  ~TFDBHaku() override;

  // True from just before a dialog's tables open until the next dialog is set up; the
  // order radio group acts on clicks only then.
  static bool Ready() { return ready_; }
  static void SetReady(bool ready) { ready_ = ready; }

  // The widgets.
  QFrame* PanelHaku = nullptr;
  QLabel* LblHaku = nullptr;
  QLineEdit* EdtHaku = nullptr;
  QGroupBox* RGOrder = nullptr;
  QTableView* DBGMaster = nullptr;
  QTableView* DBGDetail = nullptr;

  // The read-only cursors; TblDetail follows TblMaster.
  TnxTable TblMaster{"TblMaster"};
  TnxTable TblDetail{"TblDetail"};

  // Copies made for one run.
  std::string ValueFld;
  TextLines IndexList;
  TextLines RetFldList;
  TextLines KeyRangeFldList;
  TextLines KeyRangeValList;
  // The results: the chosen value (empty without a choice) and the returned values.
  std::string ResultValue;
  TextLines RetValues;

  // The order radio group: its caption, its items with one of them selected (-1: none),
  // the selection.
  void SetOrderCaption(const std::string& caption);
  void SetOrderItems(const TextLines& items, int selected);
  int OrderIndex() const;
  void SetCaption(const std::string& caption);
  // The radio group's place inside the search panel, and the panel's height.
  void PlaceOrderGroup(int left, int width);
  void SetPanelHeight(int panel_height, int group_height);

  // The columns that the grids show (fields of the open tables, in table order).
  void SetMasterColumns(std::vector<GridColumn> columns);
  void SetDetailColumns(std::vector<GridColumn> columns);
  CursorGridModel& MasterModel() { return *master_model_; }
  CursorGridModel& DetailModel() { return *detail_model_; }

  // Sets the master range for the prefix on the current order and refills the grids.
  void SetKeyRange(const std::string& prefix);

  // Handlers.
  void EdtHakuChange();
  void RGOrderClick();
  // Double click, or Enter, in either grid: the current detail record's ValueFld.
  void DBGMasterDblClick();
  // Fills the returned values from the current detail record.
  void FormClose();

  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void MasterRowChanged(int row);
  void DetailRowChanged(int row);
  void ReloadMaster();
  void ReloadDetail();
  std::string CurrentIndexLine() const;

  inline static bool ready_ = false;
  QButtonGroup* order_buttons_ = nullptr;
  CursorGridModel* master_model_ = nullptr;  // owned by the dialog (Qt parent)
  CursorGridModel* detail_model_ = nullptr;
  bool closing_ = false;
};

}  // namespace vantera
