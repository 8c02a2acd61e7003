// Identification on the tab "Seuranta": a captured finger is compared with the stored
// fingerprints of every card that has a waiting card message; the first match is shown,
// answered with the OK reply, counted and its message removed.
//
// One pass (FPGetTemplateXDone), in order:
//   1. result fields cleared; TimerGetTimeOut off
//   2. "InstanceID=" and "Version=" of the captured template (optional log lines)
//   3. TblAsSormi opened on KorttiLyh; the pass state reset and the clock started
//   4. from here the final step runs however the pass ends: TblAsSormi closed, the capture
//      armed, TimerGetTimeOut on
//   5-7. within the error trap: card messages older than the message age limit are
//      deleted first ("Vanhentunut korttiviesti KorttiLyh=KEY", optional). Then the card
//      messages in KorttiLyh order ("sHaku=" KEY each), each card's fingerprints compared,
//      at most kMaxComparisons in the whole pass; a stored template that is empty or does
//      not import is skipped ("Virheellinen sormenjälki AsNo=... KorttiLyh=...", always)
//      and counts as compared. On the first match the customer is shown and the OK reply
//      sent; then the customer's counter is raised and the card's message deleted. An error
//      writes "***ERROR***" (optional) and skips what was not done yet.
//   8. "Verify=FALSE AsNo= Etsitty=0 kpl" (always) and "Kulunut aika=mmss" (optional)
//
// When the captured template cannot be read (step 2) the capture is armed again and the
// timer enabled before the error goes on to the caller, so the reader never stays dead.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/store.h"
#include "fingerprint/workflow_view.h"
#include "msglink/card_message_table.h"

namespace vantera {

inline constexpr int kMaxComparisons = 600;

// What one pass found; kept until the next pass.
struct IdentificationResult {
  std::string verdict = "FALSE";  // "TRUE " on a match
  std::string as_no;              // stored form, up to 15 characters
  std::string kortti_lyh;
  int comparisons = 0;
  bool matched = false;
};

class Identification {
 public:
  // Milliseconds of a steady clock, for the pass's elapsed time.
  using Clock = std::function<int64_t()>;

  // Everything given must outlive the object. send_msg is the session's SendMsg;
  // client_name gives the workstation's client name (known once the settings are read).
  Identification(WorkflowView& view, FingerprintStore& store, CardMessageTable& kbmMTblMsg,
                 std::function<void(const std::string&)> send_msg,
                 std::function<std::string()> client_name);

  void SetClock(Clock clock) { clock_ = std::move(clock); }
  // The local clock that card messages' Aika is read against (tests replace it).
  void SetWallClock(std::function<std::time_t()> now) { wall_clock_ = std::move(now); }
  // Card messages older than this many seconds are deleted before a pass; 0 or less
  // keeps them however old (the default here; the settings give 1800).
  void SetMessageMaxAge(int32_t seconds) { message_max_age_ = seconds; }
  int32_t MessageMaxAge() const { return message_max_age_; }

  // The capture control's OnDone: one identification pass.
  void FPGetTemplateXDone(const IFPTemplate& captured);
  // "Näyte": arm the capture (no Stop first).
  void BBtnNayteClick();
  // "Keskeytä": disarm; the timer arms again 60 s later.
  void BBtnSaKeskeytaClick();
  // Every 60 s while enabled: Stop and Start the capture.
  void TimerGetTimeOutTimer();
  // EdtSeAsNo, EdtSeKortti, EdtSeAsNimi, EdtSeOsoite and EdtSePosti emptied, in this order.
  void ClearResults();

  const IdentificationResult& LastResult() const { return result_; }

 private:
  void DropOldMessages();
  void Compare(const IFPTemplate& captured);
  // Imports a stored template; false, with its log line, when it is empty or unreadable.
  bool ImportStored(const FingerprintRecord& record, IFPTemplate& stored);
  void ShowMatch(const FingerprintRecord& record, const CardMessage& message);
  void FinalStep();
  void ArmCapture();

  WorkflowView& view_;
  FingerprintStore& store_;
  CardMessageTable& messages_;
  std::function<void(const std::string&)> send_msg_;
  std::function<std::string()> client_name_;
  Clock clock_;
  std::function<std::time_t()> wall_clock_;
  int32_t message_max_age_ = 0;
  IdentificationResult result_;
};

// "mmss" of a span in milliseconds: minutes within the hour and seconds, two digits each.
std::string ElapsedMinutesSeconds(int64_t ms);

}  // namespace vantera
