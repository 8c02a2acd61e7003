#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QEnterEvent>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <csignal>

#include "app/application.h"
#include "app/error_box.h"
#include "app/modal_close.h"
#include "app/status_hints.h"
#include "app/termination_signal.h"
#include "protocol/bounded_wait.h"
#include "tests/app/window_fixture.h"

namespace vantera {
namespace {

using testing::WindowFixture;

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

int LogLines(const QPlainTextEdit* memo) {
  return memo->toPlainText().isEmpty() ? 0 : memo->document()->blockCount();
}

TEST(WindowTest, LayoutHoldsEveryNamedControl) {
  WindowFixture f;
  TfrmVantera& w = f.window();
  EXPECT_EQ(w.windowTitle(), "Vantera");
  EXPECT_EQ(w.size(), QSize(710, 565));

  const char* names[] = {
      "BtnExit",        "OvcNBook",     "OvcTabSeuranta",  "FPGetTemplateX", "BBtnNayte",
      "BBtnSaKeskeyta", "BBtnTyhjenna", "BBtnShowMsg",     "EdtSeAsNo",      "EdtSeKortti",
      "EdtSeAsNimi",    "EdtSeOsoite",  "EdtSePosti",      "MemoSa",         "OvcTabReg",
      "FPRegTemplateX", "BBtnHaku",     "BBtnSormenjalki", "BBtnKeskeyta",   "BBtnTalleta",
      "EdtAsNo",        "EdtKortti",    "EdtAsNimi",       "EdtOsoite",      "EdtPosti",
      "Memo",           "PageSetup",    "ChkBoxDebug",     "StatusLine",     "PanInfo"};
  for (const char* name : names)
    EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;

  const TfrmVanteraUi& ui = f.ui();
  EXPECT_EQ(ui.TopBar->height(), 41);
  EXPECT_EQ(ui.BottomBar->height(), 26);
  EXPECT_EQ(ui.PanInfo->width(), 147);
  ASSERT_EQ(ui.OvcNBook->count(), 3);
  EXPECT_EQ(ui.OvcNBook->tabText(0), "Seuranta");
  EXPECT_EQ(ui.OvcNBook->tabText(1), Utf8("Rekisteröinti"));
  EXPECT_EQ(ui.OvcNBook->tabText(2), "Asetukset");
  EXPECT_EQ(ui.OvcNBook->widget(0), ui.OvcTabSeuranta);
  EXPECT_EQ(ui.OvcNBook->widget(1), ui.OvcTabReg);
  EXPECT_EQ(ui.OvcNBook->widget(2), ui.PageSetup);
  EXPECT_EQ(ui.BBtnNayte->text(), Utf8("Näyte"));
  EXPECT_EQ(ui.BBtnSaKeskeyta->text(), Utf8("Keskeytä"));
  EXPECT_EQ(ui.BBtnTyhjenna->text(), Utf8("Tyhjennä"));
  EXPECT_EQ(ui.BBtnShowMsg->text(), "Viestit");
  EXPECT_EQ(ui.BBtnHaku->text(), "Haku");
  EXPECT_EQ(ui.BBtnSormenjalki->text(), Utf8("Lue sormenjälki"));
  EXPECT_EQ(ui.BBtnTalleta->text(), "Talleta");
  EXPECT_EQ(ui.ChkBoxDebug->text(), Utf8("Näytä viestit"));
  EXPECT_FALSE(ui.ChkBoxDebug->isChecked());
  for (QLineEdit* e : {ui.EdtSeAsNo, ui.EdtSePosti, ui.EdtAsNo, ui.EdtPosti})
    EXPECT_TRUE(e->isReadOnly());
  for (QPlainTextEdit* m : {ui.MemoSa, ui.Memo}) {
    EXPECT_TRUE(m->isReadOnly());
    EXPECT_EQ(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(m->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }
  // Timers: 60 s for enrolment and capture, all off before start-up.
  EXPECT_EQ(w.TimerRegTimeOut().Interval(), 60000);
  EXPECT_EQ(w.TimerGetTimeOut().Interval(), 60000);
  for (WindowTimer* t : {&w.TimerRegTimeOut(), &w.TimerGetTimeOut(), &w.TimerPingTime()})
    EXPECT_FALSE(t->Enabled()) << t->Name();
}

TEST(WindowTest, StartUpShowsVersionAndLeavesTheWindowReady) {
  WindowFixture f("[MessageSrv]\nPingTime=0\n");
  f.window().FormCreate();
  const TfrmVanteraUi& ui = f.ui();
  EXPECT_EQ(ui.PanInfo->text(), "Versio 3.0.5.0");
  EXPECT_TRUE(ui.Memo->isHidden());
  EXPECT_FALSE(ui.BBtnSormenjalki->isEnabled());
  EXPECT_FALSE(ui.BBtnTalleta->isEnabled());
  EXPECT_TRUE(ui.BBtnHaku->isEnabled());
  EXPECT_TRUE(ui.OvcNBook->isEnabled());
  EXPECT_FALSE(f.window().TerminationRequested());
  // PingTime 0: the ping timer is enabled but never fires.
  EXPECT_TRUE(f.window().TimerPingTime().Enabled());
  EXPECT_EQ(f.window().TimerPingTime().Interval(), 0);
  EXPECT_FALSE(f.window().TimerPingTime().Running());
  EXPECT_TRUE(f.window().TimerGetTimeOut().Running());
  EXPECT_FALSE(f.window().TimerRegTimeOut().Enabled());
  EXPECT_EQ(f.window().CurrentSettings().client_name, "Vantera01");
  EXPECT_TRUE(f.boxes().empty());
}

TEST(WindowTest, MessageDisplayShowsMemoAndGatesOptionalLines) {
  WindowFixture f;
  TfrmVantera& w = f.window();
  w.FormCreate();
  const TfrmVanteraUi& ui = f.ui();

  w.WriteLog("optional", false);
  EXPECT_EQ(LogLines(ui.MemoSa), 0);
  w.WriteLog("always \xE4", true);
  EXPECT_EQ(ui.MemoSa->toPlainText(), Utf8("always ä"));

  ui.ChkBoxDebug->click();  // the operator checks "Näytä viestit"
  EXPECT_TRUE(w.Log().MessageDisplay());
  EXPECT_FALSE(ui.Memo->isHidden());
  w.WriteLog("optional", false);
  EXPECT_EQ(LogLines(ui.MemoSa), 2);

  w.Log().SetMessageDisplay(false);  // as the message server's "ShowLog" command does
  EXPECT_FALSE(ui.ChkBoxDebug->isChecked());
  EXPECT_TRUE(ui.Memo->isHidden());
  ui.ChkBoxDebug->setChecked(true);
  EXPECT_TRUE(w.Log().MessageDisplay());
  EXPECT_FALSE(ui.Memo->isHidden());

  ui.BBtnTyhjenna->click();
  EXPECT_EQ(LogLines(ui.MemoSa), 0);
  EXPECT_EQ(w.Log().LineCount(), 0u);
}

TEST(WindowTest, LogListFollowsThe500LineRule) {
  WindowFixture f;
  TfrmVantera& w = f.window();
  w.FormCreate();
  for (int i = 1; i <= 501; ++i)
    w.WriteLog("line " + std::to_string(i), true);
  EXPECT_EQ(LogLines(f.ui().MemoSa), 501);
  w.WriteLog("two\r\nparts", true);
  EXPECT_EQ(LogLines(f.ui().MemoSa), 1);
  EXPECT_EQ(f.ui().MemoSa->toPlainText(), "two  parts");
  EXPECT_EQ(w.Log().Lines()[0], "two\r\nparts");
}

// Moves the "mouse" onto a widget, or off it back to its parent.
void Enter(QWidget* widget) {
  QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(widget, &event);
}
void Leave(QWidget* widget) {
  QEvent event(QEvent::Leave);
  QApplication::sendEvent(widget, &event);
}

TEST(WindowTest, StatusLineShowsTheNearestHint) {
  WindowFixture f;
  f.window().FormCreate();
  const TfrmVanteraUi& ui = f.ui();
  auto status = [&] { return ui.StatusLine->text(); };

  Enter(ui.BtnExit);
  EXPECT_EQ(status(), "Sulje ohjelma.");
  Enter(ui.TopBar);
  EXPECT_EQ(status(), "");
  Enter(ui.BBtnNayte);  // no hint of its own: its tab page's
  EXPECT_EQ(status(), Utf8("Sormenjäljen tunnistus."));
  Enter(ui.BBtnHaku);
  EXPECT_EQ(status(), "Asiakkaan ja kortin haku.");
  Leave(ui.BBtnHaku);  // back over the page
  EXPECT_EQ(status(), Utf8("Asiakkaan sormenjäljen rekisteröinti."));
  Enter(ui.BBtnSormenjalki);
  EXPECT_EQ(status(), Utf8("Lue sormenjälki."));
  Enter(ui.EdtAsNo);
  EXPECT_EQ(status(), Utf8("Asiakkaan sormenjäljen rekisteröinti."));
  Enter(ui.ChkBoxDebug);  // "Asetukset" has none: the notebook's
  EXPECT_EQ(status(), Utf8("Sormenjäljen tunnistus."));
  Enter(ui.PanInfo);
  EXPECT_EQ(status(), "");
  Enter(ui.BtnExit);
  Leave(&f.window());
  EXPECT_EQ(status(), "");

  for (QWidget* w : f.window().findChildren<QWidget*>())
    EXPECT_TRUE(w->toolTip().isEmpty()) << w->objectName().toStdString();
  EXPECT_EQ(StatusTextOfHint("tip|status"), "status");
  EXPECT_EQ(StatusTextOfHint("both"), "both");
  EXPECT_EQ(StatusTextOfHint("|a|b"), "a|b");
}

TEST(WindowTest, ErrorBoxIsModalWithOnlyAbort) {
  QString text;
  QMessageBox::StandardButtons buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    text = box->text();
    buttons = box->standardButtons();
    box->button(QMessageBox::Abort)->click();
  });
  MessageErrorBox().ShowAbortError("Yhteys TARVOLA-kantaan ei onnistu. \xC4");
  EXPECT_EQ(text, Utf8("Yhteys TARVOLA-kantaan ei onnistu. Ä"));
  EXPECT_EQ(buttons, QMessageBox::Abort);
}

TEST(WindowTest, HandlerErrorsReachTheApplicationsReportAndTheProgramGoesOn) {
  auto* app = static_cast<Application*>(QApplication::instance());
  std::vector<std::string> shown;
  app->SetErrorBox(std::make_unique<testing::RecordingErrorBox>(&shown));
  bool later_event_ran = false;
  QTimer::singleShot(0, [] { throw std::runtime_error("Talleta ep\xE4onnistui"); });
  QTimer::singleShot(0, [&] { later_event_ran = true; });
  for (int i = 0; i < 20 && !later_event_ran; ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  app->SetErrorBox(std::make_unique<MessageErrorBox>());
  EXPECT_EQ(shown, std::vector<std::string>{"error: Talleta ep\xE4onnistui"});
  EXPECT_TRUE(later_event_ran);
}

TEST(WindowTest, TerminationSignalClosesTheWindowOnTheGuiThread) {
  WindowFixture f;
  f.window().FormCreate();
  f.window().show();
  {
    TerminationSignals system_close([&f] { f.window().close(); });
    EXPECT_THROW(TerminationSignals([] {}), std::logic_error);  // one at a time
    ASSERT_EQ(std::raise(SIGTERM), 0);
    for (int i = 0; i < 100 && f.window().isVisible(); ++i)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(f.window().isVisible());
    EXPECT_FALSE(f.window().TimerGetTimeOut().Enabled());  // the shut-down order ran
  }
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  EXPECT_TRUE(DatabaseWaitsInterrupted());  // a blocked database call would have ended
  ResetDatabaseWaitInterrupt();             // the later tests of this process wait as usual
}

// A termination signal while a modal dialog runs (the card search, an error box): the dialog
// is dismissed and the shut-down order runs only after the handler that opened it has
// returned, not under it while it still holds the database's tables.
TEST(WindowTest, SystemCloseDuringAModalDialogWaitsForItsHandler) {
  WindowFixture f;
  f.window().FormCreate();
  f.window().show();
  std::vector<std::string> order;
  QEventLoop main_loop;  // in the place of the application's loop: level 1
  TerminationSignals system_close([&] {
    CloseOutsideModalLoops(&f.window(), 1, [&] {
      order.push_back("close");
      f.window().close();
      main_loop.quit();
    });
  });
  // The handler opens a dialog, and inside it a box; the signal comes while the box runs.
  QTimer::singleShot(0, &f.window(), [&] {
    QDialog dialog(&f.window());
    dialog.setModal(true);
    QTimer::singleShot(5000, &dialog, &QDialog::reject);  // bounds the test
    QTimer::singleShot(0, &dialog, [&] {
      QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantera"), QStringLiteral("x"),
                      QMessageBox::Abort, &dialog);
      QTimer::singleShot(5000, &box, &QDialog::reject);
      QTimer::singleShot(0, &box, [] { std::raise(SIGTERM); });
      box.exec();
      order.push_back("box returned");
    });
    dialog.exec();
    order.push_back(f.window().TimerGetTimeOut().Enabled() ? "dialog returned, running"
                                                           : "dialog returned, shut down");
  });
  QTimer::singleShot(10000, &main_loop, &QEventLoop::quit);
  main_loop.exec();
  ResetDatabaseWaitInterrupt();
  EXPECT_EQ(order, (std::vector<std::string>{"box returned", "dialog returned, running", "close"}));
  EXPECT_FALSE(f.window().isVisible());
  EXPECT_FALSE(f.window().TimerGetTimeOut().Enabled());
}

}  // namespace
}  // namespace vantera
