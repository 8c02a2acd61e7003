#include "app/Main.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <climits>
#include <iostream>
#include <stdexcept>

#include "app/qt_text.h"
#include "app/status_hints.h"
#include "app/version.h"
#include "core/win1252.h"
#include "protocol/nxllException.h"

namespace vantera {
namespace {

// The exit code of a program that ends because start-up failed.
constexpr int kStartupFailedExitCode = 1;

// One list line per log entry: line breaks inside an entry are shown as blanks.
QString LogLineForDisplay(const std::string& line) {
  std::string shown = line;
  for (char& c : shown) {
    if (c == '\r' || c == '\n')
      c = ' ';
  }
  return ToDisplay(shown);
}

}  // namespace

int PingIntervalMs(int32_t seconds) {
  if (seconds <= 0)
    return 0;
  constexpr int32_t kMaxSeconds = INT_MAX / 1000;
  return (seconds > kMaxSeconds ? kMaxSeconds : seconds) * 1000;
}

TfrmVantera::TfrmVantera(TfrmVanteraOptions options)
    : settings_path_(std::move(options.settings_path)), error_box_(std::move(options.error_box)) {
  setObjectName(QStringLiteral("frmVantera"));
  setWindowTitle(QStringLiteral("Vantera"));
  resize(710, 565);
  BuildMainWindowLayout(this, ui_);
  log_.SetView(this);
  status_hints_ = new StatusHints([this](const std::string& text) { ShowHint(text); }, this);

  connect(ui_.BtnExit, &QPushButton::clicked, this, [this] { BtnExitClick(); });
  connect(ui_.BBtnTyhjenna, &QPushButton::clicked, this, [this] { BBtnTyhjennaClick(); });
  connect(ui_.ChkBoxDebug, &QCheckBox::toggled, this,
          [this](bool checked) { log_.SetMessageDisplay(checked); });
}

// The parts go first, in the reverse order of their start, while the log, the timers and
// the controls they may still touch exist.
TfrmVantera::~TfrmVantera() {
  parts_.messages.reset();
  parts_.fingerprint.reset();
  parts_.database.reset();
  log_.SetView(nullptr);
}

void TfrmVantera::SetParts(WorkstationParts parts) {
  if (form_created_)
    throw std::logic_error("the working parts are plugged in before start-up");
  parts_ = std::move(parts);
}

// ---- Start-up ----

void TfrmVantera::FormCreate() {
  if (form_created_)
    throw std::logic_error("start-up runs once");
  form_created_ = true;
  RouteHintsToStatusLine();             // 1
  parts_.database->CreateDbEngine();    // 2
  ReadSettings();                       // 3
  ShowVersion();                        // 4
  InitFingerprintControls();            // 5
  OpenDatabase();                       // 6
  ClearEnrolmentTab();                  // 7
  ClearIdentificationResults();         // 8
  ChkBoxDebugClick();                   // 9: Memo shown only with message display
  SetPingInterval();                    // 10
  parts_.messages->OpenMessageTable();  // 11: opened and emptied
  parts_.messages->ConnectMsgServer();  // 12: completes later through socket events
  parts_.fingerprint->StartCapture();   // 13: first identification capture armed
  EnableStartTimers();                  // 14
  if (!termination_requested_)
    phase_ = Phase::kRunning;
}

void TfrmVantera::RouteHintsToStatusLine() {
  status_hints_->Install();
}

void TfrmVantera::ReadSettings() {
  settings_ = vantera::ReadSettings(info_ini_, settings_path_);
  parts_.database->StoreConnectionValues(settings_.db);
}

void TfrmVantera::ShowVersion() {
  ui_.PanInfo->setText(ToDisplay("Versio " + VersionText()));
}

void TfrmVantera::InitFingerprintControls() {
  parts_.fingerprint->InitEnrolmentControl();
  parts_.fingerprint->SetCaptureOwnerWindow(1, static_cast<uintptr_t>(winId()));
  parts_.fingerprint->InitCaptureControl();
}

// A database error here is told to the user and ends the program once start-up is over;
// any other error leaves start-up at this step.
void TfrmVantera::OpenDatabase() {
  try {
    parts_.database->OpenConnection(settings_.engine_kind, settings_.alias);
    parts_.database->OpenSession();
  } catch (const EnxDatabaseError& error) {
    const std::string text =
        "Yhteys " + settings_.alias + "-kantaan ei onnistu. " + error.BareText();
    std::cerr << "vantera: " << Win1252ToUtf8(text) << std::endl;  // also for logs
    error_box_->ShowAbortError(text);
    RequestTermination(kStartupFailedExitCode);
  }
}

void TfrmVantera::ClearEnrolmentTab() {
  for (QLineEdit* field : {ui_.EdtAsNo, ui_.EdtKortti, ui_.EdtAsNimi, ui_.EdtOsoite, ui_.EdtPosti})
    field->clear();
  ui_.BBtnSormenjalki->setEnabled(false);
  ui_.BBtnTalleta->setEnabled(false);
}

void TfrmVantera::ClearIdentificationResults() {
  for (QLineEdit* field :
       {ui_.EdtSeAsNo, ui_.EdtSeKortti, ui_.EdtSeAsNimi, ui_.EdtSeOsoite, ui_.EdtSePosti})
    field->clear();
}

void TfrmVantera::SetPingInterval() {
  timer_ping_time_.SetInterval(PingIntervalMs(settings_.ping_time));
}

void TfrmVantera::EnableStartTimers() {
  timer_get_time_out_.SetEnabled(true);
  timer_ping_time_.SetEnabled(true);
}

void TfrmVantera::RequestTermination(int exit_code) {
  termination_requested_ = true;
  exit_code_ = exit_code;
}

// ---- Shut-down ----

void TfrmVantera::BtnExitClick() {
  DisableTimers();
  StopFingerprintControls();
  close();
}

void TfrmVantera::closeEvent(QCloseEvent* event) {
  // After a termination request of start-up the program ends without the close steps.
  if (phase_ == Phase::kRunning) {
    phase_ = Phase::kClosing;
    FormClose();
  }
  event->accept();
}

void TfrmVantera::FormClose() {
  DisableTimers();                                                                // 1
  StopFingerprintControls();                                                      // 2
  parts_.messages->CloseSocket();                                                 // 3
  parts_.messages->CloseMessageTable();                                           // 4
  parts_.database->CloseConnection(static_cast<int32_t>(settings_.engine_kind));  // 5
  parts_.database->ReleaseDbEngine();                                             // 6
}

void TfrmVantera::DisableTimers() {
  timer_reg_time_out_.SetEnabled(false);
  timer_ping_time_.SetEnabled(false);
  timer_get_time_out_.SetEnabled(false);
}

void TfrmVantera::StopFingerprintControls() {
  parts_.fingerprint->StopEnrolmentControl();
  parts_.fingerprint->StopCaptureControl();
}

// ---- Activity log, message display, status line ----

void TfrmVantera::WriteLog(std::string_view text, bool always) {
  log_.WriteLog(text, always);
}

void TfrmVantera::BBtnTyhjennaClick() {
  log_.Clear();
}

void TfrmVantera::ChkBoxDebugClick() {
  ui_.Memo->setVisible(ui_.ChkBoxDebug->isChecked());
}

void TfrmVantera::ShowHint(const std::string& status_text) {
  ui_.StatusLine->setText(ToDisplay(status_text));
}

void TfrmVantera::LogLineAdded(const std::string& line) {
  ui_.MemoSa->appendPlainText(LogLineForDisplay(line));
}

void TfrmVantera::LogCleared() {
  ui_.MemoSa->clear();
}

void TfrmVantera::MessageDisplayChanged(bool on) {
  ui_.ChkBoxDebug->setChecked(on);  // no change when the operator's click brought us here
  ChkBoxDebugClick();
}

}  // namespace vantera
