#include "fingerprint/DbMdHakForm.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>

#include "core/win1252.h"
#include "fingerprint/cursor_grid_model.h"

namespace vantera {

namespace {

QString ToDisplay(const std::string& text) {
  return QString::fromStdString(Win1252ToUtf8(text));
}

std::string FromDisplayText(const QString& text) {
  return Utf8ToWin1252(text.toStdString());
}

// The form's own layout: the search panel's height for up to three order choices, the
// label and search field inside it, the radio group's default place.
constexpr int kPanelHeight = 80;
constexpr int kFieldLeft = 8;
constexpr int kLabelTop = 8;
constexpr int kFieldTop = 28;
constexpr int kFieldHeight = 24;
constexpr int kGroupTop = 0;
constexpr int kDefaultGroupLeft = 290;
constexpr int kDefaultGroupWidth = 110;

QTableView* MakeGrid(QWidget* parent, const char* name) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->verticalHeader()->setVisible(false);
  grid->verticalHeader()->setDefaultSectionSize(20);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setTabKeyNavigation(false);
  return grid;
}

bool IsEnter(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

TFDBHaku::TFDBHaku(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FDBHaku"));
  setWindowTitle(QStringLiteral("Haku"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setModal(true);

  PanelHaku = new QFrame(this);
  PanelHaku->setObjectName(QStringLiteral("PanelHaku"));
  PanelHaku->setFrameShape(QFrame::StyledPanel);
  PanelHaku->setFixedHeight(kPanelHeight);
  LblHaku = new QLabel(QStringLiteral("Haku"), PanelHaku);
  LblHaku->move(kFieldLeft, kLabelTop);
  EdtHaku = new QLineEdit(PanelHaku);
  EdtHaku->setObjectName(QStringLiteral("EdtHaku"));
  LblHaku->setBuddy(EdtHaku);
  RGOrder = new QGroupBox(ToDisplay("J\xE4rjestys"), PanelHaku);
  RGOrder->setObjectName(QStringLiteral("RGOrder"));
  RGOrder->setLayout(new QVBoxLayout);
  RGOrder->layout()->setContentsMargins(8, 2, 8, 2);
  RGOrder->layout()->setSpacing(0);
  order_buttons_ = new QButtonGroup(this);
  PlaceOrderGroup(kDefaultGroupLeft, kDefaultGroupWidth);
  SetPanelHeight(kPanelHeight, kPanelHeight - 5);

  DBGMaster = MakeGrid(this, "DBGMaster");
  DBGDetail = MakeGrid(this, "DBGDetail");
  master_model_ = new CursorGridModel(TblMaster, this);
  detail_model_ = new CursorGridModel(TblDetail, this);
  DBGMaster->setModel(master_model_);
  DBGDetail->setModel(detail_model_);
  // The detail is unlinked while the master walks its rows to read them: it follows the
  // row the master stands on at the end, not every row on the way.
  master_model_->SetWalkHooks([this] { TblDetail.SetMasterSource(nullptr); },
                              [this] { TblDetail.SetMasterSource(&TblMaster); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(PanelHaku);
  layout->addWidget(DBGMaster, 3);
  layout->addWidget(DBGDetail, 2);

  TblMaster.SetReadOnly(true);
  TblDetail.SetReadOnly(true);
  TblDetail.SetMasterSource(&TblMaster);

  connect(EdtHaku, &QLineEdit::textChanged, this, [this] { EdtHakuChange(); });
  connect(order_buttons_, &QButtonGroup::idClicked, this, [this] { RGOrderClick(); });
  connect(DBGMaster->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { MasterRowChanged(current.row()); });
  connect(DBGDetail->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { DetailRowChanged(current.row()); });
  EdtHaku->installEventFilter(this);
  for (QTableView* grid : {DBGMaster, DBGDetail}) {
    grid->installEventFilter(this);
    grid->viewport()->installEventFilter(this);
  }
  EdtHaku->setFocus();
}

TFDBHaku::~TFDBHaku() {
  // The models read the tables: take them away from the grids before the tables go.
  DBGMaster->setModel(nullptr);
  DBGDetail->setModel(nullptr);
}

void TFDBHaku::SetCaption(const std::string& caption) {
  setWindowTitle(ToDisplay(caption));
}

void TFDBHaku::SetOrderCaption(const std::string& caption) {
  RGOrder->setTitle(ToDisplay(caption));
}

void TFDBHaku::SetOrderItems(const TextLines& items, int selected) {
  for (QAbstractButton* button : order_buttons_->buttons()) {
    order_buttons_->removeButton(button);
    delete button;  // owned by the radio group until now
  }
  for (size_t i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(ToDisplay(items[i]), RGOrder);
    RGOrder->layout()->addWidget(button);
    order_buttons_->addButton(button, static_cast<int>(i));
  }
  if (QAbstractButton* button = order_buttons_->button(selected))
    button->setChecked(true);
}

int TFDBHaku::OrderIndex() const {
  return order_buttons_->checkedId();
}

void TFDBHaku::PlaceOrderGroup(int left, int width) {
  RGOrder->setGeometry(left, kGroupTop, width, RGOrder->height());
  EdtHaku->setGeometry(kFieldLeft, kFieldTop, std::max(40, left - 2 * kFieldLeft), kFieldHeight);
}

void TFDBHaku::SetPanelHeight(int panel_height, int group_height) {
  PanelHaku->setFixedHeight(panel_height);
  RGOrder->setGeometry(RGOrder->x(), kGroupTop, RGOrder->width(), group_height);
}

void TFDBHaku::SetMasterColumns(std::vector<GridColumn> columns) {
  master_model_->SetColumns(std::move(columns));
}

void TFDBHaku::SetDetailColumns(std::vector<GridColumn> columns) {
  detail_model_->SetColumns(std::move(columns));
}

std::string TFDBHaku::CurrentIndexLine() const {
  int order = OrderIndex();
  if (order < 0 || static_cast<size_t>(order) >= IndexList.size())
    return {};
  return IndexList[static_cast<size_t>(order)];
}

void TFDBHaku::SetKeyRange(const std::string& prefix) {
  KeyRangePlan plan = PlanKeyRange(KeyRangeFldList, KeyRangeValList, CurrentIndexLine(), prefix);
  if (plan.by_fields) {
    TblMaster.EditRangeLow();
    for (const auto& [field, value] : plan.low)
      TblMaster.FieldByName(field).SetAsString(value);
    TblMaster.EditRangeHigh();
    for (const auto& [field, value] : plan.high)
      TblMaster.FieldByName(field).SetAsString(value);
    TblMaster.ApplyKeyRange();
  } else {
    TblMaster.SetRangeBounds({plan.low_value}, {plan.high_value});
  }
  ReloadMaster();
}

void TFDBHaku::ReloadMaster() {
  master_model_->Reload();
  // The cursor stands on the first row already: making it current moves nothing.
  if (master_model_->rowCount() > 0)
    DBGMaster->setCurrentIndex(master_model_->index(0, 0));
  ReloadDetail();
}

void TFDBHaku::ReloadDetail() {
  if (master_model_->CurrentRow() < 0)
    detail_model_->Clear();  // no master record: no details
  else
    detail_model_->Reload();
  if (detail_model_->rowCount() > 0)
    DBGDetail->setCurrentIndex(detail_model_->index(0, 0));
}

void TFDBHaku::MasterRowChanged(int row) {
  if (row < 0 || row == master_model_->CurrentRow())
    return;
  // The detail follows the master's record (its range is set as the master moves).
  master_model_->MoveTo(row);
  ReloadDetail();
}

void TFDBHaku::DetailRowChanged(int row) {
  if (row >= 0 && row != detail_model_->CurrentRow())
    detail_model_->MoveTo(row);
}

void TFDBHaku::EdtHakuChange() {
  if (!TblMaster.Active())
    return;  // nothing to narrow before the tables open
  SetKeyRange(SearchKey(FromDisplayText(EdtHaku->text())));
}

void TFDBHaku::RGOrderClick() {
  if (!ready_)
    return;
  int order = OrderIndex();
  if (order >= 0 && static_cast<size_t>(order) < IndexList.size()) {
    TblMaster.SetIndexFieldNames(IndexList[static_cast<size_t>(order)]);
    SetKeyRange("");
  }
  EdtHaku->clear();
  EdtHaku->setFocus();
}

void TFDBHaku::DBGMasterDblClick() {
  // The cursor is put on the chosen row's record once more by its bookmark, so the value
  // is that of the record shown in the row, read afresh; a record deleted meanwhile gives
  // no choice.
  ResultValue.clear();
  int row = detail_model_->CurrentRow();
  if (TblDetail.Active() && row >= 0 && detail_model_->MoveTo(row))
    ResultValue = TblDetail.FieldByName(ValueFld).AsString();
  reject();
}

void TFDBHaku::FormClose() {
  RetValues.clear();
  bool has_row = TblDetail.Active() && detail_model_->CurrentRow() >= 0;
  std::vector<std::pair<std::string, std::string>> fields;
  for (const std::string& wanted : RetFldList) {
    if (!has_row)
      break;
    for (size_t i = 0; i < TblDetail.FieldCount(); ++i) {
      TnxField& field = TblDetail.Field(i);
      if (field.FieldName() == wanted) {
        fields.emplace_back(field.FieldName(), field.AsString());
        break;
      }
    }
  }
  RetValues = ReturnedValues(RetFldList, fields);
}

void TFDBHaku::done(int result) {
  if (!closing_) {
    closing_ = true;
    FormClose();
  }
  QDialog::done(result);
}

bool TFDBHaku::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == EdtHaku) {
      if (key == Qt::Key_Escape) {
        reject();
        return true;
      }
      return IsEnter(key);  // Enter in the search field chooses nothing
    }
    if (watched == DBGMaster || watched == DBGDetail) {
      if (IsEnter(key)) {
        DBGMasterDblClick();
        return true;
      }
      if (key == Qt::Key_Escape) {
        reject();
        return true;
      }
    }
  } else if (event->type() == QEvent::MouseButtonDblClick &&
             (watched == DBGMaster->viewport() || watched == DBGDetail->viewport())) {
    DBGMasterDblClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TFDBHaku::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  EdtHaku->setFocus();
}

}  // namespace vantera
