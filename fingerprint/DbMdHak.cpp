#include "fingerprint/DbMdHak.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QTimer>
#include <map>

#include "dbclient/nxdb.h"
#include "fingerprint/DbMdHakForm.h"
#include "fingerprint/cursor_grid_model.h"

namespace vantera {

namespace {

// The columns for the header lines: the named fields with their titles, in the table's
// field order. A line with fewer than two parts is ignored; a field the table lacks
// raises the field-not-found error.
std::vector<GridColumn> ColumnsFor(TnxTable& table, const TextLines& headers, bool transliterate) {
  std::map<int, std::string> titles;
  for (const std::string& line : headers) {
    auto column = HeaderColumn(line);
    if (!column)
      continue;
    titles[table.FieldByName(column->first).FieldNumber()] = column->second;
  }
  std::vector<GridColumn> columns;
  for (size_t i = 0; i < table.FieldCount(); ++i) {
    TnxField& field = table.Field(i);
    auto title = titles.find(field.FieldNumber());
    if (title == titles.end())
      continue;
    bool is_string = field.Kind() == DatasetFieldKind::String;
    columns.push_back({field.FieldName(), title->second, is_string && transliterate});
  }
  return columns;
}

}  // namespace

TDBMDHaku::TDBMDHaku(std::string name) : name_(std::move(name)) {
  OnBeep = [] { QApplication::beep(); };
}

TDBMDHaku::~TDBMDHaku() = default;

std::unique_ptr<TFDBHaku> TDBMDHaku::CreateForm() {
  return std::make_unique<TFDBHaku>();
}

bool TDBMDHaku::RunSearch() {
  TFDBHaku::SetReady(false);
  Value.clear();
  std::unique_ptr<TFDBHaku> form;
  try {
    form = CreateForm();
  } catch (const std::exception&) {
    form.reset();
  }
  if (!form) {
    if (OnBeep)
      OnBeep();
    return false;
  }
  TFDBHaku& f = *form;

  f.ValueFld = ValueFld;
  f.TblMaster.SetDatabase(Database);
  f.TblMaster.SetTableName(MasterTableName);
  f.TblDetail.SetDatabase(Database);
  f.TblDetail.SetTableName(DetailTableName);
  f.TblDetail.SetIndexFieldNames(IndexFieldNames);
  f.TblDetail.SetMasterFields(MasterFields);

  if (!FormCaption.empty())
    f.SetCaption(FormCaption);
  if (!RGCaption.empty())
    f.SetOrderCaption(RGCaption);

  OrderChoices choices = OrderItems(RGNameList);
  int selected = SelectedOrder(KeyIndex, choices.items.size());
  f.SetOrderItems(choices.items, selected);
  if (!choices.visible)
    f.RGOrder->hide();

  f.IndexList = IndexList;
  f.RetFldList = RetFldList;
  f.KeyRangeFldList = KeyRangeFldList;
  f.KeyRangeValList = KeyRangeValList;
  f.RetValues.clear();
  if (selected >= 0 && static_cast<size_t>(selected) < IndexList.size())
    f.TblMaster.SetIndexFieldNames(IndexList[static_cast<size_t>(selected)]);

  SearchDialogSizes sizes = DialogSizes(FormHeight, FormWidth, RGLeft, RGWidth, IndexList.size());
  f.resize(sizes.form_width, sizes.form_height);
  RGLeft = sizes.rg_left;
  f.PlaceOrderGroup(sizes.rg_left, sizes.rg_width);
  if (sizes.panel_height)
    f.SetPanelHeight(*sizes.panel_height, *sizes.rg_height);

  if (!EnableHaku) {
    f.RGOrder->hide();
    f.EdtHaku->hide();
    f.PanelHaku->hide();
  }

  TFDBHaku::SetReady(true);
  f.update();

  // From here on the tables are closed before the dialog is freed, however the run ends.
  struct CloseTables {
    TFDBHaku& form;
    ~CloseTables() {
      form.TblDetail.Close();
      form.TblMaster.Close();
    }
  } close_tables{f};
  f.TblMaster.Open();
  f.TblDetail.Open();
  f.SetMasterColumns(ColumnsFor(f.TblMaster, MasterHeaders, Transliterate));
  f.SetDetailColumns(ColumnsFor(f.TblDetail, DetailHeaders, Transliterate));

  f.SetKeyRange("");
  if (OnDialogShown)
    QTimer::singleShot(0, &f, [this, &f] { OnDialogShown(f); });
  f.exec();

  KeyIndex = f.OrderIndex();
  RetValList = f.RetValues;
  Value = f.ResultValue;
  return !Value.empty();
}

std::optional<std::string> TDBMDHaku::Execute() {
  if (!RunSearch())
    return std::nullopt;
  return Value;
}

void ConfigureCardSearch(TDBMDHaku& haku, TnxDatabase* database) {
  haku.Database = database;
  haku.MasterTableName = "ASIAKAS";
  haku.DetailTableName = "KORTTI";
  haku.IndexFieldNames = "AsNo";
  haku.MasterFields = "AsNo";
  haku.FormCaption = "Kortihaku";
  haku.RGCaption = "Valinta";
  haku.ValueFld = "KorttiNro";
  haku.EnableHaku = true;
  haku.Transliterate = false;
  haku.FormWidth = 482;
  haku.MasterHeaders = {"AsNo;Asiakas", "AsNimi;Nimi"};
  haku.DetailHeaders = {"KorttiNro;Kortti", "KorttiLyh;Lyhytnumero"};
  haku.RGNameList = {"N&umero", "&Nimi"};
  haku.RGLeft = 322;
  haku.IndexList = {"AsNo", "AsNimi"};
  haku.KeyIndex = 1;
}

}  // namespace vantera
