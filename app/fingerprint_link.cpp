#include "app/fingerprint_link.h"

#include <QFrame>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <iostream>
#include <stdexcept>

#include "app/Main.h"
#include "app/application.h"
#include "app/message_link.h"
#include "app/qt_text.h"
#include "core/runtime_dir.h"
#include "core/win1252.h"
#include "dbclient/nxDbEngModule.h"
#include "fingerprint/libfprint_devices.h"
#include "fingerprint/reader_panel.h"
#include "fingerprint/reader_socket.h"

namespace vantera {
namespace {

QLineEdit* FieldOf(const TfrmVanteraUi& ui, std::string_view name) {
  for (QLineEdit* f : {ui.EdtSeAsNo, ui.EdtSeKortti, ui.EdtSeAsNimi, ui.EdtSeOsoite, ui.EdtSePosti,
                       ui.EdtAsNo, ui.EdtKortti, ui.EdtAsNimi, ui.EdtOsoite, ui.EdtPosti}) {
    if (f->objectName().toStdString() == name)
      return f;
  }
  throw std::logic_error("no field " + std::string(name));
}

QPushButton* ButtonOf(const TfrmVanteraUi& ui, std::string_view name) {
  for (QPushButton* b : {ui.BBtnNayte, ui.BBtnSaKeskeyta, ui.BBtnTyhjenna, ui.BBtnHaku,
                         ui.BBtnSormenjalki, ui.BBtnKeskeyta, ui.BBtnTalleta}) {
    if (b->objectName().toStdString() == name)
      return b;
  }
  return nullptr;
}

}  // namespace

WorkstationFingerprints::WorkstationFingerprints(TfrmVantera& window, std::string runtime_dir,
                                                 bool reader_trace)
    : window_(window), runtime_dir_(std::move(runtime_dir)), reader_trace_(reader_trace) {
  const TfrmVanteraUi& ui = window_.ui();
  enrolment_.SetCardSearch([this] { return DBMDHaku_.Execute(); });

  // Each control holder shows the control's latest fingerprint image above its panel.
  capture_view_ = new FingerprintView(capture_, ui.FPGetTemplateX);
  ui.FPGetTemplateX->layout()->addWidget(capture_view_.data());
  capture_panel_ = new ReaderPanel(reader_, ReaderTarget::kCapture, ui.FPGetTemplateX);
  ui.FPGetTemplateX->layout()->addWidget(capture_panel_.data());
  enrolment_view_ = new FingerprintView(enrolment_control_, ui.FPRegTemplateX);
  ui.FPRegTemplateX->layout()->addWidget(enrolment_view_.data());
  enrolment_panel_ = new ReaderPanel(reader_, ReaderTarget::kEnrolment, ui.FPRegTemplateX);
  ui.FPRegTemplateX->layout()->addWidget(enrolment_panel_.data());

  QObject::connect(&capture_, &FPControl::OnDone, &context_, [this](const IFPTemplate& t) {
    if (identification_)
      identification_->FPGetTemplateXDone(t);
  });
  QObject::connect(&enrolment_control_, &FPControl::OnDone, &context_,
                   [this](const IFPTemplate& t) { enrolment_.FPRegTemplateXDone(t); });

  auto on_click = [this](QPushButton* button, auto handler) {
    QObject::connect(button, &QPushButton::clicked, &context_, handler);
  };
  on_click(ui.BBtnNayte, [this] {
    if (identification_)
      identification_->BBtnNayteClick();
  });
  on_click(ui.BBtnSaKeskeyta, [this] {
    if (identification_)
      identification_->BBtnSaKeskeytaClick();
  });
  on_click(ui.BBtnHaku, [this] { enrolment_.BBtnHakuClick(); });
  on_click(ui.BBtnSormenjalki, [this] { enrolment_.BBtnSormenjalkiClick(); });
  on_click(ui.BBtnKeskeyta, [this] { enrolment_.BBtnKeskeytaClick(); });
  on_click(ui.BBtnTalleta, [this] { enrolment_.BBtnTalletaClick(); });

  std::weak_ptr<int> alive = alive_;
  window_.TimerGetTimeOut().SetOnTimer([this, alive] {
    if (alive.lock() && identification_)
      identification_->TimerGetTimeOutTimer();
  });
  window_.TimerRegTimeOut().SetOnTimer([this, alive] {
    if (alive.lock())
      enrolment_.TimerRegTimeOutTimer();
  });
}

// The panels go with this part (they read through its reader); the window's other
// members are not touched.
WorkstationFingerprints::~WorkstationFingerprints() {
  delete capture_panel_.data();
  delete enrolment_panel_.data();
  delete capture_view_.data();
  delete enrolment_view_.data();
}

void WorkstationFingerprints::SetCardSearch(Enrolment::CardSearch search) {
  enrolment_.SetCardSearch(std::move(search));
}

void WorkstationFingerprints::InitEnrolmentControl() {
  BindDatabase();
  MakeIdentification();
  enrolment_control_.InitControl();
}

void WorkstationFingerprints::SetCaptureOwnerWindow(int32_t kind, uintptr_t window) {
  capture_.SetOwnerWindow(kind, static_cast<quintptr>(window));
}

void WorkstationFingerprints::InitCaptureControl() {
  capture_.InitControl();
  if (const std::string& device = window_.CurrentSettings().reader_device;
      device != kReaderSimulated) {
    OpenLibfprint(device);
    return;
  }
  // Without the socket the panels still place fingers; the log says why it is missing.
  try {
    socket_ = std::make_unique<ReaderSocket>(reader_, RuntimeDir(runtime_dir_));
  } catch (const std::runtime_error& error) {
    window_.WriteLog(error.what(), true);
    return;
  }
  // A placement from the reader tool whose handling failed is reported like one from the
  // panels: through the application's error report.
  QObject::connect(socket_.get(), &ReaderSocket::PlacementFailed, &context_,
                   [](const QByteArray& error) {
                     ReportApplicationError(std::runtime_error(error.toStdString()));
                   });
}

// The device's placements reach the controls; the panels of the simulated reader go.
void WorkstationFingerprints::OpenLibfprint(const std::string& device) {
  for (ReaderPanel* panel : {capture_panel_.data(), enrolment_panel_.data()}) {
    if (panel)
      panel->hide();
  }
  libfprint_ = std::make_unique<LibfprintReader>(
      capture_, enrolment_control_, Win1252ToUtf8(device),
      [this](const std::string& line) { window_.WriteLog(line, true); });
  if (reader_trace_) {
    QObject::connect(libfprint_.get(), &LibfprintReader::WaitingForFinger, &context_,
                     [] { std::cerr << "vantera: reader: waiting for a finger" << std::endl; });
  }
  libfprint_->Open();
}

void WorkstationFingerprints::StartCapture() {
  capture_.Start();
}

void WorkstationFingerprints::StopEnrolmentControl() {
  enrolment_control_.Stop();
}

void WorkstationFingerprints::StopCaptureControl() {
  capture_.Stop();
}

void WorkstationFingerprints::BindDatabase() {
  auto* module = dynamic_cast<TnxDbEngModule*>(window_.Parts().database.get());
  if (module && module->DbEng()) {
    store_.SetDatabase(&module->DbEng()->nxDatabase);
    ConfigureCardSearch(DBMDHaku_, &module->DbEng()->nxDatabase);
  }
}

void WorkstationFingerprints::MakeIdentification() {
  auto* link = dynamic_cast<WorkstationMessageLink*>(window_.Parts().messages.get());
  CardMessageTable& table = link ? link->Session().kbmMTblMsg() : no_messages_;
  WorkflowView& view = *this;
  identification_ = std::make_unique<Identification>(
      view, store_, table,
      [link](const std::string& plain) {
        if (link)
          link->Session().SendMsg(plain);
      },
      [this] { return window_.CurrentSettings().client_name; });
  identification_->SetMessageMaxAge(window_.CurrentSettings().message_max_age);
}

FPControl& WorkstationFingerprints::Control(std::string_view name) {
  if (name == "FPGetTemplateX")
    return capture_;
  if (name == "FPRegTemplateX")
    return enrolment_control_;
  throw std::logic_error("no reader control " + std::string(name));
}

// ---- WorkflowView ----

void WorkstationFingerprints::SetText(std::string_view field, const std::string& text) {
  FieldOf(window_.ui(), field)->setText(ToDisplay(text));
}

std::string WorkstationFingerprints::Text(std::string_view field) const {
  return FromDisplay(FieldOf(window_.ui(), field)->text());
}

void WorkstationFingerprints::SetEnabled(std::string_view control, bool on) {
  if (control == "TimerGetTimeOut")
    window_.TimerGetTimeOut().SetEnabled(on);
  else if (control == "TimerRegTimeOut")
    window_.TimerRegTimeOut().SetEnabled(on);
  else if (QPushButton* button = ButtonOf(window_.ui(), control))
    button->setEnabled(on);
  else
    throw std::logic_error("no control " + std::string(control));
}

void WorkstationFingerprints::AddLine(std::string_view /*list*/, const std::string& line) {
  window_.ui().Memo->appendPlainText(ToDisplay(line));
}

void WorkstationFingerprints::ClearLines(std::string_view /*list*/) {
  window_.ui().Memo->clear();
}

void WorkstationFingerprints::StartControl(std::string_view control) {
  Control(control).Start();
}

void WorkstationFingerprints::StopControl(std::string_view control) {
  Control(control).Stop();
}

void WorkstationFingerprints::WriteLog(const std::string& text, bool always) {
  window_.WriteLog(text, always);
}

}  // namespace vantera
