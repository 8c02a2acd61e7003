// The server-selection dialog, offscreen: its button rules, its OK and its cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/server_selection.h"

namespace vantera {
namespace {

// Runs `act` on the dialog once it is shown modally.
void WhenShown(std::function<void(Tserver_selection_form&)> act) {
  QTimer::singleShot(0, [act] {
    auto* form = qobject_cast<Tserver_selection_form*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    act(*form);
  });
}

TEST(ServerSelection, TheButtonNeedsAChosenLineAndOkNeedsASelection) {
  Tserver_selection_form form;
  EXPECT_EQ(form.windowTitle(), "KantaDB Server Selection");
  EXPECT_EQ(form.size(), QSize(329, 211));
  EXPECT_EQ(form.sel_but->text(), "Seleziona");
  EXPECT_EQ(form.sel_but->geometry(), QRect(122, 9, 75, 25));
  EXPECT_EQ(form.server_list->height(), 167);
  EXPECT_FALSE(form.sel_but->isEnabled());
  form.server_list->addItems({"Alpha@A", "Beta@B"});
  form.show();

  form.server_listDblClick();    // nothing selected: nothing happens
  form.done(QDialog::Accepted);  // OK without a selection is refused
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.sel_but->isEnabled());

  form.server_list->setCurrentRow(1);
  EXPECT_TRUE(form.sel_but->isEnabled());
  form.server_list->setCurrentRow(-1);
  EXPECT_FALSE(form.sel_but->isEnabled());
  form.server_list->setCurrentRow(0);
  form.server_listDblClick();  // presses the enabled button
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(ServerSelection, SelectServerReturnsTheChosenLineOrNothing) {
  const std::vector<std::string> names{"Alpha@A", "P\xE4\xE4@B"};
  std::string chosen = "stale";
  WhenShown([](Tserver_selection_form& form) {
    form.server_list->setCurrentRow(1);
    form.sel_but->click();
  });
  EXPECT_TRUE(SelectServer(names, chosen));
  EXPECT_EQ(chosen, "P\xE4\xE4@B");  // the bytes of the line, unchanged

  WhenShown([](Tserver_selection_form& form) {
    form.server_list->setCurrentRow(0);
    form.reject();  // closed without OK
  });
  DialogServerChooser chooser;
  EXPECT_FALSE(chooser.SelectServer(names, chosen));
  EXPECT_EQ(chosen, "");
}

}  // namespace
}  // namespace vantera
