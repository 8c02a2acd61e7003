// The main window's card search against the real kantadb-server with its demo data, over
// TCP on loopback, offscreen.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>

#include <QApplication>
#include "dbclient/nxDbEngine.h"
#include "fingerprint/DbMdHak.h"
#include "fingerprint/DbMdHakForm.h"
#include "fingerprint/cursor_grid_model.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

void Key(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
}

TEST(CardSearchOverTcp, NarrowsByNameAndReturnsTheChosenCard) {
  testing::TempFolder folder;
  testing::ServerProcess server({"--data", folder.Sub("data"), "--no-discovery", "--demo-data"});
  TnxDbEng eng;
  eng.Values.ServerName = "Main";
  eng.Values.ServerAddress = "127.0.0.1";
  eng.Values.Port = server.Port();
  eng.OpenConnection(1, "Tarvola");
  eng.nxSession.Open();

  TDBMDHaku haku;
  ConfigureCardSearch(haku, &eng.nxDatabase);
  haku.RetFldList = {"KorttiLyh"};
  int masters = -1;
  std::string second_name;
  haku.OnDialogShown = [&](TFDBHaku& form) {
    for (char c : std::string("hei"))
      Key(form.EdtHaku, Qt::Key_A + (c - 'a'), QString(QChar(c)));
    masters = form.MasterModel().rowCount();
    if (masters == 2)
      second_name = form.MasterModel().Cell(1, 1);
    form.DBGMaster->setCurrentIndex(form.MasterModel().index(1, 0));
    Key(form.DBGDetail, Qt::Key_Return);
  };
  std::optional<std::string> card = haku.Execute();
  EXPECT_EQ(masters, 2);
  EXPECT_EQ(second_name, "Heikkinen Matti");
  EXPECT_EQ(card, "6390000010240001");  // customer 1024's only card
  EXPECT_EQ(haku.RetValList, (TextLines{"102401"}));

  eng.CloseConnection(1);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace vantera
