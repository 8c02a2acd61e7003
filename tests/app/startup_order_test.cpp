#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <stdexcept>

#include "protocol/nxllException.h"
#include "tests/app/window_fixture.h"

namespace vantera {
namespace {

using testing::WindowFixture;
using Steps = std::vector<std::string>;

// Every working part in one recorder: each step appends its name (with its arguments) and
// a few observations of the window at that moment.
struct Recorder {
  Steps steps;
  TfrmVantera* window = nullptr;
  std::function<void(const std::string& step)> fail_at;

  void Step(const std::string& name) {
    steps.push_back(name);
    if (fail_at)
      fail_at(name);
  }
  // "timers on" when any of the three is enabled.
  std::string Timers() const {
    bool any = window->TimerRegTimeOut().Enabled() || window->TimerGetTimeOut().Enabled() ||
               window->TimerPingTime().Enabled();
    return any ? "timers on" : "timers off";
  }
};

struct RecordingDatabase : DatabaseModule {
  explicit RecordingDatabase(Recorder* recorder) : r(recorder) {}
  void CreateDbEngine() override { r->Step("CreateDbEngine"); }
  void StoreConnectionValues(const DbConnectionValues& v) override {
    r->Step("StoreConnectionValues " + v.ServerName + " " + std::to_string(v.Port) + " " +
            std::to_string(v.CompressLimit) + " " + (v.SecuredTransport ? "yes " : "no ") + v.Key);
  }
  void OpenConnection(uint32_t kind, const std::string& alias) override {
    r->Step("OpenConnection " + std::to_string(kind) + " " + alias);
  }
  void OpenSession() override { r->Step("OpenSession"); }
  void CloseConnection(int32_t kind) override {
    r->Step("CloseConnection " + std::to_string(kind));
  }
  void ReleaseDbEngine() override { r->Step("ReleaseDbEngine"); }
  Recorder* r;
};

struct RecordingFingerprint : FingerprintControls {
  explicit RecordingFingerprint(Recorder* recorder) : r(recorder) {}
  void InitEnrolmentControl() override {
    r->Step("InitEnrolmentControl (" + r->window->ui().PanInfo->text().toStdString() + ")");
  }
  void SetCaptureOwnerWindow(int32_t kind, uintptr_t window) override {
    r->Step("SetCaptureOwnerWindow " + std::to_string(kind) + (window != 0 ? " handle" : " none"));
  }
  void InitCaptureControl() override { r->Step("InitCaptureControl"); }
  void StartCapture() override { r->Step("StartCapture " + r->Timers()); }
  void StopEnrolmentControl() override { r->Step("StopEnrolmentControl " + r->Timers()); }
  void StopCaptureControl() override { r->Step("StopCaptureControl"); }
  Recorder* r;
};

struct RecordingMessages : MessageLink {
  explicit RecordingMessages(Recorder* recorder) : r(recorder) {}
  void OpenMessageTable() override {
    const TfrmVanteraUi& ui = r->window->ui();
    r->Step(
        "OpenMessageTable ping=" + std::to_string(r->window->TimerPingTime().Interval()) +
        (ui.EdtAsNo->text().isEmpty() && ui.EdtSeAsNo->text().isEmpty() ? " cleared" : " full") +
        (ui.Memo->isHidden() ? " memo hidden" : " memo shown"));
  }
  void ConnectMsgServer() override { r->Step("ConnectMsgServer"); }
  void CloseSocket() override { r->Step("CloseSocket"); }
  void CloseMessageTable() override { r->Step("CloseMessageTable"); }
  Recorder* r;
};

class StartupOrderTest : public ::testing::Test {
 protected:
  void Plug(WindowFixture& f) {
    recorder_.window = &f.window();
    WorkstationParts parts;
    parts.database = std::make_unique<RecordingDatabase>(&recorder_);
    parts.fingerprint = std::make_unique<RecordingFingerprint>(&recorder_);
    parts.messages = std::make_unique<RecordingMessages>(&recorder_);
    f.window().SetParts(std::move(parts));
    // Filled fields show whether start-up clears them.
    f.ui().EdtAsNo->setText("x");
    f.ui().EdtSeAsNo->setText("x");
    f.ui().BBtnTalleta->setEnabled(true);
  }
  Steps Take() { return std::exchange(recorder_.steps, {}); }

  Recorder recorder_;
};

const Steps kStartUp = {
    "CreateDbEngine",
    "StoreConnectionValues  16000 512 no ?",
    "InitEnrolmentControl (Versio 3.0.5.0)",
    "SetCaptureOwnerWindow 1 handle",
    "InitCaptureControl",
    "OpenConnection 3 TARVOLA",
    "OpenSession",
    "OpenMessageTable ping=180000 cleared memo hidden",
    "ConnectMsgServer",
    "StartCapture timers off",
};

TEST_F(StartupOrderTest, StartUpRunsEveryStepInOrder) {
  WindowFixture f;
  Plug(f);
  f.window().FormCreate();
  EXPECT_EQ(Take(), kStartUp);
  EXPECT_TRUE(f.window().TimerGetTimeOut().Running());
  EXPECT_TRUE(f.window().TimerPingTime().Running());
  EXPECT_FALSE(f.ui().BBtnTalleta->isEnabled());
  EXPECT_THROW(f.window().SetParts({}), std::logic_error);
  EXPECT_THROW(f.window().FormCreate(), std::logic_error);

  WindowFixture g(
      "[DataBase]\nAlias=KANTA\nEngine=TCPIP\nServerName=S\nPort=16001\nSecuredTransport=yes\n");
  Plug(g);
  g.window().FormCreate();
  Steps steps = Take();
  EXPECT_EQ(steps[1], "StoreConnectionValues S 16001 512 yes ?");
  EXPECT_EQ(steps[5], "OpenConnection 1 KANTA");
  g.window().close();
  EXPECT_EQ(Take().at(4), "CloseConnection 1");
}

TEST_F(StartupOrderTest, ExitButtonAndCloseBoxRunTheShutDownOrder) {
  WindowFixture f;
  Plug(f);
  f.window().FormCreate();
  Take();
  f.ui().BtnExit->click();
  EXPECT_EQ(Take(), (Steps{"StopEnrolmentControl timers off", "StopCaptureControl",
                           "StopEnrolmentControl timers off", "StopCaptureControl", "CloseSocket",
                           "CloseMessageTable", "CloseConnection 3", "ReleaseDbEngine"}));
  f.window().close();  // closing again runs nothing
  EXPECT_TRUE(Take().empty());

  WindowFixture g;
  Plug(g);
  g.window().FormCreate();
  Take();
  g.window().close();
  EXPECT_EQ(Take(), (Steps{"StopEnrolmentControl timers off", "StopCaptureControl", "CloseSocket",
                           "CloseMessageTable", "CloseConnection 3", "ReleaseDbEngine"}));
}

TEST_F(StartupOrderTest, DatabaseErrorShowsTheBoxAndEndsWithoutCloseSteps) {
  for (const char* failing : {"OpenSession", "OpenConnection 3 TARVOLA"}) {
    WindowFixture f;
    Plug(f);
    recorder_.fail_at = [failing](const std::string& step) {
      if (step == failing)
        throw EnxDatabaseError(nullptr, 10036);  // "Unknown user name or password."
    };
    f.window().FormCreate();
    ASSERT_EQ(f.boxes().size(), 1u) << failing;
    EXPECT_EQ(f.boxes()[0], "Yhteys TARVOLA-kantaan ei onnistu. Unknown user name or password.");
    EXPECT_TRUE(f.window().TerminationRequested());
    EXPECT_EQ(f.window().ExitCode(), 1);

    // The remaining start-up steps still ran.
    Steps steps = Take();
    EXPECT_EQ(steps.back(), "StartCapture timers off");
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "OpenSession"),
              std::string(failing) == "OpenSession" ? 1 : 0);

    f.window().close();
    EXPECT_TRUE(Take().empty()) << "no close steps after a termination request";
    recorder_.fail_at = nullptr;
  }
}

TEST_F(StartupOrderTest, OtherErrorsLeaveStartUpAtTheFailedStep) {
  WindowFixture f;
  Plug(f);
  recorder_.fail_at = [](const std::string& step) {
    if (step == "OpenSession")
      throw EnxTransportException(nullptr, 11278);  // not a database error
  };
  EXPECT_THROW(f.window().FormCreate(), EnxTransportException);
  EXPECT_TRUE(f.boxes().empty());
  Steps steps = Take();
  EXPECT_EQ(steps.back(), "OpenSession");
  EXPECT_EQ(f.ui().EdtAsNo->text(), "x");  // steps 7 to 14 not done
  EXPECT_FALSE(f.window().TimerGetTimeOut().Enabled());
  EXPECT_FALSE(f.window().TimerPingTime().Enabled());
  f.window().close();
  EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace vantera
