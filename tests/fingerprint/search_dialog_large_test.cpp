// The card search over 5000 customers on the real kantadb-server (TCP on loopback,
// offscreen): rows are read as the grid scrolls, every row reaches its own record, and
// another counter inserting or deleting records while the dialog is open does not change
// the card that a row returns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

#include "dbclient/nxDbEngine.h"
#include "fingerprint/DbMdHak.h"
#include "fingerprint/DbMdHakForm.h"
#include "fingerprint/cursor_grid_model.h"
#include "server/engine/data_folder.h"
#include "tests/fingerprint/customer_rows.h"
#include "tests/fingerprint/search_data.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::CardNumber;
using testing::CustomerName;
using testing::ShortNumber;
using testing::StoredNumber;

constexpr int kCustomers = 5000;
constexpr int kChunk = CursorGridModel::kFetchChunk;

void Key(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

std::string PreparedFolder(const testing::TempFolder& folder) {
  std::string data = folder.Sub("data");
  PrepareDataFolder(data, nxtShortString);
  testing::FillCustomers(data, kCustomers);
  return data;
}

void Connect(TnxDbEng& eng, uint16_t port) {
  eng.Values.ServerName = "Main";
  eng.Values.ServerAddress = "127.0.0.1";
  eng.Values.Port = port;
  eng.OpenConnection(1, "Tarvola");
  eng.nxSession.Open();
}

class CardSearchOverManyCustomers : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::string data = PreparedFolder(folder);
  testing::ServerProcess server{{"--data", data, "--no-discovery"}};
  TnxDbEng counter;  // the workstation whose operator searches
  TnxDbEng other;    // another counter writing meanwhile
  TDBMDHaku haku;

  void SetUp() override {
    Connect(counter, server.Port());
    Connect(other, server.Port());
    ConfigureCardSearch(haku, &counter.nxDatabase);
    haku.RetFldList = {"KorttiLyh"};
  }

  void TearDown() override {
    counter.CloseConnection(1);
    other.CloseConnection(1);
    EXPECT_EQ(server.Stop(), 0);
  }

  // The other counter adds a customer with one card.
  void OtherAddsCustomer(const std::string& as_no, const std::string& name, const std::string& card,
                         const std::string& short_no) {
    testing::AppendCustomerRow(other.nxDatabase, as_no, name);
    testing::AppendCardRow(other.nxDatabase, as_no, card, short_no);
  }

  // The other counter deletes the record of `table` whose `field` holds `value`.
  void OtherDeletes(const char* table, const char* field, const std::string& value) {
    TnxTable t("TblOther");
    t.SetDatabase(&other.nxDatabase);
    t.SetTableName(table);
    t.SetIndexFieldNames(field);
    t.Open();
    ASSERT_TRUE(t.FindByKey({value})) << table << " " << value;
    t.Delete();
    t.Close();
  }

  // Runs the dialog with `drive`, which must close it.
  std::optional<std::string> Run(const std::function<void(TFDBHaku&)>& drive) {
    bool driven = false;
    haku.OnDialogShown = [&](TFDBHaku& form) {
      driven = true;
      drive(form);
      if (form.isVisible()) {
        ADD_FAILURE() << "the dialog stayed open";
        form.reject();
      }
    };
    std::optional<std::string> value = haku.Execute();
    EXPECT_TRUE(driven);
    return value;
  }
};

TEST_F(CardSearchOverManyCustomers, ScrollingReadsEveryRowAndTheLastRowReturnsItsCard) {
  int first_rows = -1;
  std::vector<std::string> names;
  std::string detail_of_last;
  auto card = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    QApplication::processEvents();
    // Only what the grid shows is read at first, not the whole table.
    first_rows = master.rowCount();
    EXPECT_TRUE(master.canFetchMore({}));
    // Scrolling to the bottom again and again reads chunk after chunk (bounded loop).
    for (int i = 0; i < 4 * kCustomers / kChunk && master.canFetchMore({}); ++i) {
      form.DBGMaster->scrollToBottom();
      QApplication::processEvents();
    }
    EXPECT_FALSE(master.canFetchMore({}));
    ASSERT_EQ(master.rowCount(), kCustomers);
    for (int row = 0; row < master.rowCount(); ++row)
      names.push_back(master.Cell(row, 1));
    // Moving to the last row puts the cursors on its customer and card.
    form.DBGMaster->setCurrentIndex(master.index(kCustomers - 1, 0));
    EXPECT_EQ(master.CurrentRow(), kCustomers - 1);
    EXPECT_EQ(form.TblMaster.FieldByName("AsNimi").AsString(), CustomerName(kCustomers));
    ASSERT_EQ(form.DetailModel().rowCount(), 1);
    detail_of_last = form.DetailModel().Cell(0, 1);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_GT(first_rows, 0);
  EXPECT_LE(first_rows, 2 * kChunk);
  ASSERT_EQ(names.size(), static_cast<size_t>(kCustomers));
  for (int i = 0; i < kCustomers; ++i)
    ASSERT_EQ(names[static_cast<size_t>(i)], CustomerName(i + 1)) << i;
  EXPECT_EQ(detail_of_last, ShortNumber(kCustomers, 1));
  EXPECT_EQ(card, CardNumber(kCustomers, 1));
  EXPECT_EQ(haku.RetValList, (TextLines{ShortNumber(kCustomers, 1)}));

  // The same through the model's own reading, on the number order, row 4999 from a
  // standing start.
  haku.KeyIndex = 0;
  card = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    for (int i = 0; i < kCustomers && master.rowCount() < kCustomers; ++i)
      master.fetchMore({});
    ASSERT_EQ(master.rowCount(), kCustomers);
    EXPECT_EQ(master.Cell(kCustomers - 1, 0), StoredNumber(kCustomers));
    form.DBGMaster->setCurrentIndex(master.index(kCustomers - 1, 0));
    Key(form.DBGDetail, Qt::Key_Enter);
  });
  EXPECT_EQ(card, CardNumber(kCustomers, 1));
}

TEST_F(CardSearchOverManyCustomers, AnInsertBeforeTheChosenRowDoesNotShiftTheCardReturned) {
  // The dialog lists by name; another counter then adds a customer whose name comes
  // between rows 30 and 31, and one after the rows read so far. The operator picks row 60
  // ("Asiakas 00061") and then the customer that came in after the rows read.
  std::string shown;
  std::string late_name;
  auto card = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    ASSERT_GT(master.rowCount(), 61);
    ASSERT_LT(master.rowCount(), 1000);
    OtherAddsCustomer("900001", CustomerName(31) + " B", "6390900001000001", "90000101");
    OtherAddsCustomer("900002", CustomerName(1500) + " B", "6390900002000001", "90000201");
    form.DBGMaster->setCurrentIndex(master.index(60, 0));
    shown = master.Cell(60, 1);
    EXPECT_EQ(form.TblMaster.FieldByName("AsNimi").AsString(), shown);
    ASSERT_EQ(form.DetailModel().rowCount(), 1);
    EXPECT_EQ(form.DetailModel().Cell(0, 0), CardNumber(61, 1));
    // Reading on: the later customer is listed in its place, the earlier one is not
    // (it came before the rows read), and nothing is listed twice.
    for (int i = 0; i < kCustomers && master.canFetchMore({}); ++i)
      master.fetchMore({});
    ASSERT_EQ(master.rowCount(), kCustomers + 1);
    late_name = master.Cell(1500, 1);
    EXPECT_EQ(master.Cell(1499, 1), CustomerName(1500));
    EXPECT_EQ(master.Cell(1501, 1), CustomerName(1501));
    // Reading on left the cursors on the operator's row.
    EXPECT_EQ(master.CurrentRow(), 60);
    EXPECT_EQ(form.TblMaster.FieldByName("AsNimi").AsString(), shown);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_EQ(shown, CustomerName(61));
  EXPECT_EQ(card, CardNumber(61, 1));
  EXPECT_EQ(late_name, CustomerName(1500) + " B");

  card = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    // Now both new customers are listed from the start: row 31 is the first of them.
    EXPECT_EQ(master.Cell(31, 1), CustomerName(31) + " B");
    OtherAddsCustomer("900003", CustomerName(10) + " B", "6390900003000001", "90000301");
    form.DBGMaster->setCurrentIndex(master.index(31, 0));
    Key(form.DBGDetail, Qt::Key_Return);
  });
  EXPECT_EQ(card, "6390900001000001");
  EXPECT_EQ(haku.RetValList, (TextLines{"90000101"}));
}

TEST_F(CardSearchOverManyCustomers, DeletedRecordsAreNeverChosenInTheirPlace) {
  // Customer 1 has three cards. While the dialog shows them, another counter deletes the
  // first: the second row still returns the second card, and the deleted card's row
  // returns nothing.
  std::vector<std::string> cards;
  auto card = Run([&](TFDBHaku& form) {
    CursorGridModel& detail = form.DetailModel();
    ASSERT_EQ(detail.rowCount(), 3);
    for (int row = 0; row < 3; ++row)
      cards.push_back(detail.Cell(row, 0));
    OtherDeletes("KORTTI", "KorttiNro", CardNumber(1, 1));
    form.DBGDetail->setCurrentIndex(detail.index(2, 0));
    form.DBGDetail->setCurrentIndex(detail.index(1, 0));
    EXPECT_EQ(detail.CurrentRow(), 1);
    EXPECT_EQ(form.TblDetail.FieldByName("KorttiNro").AsString(), CardNumber(1, 2));
    Key(form.DBGDetail, Qt::Key_Return);
  });
  EXPECT_EQ(cards,
            (std::vector<std::string>{CardNumber(1, 1), CardNumber(1, 2), CardNumber(1, 3)}));
  EXPECT_EQ(card, CardNumber(1, 2));

  card = Run([&](TFDBHaku& form) {
    CursorGridModel& detail = form.DetailModel();
    ASSERT_EQ(detail.rowCount(), 2);
    OtherDeletes("KORTTI", "KorttiNro", CardNumber(1, 2));
    Key(form.DBGDetail, Qt::Key_Return);  // the first row's card is gone
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(card, std::nullopt);
  EXPECT_EQ(haku.Value, "");

  // The customer of the last row read is deleted before the grid reads on: reading goes
  // on after the row before it, without a gap or a row twice. A deleted customer's row
  // clears the cards and chooses nothing.
  std::vector<std::string> names;
  card = Run([&](TFDBHaku& form) {
    CursorGridModel& master = form.MasterModel();
    int last = master.rowCount() - 1;
    ASSERT_GT(last, 10);
    std::string last_name = master.Cell(last, 1);
    OtherDeletes("ASIAKAS", "AsNo", StoredNumber(last + 1));
    OtherDeletes("ASIAKAS", "AsNo", StoredNumber(5));
    master.fetchMore({});
    for (int row = 0; row < master.rowCount(); ++row)
      names.push_back(master.Cell(row, 1));
    EXPECT_EQ(last_name, CustomerName(last + 1));
    form.DBGMaster->setCurrentIndex(master.index(4, 0));
    EXPECT_EQ(master.CurrentRow(), -1);
    EXPECT_EQ(form.DetailModel().rowCount(), 0);
    Key(form.DBGMaster, Qt::Key_Return);
  });
  EXPECT_EQ(card, std::nullopt);
  ASSERT_EQ(names.size(), static_cast<size_t>(2 * kChunk));
  // Rows read before the deletes keep their texts (customer 5 and the last one); the rows
  // read after them go on with the customer after the deleted last one.
  for (int i = 0; i < 2 * kChunk; ++i)
    ASSERT_EQ(names[static_cast<size_t>(i)], CustomerName(i + 1)) << i;
}

}  // namespace
}  // namespace vantera
