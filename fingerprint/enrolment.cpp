#include "fingerprint/enrolment.h"

namespace vantera {
namespace {

constexpr std::string_view kCaptureControl = "FPGetTemplateX";
constexpr std::string_view kEnrolmentControl = "FPRegTemplateX";
constexpr std::string_view kCaptureTimer = "TimerGetTimeOut";
constexpr std::string_view kEnrolmentTimer = "TimerRegTimeOut";
constexpr std::string_view kReadButton = "BBtnSormenjalki";
constexpr std::string_view kSaveButton = "BBtnTalleta";
constexpr size_t kSearchValueSize = 255;

}  // namespace

Enrolment::Enrolment(WorkflowView& view, FingerprintStore& store) : view_(view), store_(store) {}

void Enrolment::ClearTab() {
  for (std::string_view field : {"EdtAsNo", "EdtKortti", "EdtAsNimi", "EdtOsoite", "EdtPosti"})
    view_.SetText(field, {});
  view_.SetEnabled(kReadButton, false);
  view_.SetEnabled(kSaveButton, false);
}

void Enrolment::HakuKo(const std::string& value, const std::string& index_field) {
  std::optional<FoundCard> card = store_.FindCard(value, index_field);
  if (!card)
    return;
  view_.SetText("EdtAsNo", DisplayAsNo(card->AsNo));
  view_.SetText("EdtKortti", card->KorttiLyh);
  if (std::optional<CustomerLines> customer = store_.FindCustomer(card->AsNo)) {
    view_.SetText("EdtAsNimi", customer->name);
    view_.SetText("EdtOsoite", customer->address);
    view_.SetText("EdtPosti", customer->post);
  }
}

void Enrolment::BBtnHakuClick() {
  if (!run_card_search_)
    return;
  std::optional<std::string> chosen = run_card_search_();
  if (!chosen || chosen->empty())
    return;
  ClearTab();
  HakuKo(chosen->substr(0, kSearchValueSize), ValueFld);
  view_.SetEnabled(kReadButton, true);  // also when no card was found
}

void Enrolment::BBtnSormenjalkiClick() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.SetEnabled(kEnrolmentTimer, true);
  view_.SetEnabled(kReadButton, false);
  view_.ClearLines("Memo");
  view_.StopControl(kCaptureControl);
  view_.StartControl(kEnrolmentControl);
}

void Enrolment::FPRegTemplateXDone(const IFPTemplate& enrolled) {
  view_.SetEnabled(kEnrolmentTimer, false);
  view_.AddLine("Memo", "InstanceID=" + enrolled.ReadInstanceId());
  enrolled_ = enrolled.ExportBytes();
  view_.AddLine("Memo", "Size=" + std::to_string(enrolled_.size()));
  view_.SetEnabled(kReadButton, true);
  view_.SetEnabled(kSaveButton, true);
  view_.SetEnabled(kCaptureTimer, true);
}

void Enrolment::BBtnTalletaClick() {
  view_.SetEnabled(kCaptureTimer, false);
  const std::string as_no = view_.Text("EdtAsNo");
  const std::string kortti = view_.Text("EdtKortti");
  bool appended = true;
  try {
    if (save_unconfirmed_)
      appended = store_.AppendFingerprintUnlessStored(as_no, kortti, enrolled_);
    else
      store_.AppendFingerprint(as_no, kortti, enrolled_);
  } catch (...) {
    // Whatever the save met, identification goes on. The tab keeps the card and
    // "Talleta" stays enabled, so the same template can be saved again; as a server that
    // went away at its commit may have stored it, that next save looks for it first.
    save_unconfirmed_ = true;
    ArmCaptureAgain();
    throw;
  }
  save_unconfirmed_ = false;
  if (!appended)
    view_.WriteLog(
        "Sormenj\xE4lki oli jo talletettu AsNo=" + StoredAsNo(as_no) + " KorttiLyh=" + kortti,
        true);
  ClearTab();
  ArmCaptureAgain();
}

void Enrolment::BBtnKeskeytaClick() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.SetEnabled(kEnrolmentTimer, false);
  view_.SetEnabled(kReadButton, true);
  view_.StopControl(kEnrolmentControl);
  ArmCaptureAgain();
}

void Enrolment::TimerRegTimeOutTimer() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.SetEnabled(kEnrolmentTimer, false);
  view_.StopControl(kEnrolmentControl);
  ArmCaptureAgain();
}

void Enrolment::ArmCaptureAgain() {
  view_.StartControl(kCaptureControl);
  view_.SetEnabled(kCaptureTimer, true);
}

}  // namespace vantera
