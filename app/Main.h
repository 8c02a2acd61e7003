// The main window TfrmVantera: its tabs, status line and activity log, and the order in
// which the working parts of the workstation are started and stopped.
//
// Life of the window:
//   starting  FormCreate runs the start-up steps. A database error while opening the
//             session shows the error box and requests termination; the program then
//             ends without the close steps. Any other error leaves FormCreate at once.
//   running   the event loop; BtnExit, the close box or a system close lead to closing.
//   closing   FormClose runs the shut-down steps once.
//
// The working parts (database module, fingerprint controls, message session) are plugged
// in through WorkstationParts before FormCreate. Later parts reach the window's controls
// through ui(), the timers through their accessors and the log through WriteLog/Log().
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

#include "app/Profil.h"
#include "app/activity_log.h"
#include "app/error_box.h"
#include "app/main_window_ui.h"
#include "app/window_timer.h"
#include "app/workstation_parts.h"

namespace vantera {

class StatusHints;

struct TfrmVanteraOptions {
  std::string settings_path = SettingsFilePath();  // "Tarvola.ini" beside the program
  std::unique_ptr<ErrorBox> error_box = std::make_unique<MessageErrorBox>();
};

class TfrmVantera : public QWidget, private ActivityLogView {
  Q_OBJECT

 public:
  explicit TfrmVantera(TfrmVanteraOptions options = {});
  ~TfrmVantera() override;

  // Replaces the working parts; only before FormCreate.
  void SetParts(WorkstationParts parts);
  WorkstationParts& Parts() { return parts_; }

  // Start-up, run once right after the window is built.
  void FormCreate();
  // "Sulje ohjelma.": stops timers and controls, then closes the window.
  void BtnExitClick();

  // True after start-up asked the program to end (database error at start-up).
  bool TerminationRequested() const { return termination_requested_; }
  int ExitCode() const { return exit_code_; }

  // The activity log MemoSa: always == false writes only while message display is on.
  void WriteLog(std::string_view text, bool always);
  ActivityLog& Log() { return log_; }

  // "Versio " and the program's version into PanInfo.
  void ShowVersion();
  // Shows a status text (Windows-1252) in StatusLine.
  void ShowHint(const std::string& status_text);

  // Empties the five enrolment fields; disables "Lue sormenjälki" and "Talleta".
  void ClearEnrolmentTab();
  // Empties EdtSeAsNo, EdtSeKortti, EdtSeAsNimi, EdtSeOsoite and EdtSePosti, in order.
  void ClearIdentificationResults();

  const Settings& CurrentSettings() const { return settings_; }
  const TfrmVanteraUi& ui() const { return ui_; }
  TProfile& InfoIni() { return info_ini_; }

  WindowTimer& TimerRegTimeOut() { return timer_reg_time_out_; }
  WindowTimer& TimerGetTimeOut() { return timer_get_time_out_; }
  WindowTimer& TimerPingTime() { return timer_ping_time_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class Phase { kStarting, kRunning, kClosing };

  // Start-up steps.
  void RouteHintsToStatusLine();
  void ReadSettings();
  void InitFingerprintControls();
  void OpenDatabase();
  void SetPingInterval();
  void EnableStartTimers();

  // Shut-down steps.
  void FormClose();
  void DisableTimers();
  void StopFingerprintControls();

  // Handlers.
  void BBtnTyhjennaClick();
  void ChkBoxDebugClick();

  void RequestTermination(int exit_code);

  // ActivityLogView
  void LogLineAdded(const std::string& line) override;
  void LogCleared() override;
  void MessageDisplayChanged(bool on) override;

  TfrmVanteraUi ui_;
  std::string settings_path_;
  std::unique_ptr<ErrorBox> error_box_;
  WorkstationParts parts_;
  TProfile info_ini_;
  Settings settings_;
  ActivityLog log_;
  StatusHints* status_hints_ = nullptr;  // owned by the window (Qt parent)
  WindowTimer timer_reg_time_out_{"TimerRegTimeOut", 60000};
  WindowTimer timer_get_time_out_{"TimerGetTimeOut", 60000};
  WindowTimer timer_ping_time_{"TimerPingTime", 0};
  Phase phase_ = Phase::kStarting;
  bool form_created_ = false;
  bool termination_requested_ = false;
  int exit_code_ = 0;
};

// Milliseconds of a ping interval in seconds: 0 (never) for 0 or less, capped so that
// the product stays within a signed 32-bit number.
int PingIntervalMs(int32_t seconds);

}  // namespace vantera
