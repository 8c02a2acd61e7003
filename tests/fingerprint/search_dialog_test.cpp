// The master-detail search dialog over customers and cards of the server's own database
// engine (in process, demo data), driven offscreen with key and mouse events.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QTableView>
#include <cstdlib>

#include "core/win1252.h"
#include "fingerprint/DbMdHak.h"
#include "fingerprint/DbMdHakForm.h"
#include "fingerprint/cursor_grid_model.h"
#include "protocol/nxllException.h"
#include "server/engine/demo_data.h"
#include "tests/dbclient/engine_transport.h"
#include "tests/fingerprint/customer_rows.h"
#include "tests/fingerprint/search_data.h"
#include "tests/server/engine_test_support.h"

namespace vantera {
namespace {

using testing::EngineTransport;
using testing::TempFolder;

void Key(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const char* letters) {
  for (const char* c = letters; *c; ++c)
    Key(target, Qt::Key_A + (*c - 'a'), QString(QChar(*c)));
}

void DoubleClick(QTableView* grid, int row) {
  grid->setCurrentIndex(grid->model()->index(row, 0));
  QPoint pos = grid->visualRect(grid->model()->index(row, 0)).center();
  QMouseEvent event(QEvent::MouseButtonDblClick, pos, grid->viewport()->mapToGlobal(pos),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(grid->viewport(), &event);
}

// The texts of one column of a grid, blanks of stored customer numbers removed.
std::vector<std::string> Column(CursorGridModel& model, int column) {
  std::vector<std::string> out;
  for (int row = 0; row < model.rowCount(); ++row) {
    std::string text = model.Cell(row, column);
    text.erase(0, text.find_first_not_of(' '));
    out.push_back(text);
  }
  return out;
}

class SearchDialog : public ::testing::Test {
 protected:
  TempFolder folder;
  FolderReport prepared = PrepareDataFolder(folder.path(), nxtShortString);
  int demo_customers = FillDemoData(folder.path());
  ServerEngine server{testing::OptionsFor(folder.path())};
  EngineTransport transport{server};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
  TDBMDHaku haku;
  int beeps = 0;

  void SetUp() override {
    ASSERT_EQ(demo_customers, 36);
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
    ConfigureCardSearch(haku, &database);
    haku.OnBeep = [this] { ++beeps; };
  }

  void AddCustomer(const std::string& as_no, const std::string& name, const char* card = "") {
    testing::AppendCustomerRow(database, as_no, name);
    if (*card)
      testing::AppendCardRow(database, as_no, card, as_no + "01");
  }

  // Runs the search; `drive` acts on the shown dialog and must close it. A dialog that
  // `drive` leaves open is closed after it, failing the test.
  bool Run(const std::function<void(TFDBHaku&)>& drive) {
    bool driven = false;
    haku.OnDialogShown = [&](TFDBHaku& form) {
      driven = true;
      EXPECT_TRUE(form.isVisible());
      drive(form);
      if (form.isVisible()) {
        ADD_FAILURE() << "the dialog stayed open";
        form.reject();
      }
    };
    bool chosen = haku.RunSearch();
    haku.OnDialogShown = nullptr;
    EXPECT_TRUE(driven);
    return chosen;
  }

  // The row of the master grid whose name column starts with `name`.
  static int RowOf(TFDBHaku& form, const std::string& name) {
    auto names = Column(form.MasterModel(), 1);
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i].rfind(name, 0) == 0)
        return static_cast<int>(i);
    return -1;
  }
};

TEST_F(SearchDialog, CardSearchListsByNameWithItsColumnsSizesAndCaptions) {
  std::vector<std::string> names;
  bool chosen = Run([&](TFDBHaku& form) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Kortihaku");
    EXPECT_EQ(form.RGOrder->title().toStdString(), "Valinta");
    EXPECT_FALSE(form.RGOrder->isHidden());
    EXPECT_EQ(form.OrderIndex(), 1);
    EXPECT_EQ(form.width(), 482);
    EXPECT_EQ(form.height(), 370);
    EXPECT_EQ(form.RGOrder->x(), 322);
    EXPECT_EQ(form.RGOrder->width(), 110);
    EXPECT_EQ(form.focusWidget(), form.EdtHaku);
    EXPECT_TRUE(form.isModal());
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.TblMaster.ReadOnly());
    EXPECT_TRUE(form.TblDetail.ReadOnly());
    EXPECT_EQ(form.DBGMaster->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(form.DBGDetail->selectionBehavior(), QAbstractItemView::SelectRows);

    CursorGridModel& master = form.MasterModel();
    ASSERT_EQ(master.columnCount(), 2);
    EXPECT_EQ(master.headerData(0, Qt::Horizontal).toString().toStdString(), "Asiakas");
    EXPECT_EQ(master.headerData(1, Qt::Horizontal).toString().toStdString(), "Nimi");
    EXPECT_EQ(master.rowCount(), 36);
    names = Column(master, 1);
    CursorGridModel& detail = form.DetailModel();
    ASSERT_EQ(detail.columnCount(), 2);
    EXPECT_EQ(detail.headerData(0, Qt::Horizontal).toString().toStdString(), "Kortti");
    EXPECT_EQ(detail.headerData(1, Qt::Horizontal).toString().toStdString(), "Lyhytnumero");

    if (const char* shot = std::getenv("VANTERA_SEARCH_SCREENSHOT")) {
      Type(form.EdtHaku, "k");
      QPixmap image = form.grab();
      EXPECT_FALSE(image.isNull());
      image.save(QString::fromLocal8Bit(shot));
    }
    Key(form.EdtHaku, Qt::Key_Escape);
  });
  EXPECT_FALSE(chosen);
  // Names in the order of the case-blind name index: A-Z, then the letters A and O with
  // diaeresis.
  ASSERT_EQ(names.size(), 36u);
  EXPECT_EQ(names.front().rfind("Heikkinen", 0), 0u);
  EXPECT_EQ(names.back().rfind("\xD6hman", 0), 0u);
  for (size_t i = 1; i < names.size(); ++i)
    EXPECT_LE(Win1252Upper(names[i - 1]).substr(0, 4), Win1252Upper(names[i]).substr(0, 4));
  EXPECT_EQ(haku.RGLeft, 322);
  EXPECT_EQ(haku.KeyIndex, 1);
}

TEST_F(SearchDialog, EscapeInTheSearchFieldOrAGridChoosesNothing) {
  haku.RetFldList = {"KorttiLyh"};
  for (int where = 0; where < 3; ++where) {
    haku.Value = "old";
    bool chosen = Run([&](TFDBHaku& form) {
      QWidget* targets[] = {form.EdtHaku, form.DBGMaster, form.DBGDetail};
      ASSERT_GT(form.DetailModel().rowCount(), 0);
      Key(targets[where], Qt::Key_Escape);
      EXPECT_FALSE(form.isVisible());
    });
    EXPECT_FALSE(chosen) << where;
    EXPECT_EQ(haku.Value, "") << where;
  }
  haku.OnDialogShown = [](TFDBHaku& form) { Key(form.EdtHaku, Qt::Key_Escape); };
  EXPECT_EQ(haku.Execute(), std::nullopt);
}

TEST_F(SearchDialog, EnterAndDoubleClickInEitherGridChooseTheCurrentCard) {
  haku.RetFldList = {"KorttiLyh", "Puuttuu", "AsNo"};
  // Enter in the search field chooses nothing; Enter in the master grid chooses the first
  // card of the customer in its current row. Customer 1001 (Virtanen Aino) has two cards.
  bool chosen = Run([&](TFDBHaku& form) {
    Type(form.EdtHaku, "virtanen");
    Key(form.EdtHaku, Qt::Key_Return);
    Key(form.EdtHaku, Qt::Key_Enter);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Column(form.MasterModel(), 0), (std::vector<std::string>{"1001", "1017", "1033"}));
    ASSERT_EQ(form.DetailModel().rowCount(), 2);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(haku.Value, "6390000010010001");
  EXPECT_EQ(haku.RetValList, (TextLines{"100101", "", std::string(11, ' ') + "1001"}));

  // A double click in the detail grid on the second card.
  chosen = Run([&](TFDBHaku& form) {
    Type(form.EdtHaku, "virtanen");
    DoubleClick(form.DBGDetail, 1);
  });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(haku.Value, "6390000010010002");
  EXPECT_EQ(haku.RetValList, (TextLines{"100102", "", std::string(11, ' ') + "1001"}));

  // Moving in the master grid moves the detail; a double click on the master chooses.
  chosen = Run([&](TFDBHaku& form) {
    Type(form.EdtHaku, "virtanen");
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(2, 0));
    EXPECT_EQ(Column(form.DetailModel(), 1), (std::vector<std::string>{"103301"}));
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(1, 0));
    EXPECT_EQ(Column(form.DetailModel(), 1), (std::vector<std::string>{"101701"}));
    DoubleClick(form.DBGMaster, 1);
  });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(haku.Value, "6390000010170001");

  // Enter in the detail grid after moving back to the first customer's second card.
  std::optional<std::string> value;
  haku.OnDialogShown = [](TFDBHaku& form) {
    Type(form.EdtHaku, "virtanen");
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(2, 0));
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(0, 0));
    form.DBGDetail->setCurrentIndex(form.DetailModel().index(1, 0));
    Key(form.DBGDetail, Qt::Key_Enter);
  };
  value = haku.Execute();
  EXPECT_EQ(value, "6390000010010002");
}

TEST_F(SearchDialog, TypingMAnarrowsTheNamesToTheMARange) {
  AddCustomer("1901", "Mattila Aino", "6390000019010001");
  AddCustomer("1902", "MA Eino");
  AddCustomer("1903", "maunula Sanna");
  AddCustomer("1904", "Mb Sanna");
  AddCustomer("1905", "Lz Ville");
  AddCustomer("1906", "M\xC4ntyl\xE4 Ilkka");  // MÄ: beyond MA followed by 255
  std::vector<std::string> after_m, after_ma, cards;
  bool chosen = Run([&](TFDBHaku& form) {
    Type(form.EdtHaku, "m");
    after_m = Column(form.MasterModel(), 1);
    Type(form.EdtHaku, "a");
    EXPECT_EQ(form.EdtHaku->text().toStdString(), "ma");
    after_ma = Column(form.MasterModel(), 1);
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(1, 0));
    cards = Column(form.DetailModel(), 0);
    // MA Eino has no card: no details, and Enter on it chooses nothing.
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(0, 0));
    EXPECT_EQ(form.DetailModel().rowCount(), 0);
    Key(form.DBGDetail, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_FALSE(chosen);
  EXPECT_EQ(haku.Value, "");
  // No name starts with MAX: empty grids, and Enter chooses nothing.
  chosen = Run([&](TFDBHaku& form) {
    Type(form.EdtHaku, "max");
    EXPECT_EQ(form.MasterModel().rowCount(), 0);
    EXPECT_EQ(form.DetailModel().rowCount(), 0);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_FALSE(chosen);
  EXPECT_EQ(after_ma, (std::vector<std::string>{"MA Eino", "Mattila Aino", "maunula Sanna"}));
  EXPECT_EQ(cards, (std::vector<std::string>{"6390000019010001"}));
  // M: the MA names, Mb and the six names with M and A with diaeresis (after Z in the
  // index), not Lz.
  EXPECT_EQ(after_m.size(), 3u + 1u + 6u);
  EXPECT_EQ(after_m.front(), "MA Eino");
  EXPECT_EQ(after_m[3], "Mb Sanna");
}

TEST_F(SearchDialog, OrderRadioGroupItemsAndTheRememberedOrder) {
  // The card search ends on the number order: the next run starts on it.
  bool chosen = Run([&](TFDBHaku& form) {
    EXPECT_EQ(Column(form.MasterModel(), 0).front(), "1008");  // Heikkinen Ilkka first by name
    Type(form.EdtHaku, "v");
    auto* numero = form.RGOrder->findChildren<QRadioButton*>().at(0);
    EXPECT_EQ(numero->text().toStdString(), "N&umero");
    numero->click();
    EXPECT_EQ(form.OrderIndex(), 0);
    EXPECT_TRUE(form.EdtHaku->text().isEmpty());
    EXPECT_EQ(form.TblMaster.IndexFieldNames(), "AsNo");
    EXPECT_EQ(form.MasterModel().rowCount(), 36);
    EXPECT_EQ(Column(form.MasterModel(), 0).front(), "1001");
    Key(form.DBGMaster, Qt::Key_Escape);
  });
  EXPECT_FALSE(chosen);
  EXPECT_EQ(haku.KeyIndex, 0);
  chosen = Run([&](TFDBHaku& form) {
    EXPECT_EQ(form.OrderIndex(), 0);
    EXPECT_EQ(form.TblMaster.IndexFieldNames(), "AsNo");
    auto numbers = Column(form.MasterModel(), 0);
    ASSERT_EQ(numbers.size(), 36u);
    EXPECT_EQ(numbers.front(), "1001");
    EXPECT_EQ(numbers.back(), "1036");
    // Typing on the number order narrows by the number.
    form.EdtHaku->setText(QString::fromStdString(std::string(11, ' ') + "102"));
    EXPECT_EQ(Column(form.MasterModel(), 0).size(), 10u);
    form.reject();
  });
  EXPECT_FALSE(chosen);

  // One caption: the radio group is hidden. None: the two default choices.
  haku.RGNameList = {"Vain nimi"};
  haku.KeyIndex = 0;
  haku.IndexList = {"AsNimi"};
  Run([&](TFDBHaku& form) {
    EXPECT_TRUE(form.RGOrder->isHidden());
    EXPECT_EQ(form.RGOrder->findChildren<QRadioButton*>().size(), 1);
    EXPECT_EQ(form.OrderIndex(), 0);
    EXPECT_EQ(form.TblMaster.IndexFieldNames(), "AsNimi");
    form.reject();
  });
  haku.RGNameList.clear();
  Run([&](TFDBHaku& form) {
    EXPECT_FALSE(form.RGOrder->isHidden());
    auto buttons = form.RGOrder->findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text().toStdString(), "N&umero");
    EXPECT_EQ(buttons[1]->text().toStdString(), "&Nimi");
    // While a dialog is being set up (not ready) a click changes neither order nor text.
    form.EdtHaku->setText(QStringLiteral("x"));
    TFDBHaku::SetReady(false);
    buttons[1]->click();
    TFDBHaku::SetReady(true);
    EXPECT_EQ(form.EdtHaku->text().toStdString(), "x");
    buttons[0]->click();
    EXPECT_TRUE(form.EdtHaku->text().isEmpty());
    // The second choice has no index line: the order stays and the field empties.
    form.EdtHaku->setText(QStringLiteral("x"));
    buttons[1]->click();
    EXPECT_EQ(form.OrderIndex(), 1);
    EXPECT_EQ(form.TblMaster.IndexFieldNames(), "AsNimi");
    EXPECT_TRUE(form.EdtHaku->text().isEmpty());
    form.reject();
  });
  EXPECT_EQ(haku.KeyIndex, 1);
}

TEST_F(SearchDialog, DefaultsSizingHiddenPanelAndHeaderRules) {
  TDBMDHaku plain;
  EXPECT_EQ(plain.Name(), "DBMDHaku");
  EXPECT_EQ(plain.Database, nullptr);
  EXPECT_TRUE(plain.EnableHaku);
  EXPECT_FALSE(plain.Transliterate);
  EXPECT_EQ(plain.FormHeight, 370);
  EXPECT_EQ(plain.FormWidth, 342);
  EXPECT_EQ(plain.RGLeft, 290);
  EXPECT_EQ(plain.RGWidth, 110);
  EXPECT_EQ(plain.KeyIndex, 0);
  EXPECT_TRUE(plain.MasterTableName.empty() && plain.ValueFld.empty() && plain.Value.empty());

  haku.FormCaption.clear();
  haku.RGCaption.clear();
  haku.FormWidth = 342;
  haku.RGLeft = 290;
  haku.IndexList = {"AsNo", "AsNimi", "AsNo", "AsNimi", "AsNo"};
  haku.MasterHeaders = {"AsNimi", "AsNimi;Nimi", "PostiNo;;Posti"};
  haku.Transliterate = true;
  Run([&](TFDBHaku& form) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Haku");
    EXPECT_EQ(form.RGOrder->title().toStdString(), "J\xC3\xA4rjestys");
    EXPECT_EQ(form.width(), 342);
    EXPECT_EQ(form.RGOrder->x(), 226);
    EXPECT_EQ(form.PanelHaku->height(), 130);
    EXPECT_EQ(form.RGOrder->height(), 125);
    // Table order: AsNimi before PostiNo; the line without two parts is ignored.
    const auto& columns = form.MasterModel().Columns();
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].field, "AsNimi");
    EXPECT_EQ(columns[1].field, "PostiNo");
    EXPECT_EQ(columns[1].title, "Posti");
    EXPECT_TRUE(columns[0].transliterate);
    form.reject();
  });
  EXPECT_EQ(haku.RGLeft, 226);  // the property keeps the adjusted value

  haku.EnableHaku = false;
  Run([&](TFDBHaku& form) {
    EXPECT_TRUE(form.PanelHaku->isHidden());
    EXPECT_TRUE(form.EdtHaku->isHidden());
    EXPECT_TRUE(form.RGOrder->isHidden());
    Key(form.DBGMaster, Qt::Key_Escape);
  });
}

TEST_F(SearchDialog, RowsAreReadInChunksAndAnyRowIsReachedAtTheSameCost) {
  // 1000 more customers, "Asiakas 00001" to "Asiakas 01000": by name they come first.
  testing::FillCustomers(folder.path(), 1000);
  const int chunk = CursorGridModel::kFetchChunk;
  std::vector<uint64_t> fetch_costs, move_costs;
  std::string card;
  bool chosen = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    EXPECT_EQ(master.rowCount(), chunk);
    EXPECT_TRUE(master.canFetchMore({}));
    EXPECT_FALSE(master.canFetchMore(master.index(0, 0)));  // rows have no children
    // Each chunk costs a read and a bookmark per row, and a few requests to go on after
    // the last row and back to the current one.
    for (int i = 0; i < 3; ++i) {
      uint64_t before = transport.requests;
      master.fetchMore({});
      fetch_costs.push_back(transport.requests - before);
    }
    EXPECT_EQ(master.rowCount(), 4 * chunk);
    EXPECT_EQ(master.Cell(4 * chunk - 1, 1), testing::CustomerName(4 * chunk));
    // Moving to a row goes there by its bookmark: row 1 and row 390 cost the same.
    for (int row : {1, 4 * chunk - 10, 2}) {
      uint64_t before = transport.requests;
      form.DBGMaster->setCurrentIndex(master.index(row, 0));
      move_costs.push_back(transport.requests - before);
      EXPECT_EQ(form.TblMaster.FieldByName("AsNimi").AsString(), testing::CustomerName(row + 1));
    }
    card = form.DetailModel().Cell(0, 0);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(haku.Value, testing::CardNumber(3, 1));
  EXPECT_EQ(card, haku.Value);
  ASSERT_EQ(fetch_costs.size(), 3u);
  for (uint64_t cost : fetch_costs) {
    EXPECT_GE(cost, 2u * chunk);
    EXPECT_LE(cost, 2u * chunk + 8);
  }
  ASSERT_EQ(move_costs.size(), 3u);
  EXPECT_EQ(move_costs[0], move_costs[1]);
  EXPECT_EQ(move_costs[0], move_costs[2]);
  EXPECT_LE(move_costs[0], 12u);
}

TEST_F(SearchDialog, FailuresCloseTheTablesAndFreeTheDialog) {
  // A header naming a field that the table lacks: the field-not-found error.
  haku.DetailHeaders = {"KorttiNro;Kortti", "Olematon;X"};
  haku.OnDialogShown = [](TFDBHaku& form) { form.reject(); };
  try {
    haku.RunSearch();
    ADD_FAILURE() << "no error";
  } catch (const EnxDatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("Field 'Olematon' not found"), std::string::npos)
        << error.what();
  }
  // A table that does not exist: the server's error, after the clean-up.
  haku.DetailHeaders = {"KorttiNro;Kortti"};
  haku.DetailTableName = "EIOLE";
  EXPECT_THROW(haku.RunSearch(), EnxDatabaseError);
  // The next run works: nothing was left open.
  haku.DetailTableName = "KORTTI";
  bool chosen = Run([](TFDBHaku& form) { Key(form.DBGDetail, Qt::Key_Return); });
  EXPECT_TRUE(chosen);
  EXPECT_EQ(haku.Value.size(), 16u);

  // A dialog that cannot be made: a beep and false, Value emptied.
  struct Failing : TDBMDHaku {
    std::unique_ptr<TFDBHaku> CreateForm() override { throw std::bad_alloc(); }
  } failing;
  int failing_beeps = 0;
  failing.OnBeep = [&] { ++failing_beeps; };
  failing.Value = "old";
  EXPECT_FALSE(failing.RunSearch());
  EXPECT_EQ(failing_beeps, 1);
  EXPECT_EQ(failing.Value, "");
  EXPECT_EQ(beeps, 0);
}

}  // namespace
}  // namespace vantera
