// Enrolment on the tab "Rekisteröinti": the operator searches a customer's card, reads the
// customer's finger with the enrolment control and saves the template for that customer
// and card. While an enrolment runs, the identification capture is stopped.
//
// States of the tab:
//   idle, no card shown   start-up; a save                    left by "Haku" with a choice
//   card shown            "Haku"                              "Lue sormenjälki"; "Haku"
//   enrolling             "Lue sormenjälki"                   OnDone; "Keskeytä"; time-out
//   template ready        OnDone of the enrolment control     "Talleta"; "Haku"; reading
//   timed out             TimerRegTimeOut (60 s)              "Keskeytä"; "Haku"
//
// Buttons: "Talleta" is enabled only by OnDone and disabled only by clearing the tab, so it
// stays enabled while a further enrolment runs.
//
// A save ("Talleta") arms the identification capture again however it ends. One that
// succeeds clears the tab; one that fails keeps it, with "Talleta" enabled, and its error
// goes on to the caller. As a failed save may still have been stored (the server gone at
// its commit), the next save first looks for a record of the same customer, card and
// template bytes and, when there is one, appends nothing and logs "Sormenjälki oli jo
// talletettu AsNo=... KorttiLyh=..." (always). "Lue sormenjälki" is enabled by "Haku" with
// a choice, by OnDone and by "Keskeytä"; disabled by clearing the tab and by its own click,
// and it stays disabled after the time-out. "Haku" and "Keskeytä" are always enabled.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/store.h"
#include "fingerprint/workflow_view.h"

namespace vantera {

class Enrolment {
 public:
  // The card search behind "Haku": the chosen card's value of ValueFld, or nothing when the
  // search was closed without a choice.
  using CardSearch = std::function<std::optional<std::string>()>;

  // view and store must outlive the object.
  Enrolment(WorkflowView& view, FingerprintStore& store);

  void SetCardSearch(CardSearch search) { run_card_search_ = std::move(search); }
  // The card field whose value the search returns (the search component's ValueFld).
  std::string ValueFld = "KorttiNro";

  // EdtAsNo, EdtKortti, EdtAsNimi, EdtOsoite and EdtPosti emptied; "Lue sormenjälki" and
  // "Talleta" disabled. Memo stays.
  void ClearTab();
  // Shows the card found by `value` on index `index_field` and its customer.
  void HakuKo(const std::string& value, const std::string& index_field);

  void BBtnHakuClick();
  void BBtnSormenjalkiClick();
  void FPRegTemplateXDone(const IFPTemplate& enrolled);
  void BBtnTalletaClick();
  void BBtnKeskeytaClick();
  void TimerRegTimeOutTimer();

  // The last enrolment's template bytes; kept after a save until the next enrolment.
  const Bytes& EnrolledTemplate() const { return enrolled_; }

 private:
  void ArmCaptureAgain();

  WorkflowView& view_;
  FingerprintStore& store_;
  CardSearch run_card_search_;
  Bytes enrolled_;
  // The last save failed, so whether it was stored is not known.
  bool save_unconfirmed_ = false;
};

}  // namespace vantera
