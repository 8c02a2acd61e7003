// The fingerprint part of the main window: the capture and enrolment controls with a reader
// behind them, as the setting [Lukija] Laite says: the simulated reader (its socket and a
// reader panel on each tab) or a libfprint device (panels hidden, no socket); the three table
// cursors of the store, identification on "Seuranta" and enrolment on "Rekisteröinti",
// joined to the window's buttons, fields and timers.
//
// Start-up step 5 (InitEnrolmentControl, SetCaptureOwnerWindow, InitCaptureControl) binds
// the cursors to the database module's nxDatabase and the identification to the message
// session, whichever the window holds by then, and opens the reader socket or the libfprint
// device; step 13 arms
// the capture. Shut-down step 2 stops both controls.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "app/workstation_parts.h"
#include "fingerprint/DbMdHak.h"
#include "fingerprint/enrolment.h"
#include "fingerprint/fpsdk_controls.h"
#include "fingerprint/identification.h"
#include "fingerprint/image/fingerprint_view.h"
#include "fingerprint/libfprint_reader.h"
#include "fingerprint/reader_panel.h"
#include "fingerprint/simulated_reader.h"
#include "fingerprint/store.h"
#include "fingerprint/workflow_view.h"
#include "msglink/card_message_table.h"

namespace vantera {

class ReaderPanel;
class ReaderSocket;
class TfrmVantera;

class WorkstationFingerprints : public FingerprintControls, private WorkflowView {
 public:
  // The window must outlive the part (it owns it through its working parts). runtime_dir is
  // where the reader socket goes (empty: the default runtime folder). reader_trace: a line on
  // stderr each time the libfprint device waits for a finger (for demos and tests).
  WorkstationFingerprints(TfrmVantera& window, std::string runtime_dir, bool reader_trace = false);
  ~WorkstationFingerprints() override;

  // FingerprintControls: the steps the window takes.
  void InitEnrolmentControl() override;
  void SetCaptureOwnerWindow(int32_t kind, uintptr_t window) override;
  void InitCaptureControl() override;
  void StartCapture() override;
  void StopEnrolmentControl() override;
  void StopCaptureControl() override;

  // The search behind "Haku"; until one is set, a simple card-number prompt.
  void SetCardSearch(Enrolment::CardSearch search);

  TFPGetTemplateX& FPGetTemplateX() { return capture_; }
  TFPRegisterTemplateX& FPRegTemplateX() { return enrolment_control_; }
  SimulatedReader& Reader() { return reader_; }
  FingerprintStore& Store() { return store_; }
  Enrolment& EnrolmentTab() { return enrolment_; }
  // After start-up step 5.
  Identification* IdentificationTab() { return identification_.get(); }
  ReaderSocket* Socket() { return socket_.get(); }
  // After start-up step 5 with a libfprint device chosen; null otherwise.
  LibfprintReader* Libfprint() { return libfprint_.get(); }
  FingerprintView* CaptureView() { return capture_view_.data(); }
  FingerprintView* EnrolmentView() { return enrolment_view_.data(); }

 private:
  // WorkflowView
  void SetText(std::string_view field, const std::string& text) override;
  std::string Text(std::string_view field) const override;
  void SetEnabled(std::string_view control, bool on) override;
  void AddLine(std::string_view list, const std::string& line) override;
  void ClearLines(std::string_view list) override;
  void StartControl(std::string_view control) override;
  void StopControl(std::string_view control) override;
  void WriteLog(const std::string& text, bool always) override;

  void BindDatabase();
  void MakeIdentification();
  void OpenLibfprint(const std::string& device);
  FPControl& Control(std::string_view name);

  TfrmVantera& window_;
  std::string runtime_dir_;
  bool reader_trace_;
  TFPGetTemplateX capture_;
  TFPRegisterTemplateX enrolment_control_;
  TDBMDHaku DBMDHaku_;  // the card search of "Haku"; keeps its order between runs
  SimulatedReader reader_{capture_, enrolment_control_};
  FingerprintStore store_;
  Enrolment enrolment_{*this, store_};
  CardMessageTable no_messages_;  // used when the window has no message session
  std::unique_ptr<Identification> identification_;
  std::unique_ptr<ReaderSocket> socket_;
  std::unique_ptr<LibfprintReader> libfprint_;
  QPointer<ReaderPanel> capture_panel_;  // children of the control holders
  QPointer<ReaderPanel> enrolment_panel_;
  QPointer<FingerprintView> capture_view_;  // the fingerprint pictures, beside the panels
  QPointer<FingerprintView> enrolment_view_;
  // The window's timers may outlive this part (parts replaced before start-up): their
  // handlers check this token; the button connections end with the context object.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  QObject context_;
};

}  // namespace vantera
