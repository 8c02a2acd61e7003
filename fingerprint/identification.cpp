#include "fingerprint/identification.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "msglink/Wdef.h"

namespace vantera {
namespace {

constexpr std::string_view kCaptureControl = "FPGetTemplateX";
constexpr std::string_view kCaptureTimer = "TimerGetTimeOut";

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CardMessageFields ReplyFields(const CardMessage& m) {
  CardMessageFields f;
  f.Tyyppi = m.Tyyppi;
  f.Lahettaja = m.Lahettaja;
  f.Via = m.Via;
  f.SanomaNo = m.SanomaNo;
  f.Sanoma = m.Sanoma;
  f.EtaNo = m.EtaNo;
  f.SiltaSrv = m.SiltaSrv;
  return f;
}

}  // namespace

std::string ElapsedMinutesSeconds(int64_t ms) {
  if (ms < 0)
    ms = 0;
  int64_t seconds = ms / 1000;
  char text[8];
  std::snprintf(text, sizeof text, "%02d%02d", static_cast<int>((seconds / 60) % 60),
                static_cast<int>(seconds % 60));
  return text;
}

Identification::Identification(WorkflowView& view, FingerprintStore& store,
                               CardMessageTable& kbmMTblMsg,
                               std::function<void(const std::string&)> send_msg,
                               std::function<std::string()> client_name)
    : view_(view),
      store_(store),
      messages_(kbmMTblMsg),
      send_msg_(std::move(send_msg)),
      client_name_(std::move(client_name)),
      clock_(SteadyMilliseconds),
      wall_clock_([] { return std::time(nullptr); }) {}

void Identification::ClearResults() {
  for (std::string_view field :
       {"EdtSeAsNo", "EdtSeKortti", "EdtSeAsNimi", "EdtSeOsoite", "EdtSePosti"})
    view_.SetText(field, {});
}

void Identification::ArmCapture() {
  view_.StartControl(kCaptureControl);
  view_.SetEnabled(kCaptureTimer, true);
}

void Identification::FPGetTemplateXDone(const IFPTemplate& captured) {
  ClearResults();  // 1
  view_.SetEnabled(kCaptureTimer, false);
  try {  // 2
    view_.WriteLog("InstanceID=" + captured.ReadInstanceId(), false);
    view_.WriteLog("Version=" + captured.ReadVersion(), false);
  } catch (const EFPError&) {
    ArmCapture();  // a template that cannot be read must not leave the reader disarmed
    throw;
  }
  int64_t start = 0;
  try {  // 3
    store_.CloseFingerprints();
    start = clock_();
    result_ = IdentificationResult();
    store_.OpenForIdentification();
  } catch (const std::exception&) {
    // A database that cannot be reached must not leave the reader disarmed for good: arm
    // it again, and the error reaches the operator.
    ArmCapture();
    throw;
  }
  try {  // 4: the final step follows, however the pass ends
    try {
      Compare(captured);  // 5 to 7
    } catch (const std::exception&) {
      view_.WriteLog("***ERROR***", false);  // 9
    }
  } catch (...) {
    FinalStep();
    throw;
  }
  FinalStep();
  view_.WriteLog("Verify=" + result_.verdict + " AsNo=" + result_.as_no +  // 8
                     " Etsitty=" + std::to_string(result_.comparisons) + " kpl",
                 true);
  view_.WriteLog("Kulunut aika=" + ElapsedMinutesSeconds(clock_() - start), false);
}

// Stale messages would use up the comparisons of every pass before the waiting
// customer's card is reached, and a card never identified would wait for ever.
void Identification::DropOldMessages() {
  if (message_max_age_ <= 0)
    return;
  for (const std::string& key : messages_.DeleteStoredBefore(wall_clock_() - message_max_age_))
    view_.WriteLog("Vanhentunut korttiviesti KorttiLyh=" + key, false);
}

bool Identification::ImportStored(const FingerprintRecord& record, IFPTemplate& stored) {
  bool readable = !record.Jalki.empty();
  if (readable) {
    try {
      stored.ImportBytes(record.Jalki);
    } catch (const EFPError&) {
      readable = false;
    }
  }
  if (!readable)
    view_.WriteLog(
        "Virheellinen sormenj\xE4lki AsNo=" + record.AsNo + " KorttiLyh=" + record.KorttiLyh, true);
  return readable;
}

void Identification::Compare(const IFPTemplate& captured) {
  DropOldMessages();
  CoFPVerify verify = CoFPVerify::Create();
  for (const std::string& key : messages_.Keys()) {  // KorttiLyh order
    if (result_.matched)
      break;
    view_.WriteLog("sHaku=" + key, false);
    CardFingerprints card(store_.TblAsSormi, key);
    for (; !card.AtEnd() && !result_.matched && result_.comparisons < kMaxComparisons;
         card.Next()) {
      FingerprintRecord record = card.Read();
      ++result_.comparisons;
      IFPTemplate stored = CoFPTemplate::Create();
      // One unreadable record must not stop the pass, or every later card with it.
      if (!ImportStored(record, stored))
        continue;
      if (verify.CompareTemplates(stored, captured).verified != 0) {
        result_.verdict = "TRUE ";
        result_.as_no = record.AsNo.substr(0, kAsNoSize);
        result_.kortti_lyh = key;
        result_.matched = true;
        const CardMessage* message = messages_.Find(key);
        if (message)
          ShowMatch(record, *message);
      }
    }
    card.Cancel();
  }
  if (!result_.as_no.empty())  // 7
    store_.CountIdentification(result_.as_no);
  if (!result_.kortti_lyh.empty())
    messages_.Delete(result_.kortti_lyh);
}

void Identification::ShowMatch(const FingerprintRecord& record, const CardMessage& message) {
  view_.SetText("EdtSeAsNo", DisplayAsNo(result_.as_no));
  view_.SetText("EdtSeKortti", record.KorttiLyh);
  if (std::optional<CustomerLines> customer = store_.FindCustomer(result_.as_no)) {
    view_.SetText("EdtSeAsNimi", customer->name);
    view_.SetText("EdtSeOsoite", customer->address);
    view_.SetText("EdtSePosti", customer->post);
  }
  send_msg_(BuildIdentificationReplyMsg(ReplyFields(message), client_name_()));
}

void Identification::FinalStep() {
  std::exception_ptr close_error;
  try {
    store_.CloseFingerprints();
  } catch (const std::exception&) {
    close_error = std::current_exception();  // reported after the capture is armed
  }
  ArmCapture();
  if (close_error)
    std::rethrow_exception(close_error);
}

void Identification::BBtnNayteClick() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.StartControl(kCaptureControl);
  view_.SetEnabled(kCaptureTimer, true);
}

void Identification::BBtnSaKeskeytaClick() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.StopControl(kCaptureControl);
  view_.SetEnabled(kCaptureTimer, true);
}

void Identification::TimerGetTimeOutTimer() {
  view_.SetEnabled(kCaptureTimer, false);
  view_.StopControl(kCaptureControl);
  view_.StartControl(kCaptureControl);
  view_.SetEnabled(kCaptureTimer, true);
}

}  // namespace vantera
