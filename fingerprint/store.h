// The workstation's view of customers (ASIAKAS), cards (KORTTI) and customer fingerprints
// (ASSORMI), through the three table cursors TblKortti, TblAsiakas and TblAsSormi.
//
// Every operation opens the cursor it needs and closes it again before the user action
// that called it ends, so each one sees the server's current data. The one exception is
// the identification pass: it opens TblAsSormi with OpenForIdentification, walks the cards
// with CardFingerprints, counts with CountIdentification and closes the cursor in its
// final step.
//
// Customer numbers have a stored form (15 characters, right-aligned with leading blanks)
// used in every AsNo field and lookup, and a display form without blanks. Template bytes
// are stored in Jalki exactly as exported, written whole and read whole.
//
// Database errors raised by a cursor propagate as EnxDatabaseError, except a failed blob
// write while appending a fingerprint, which is swallowed. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "dbclient/nxdb.h"

namespace vantera {

inline constexpr size_t kAsNoSize = 15;

// The first 15 characters, padded on the left with blanks to exactly 15.
std::string StoredAsNo(std::string_view text);
// The first 15 characters with every blank removed.
std::string DisplayAsNo(std::string_view text);

struct FoundCard {
  std::string AsNo;  // stored form
  std::string KorttiLyh;
};

// What the window shows of a customer.
struct CustomerLines {
  std::string name;     // AsNimi
  std::string address;  // KatuOsoite1, or KatuOsoite2 when the first is empty
  std::string post;     // PostiNo + " " + PostiToimiPaikka, or the town alone
};

// One fingerprint record as identification reads it.
struct FingerprintRecord {
  std::string AsNo;  // stored form
  std::string KorttiLyh;
  Bytes Jalki;  // the template bytes, exactly as stored (empty for a null blob)
};

// The local date and time now as a clock value (days since 30 December 1899).
double LocalClockNow();

class FingerprintStore {
 public:
  FingerprintStore();
  FingerprintStore(const FingerprintStore&) = delete;
  FingerprintStore& operator=(const FingerprintStore&) = delete;

  // Binds the three cursors to the connection's database (which must outlive them or
  // tell them when it goes).
  void SetDatabase(TnxDatabase* database);
  // The clock that stamps Aika (tests replace it).
  void SetClock(std::function<double()> now) { now_ = std::move(now); }
  // Replaces the wait between tries of a locked edit (milliseconds; tests).
  void SetSleep(std::function<void(int)> sleep) { sleep_ = std::move(sleep); }

  // The card whose field `index_field` equals `value` exactly; nothing for an empty value
  // (the database is not touched then). TblKortti is closed again on return.
  std::optional<FoundCard> FindCard(const std::string& value, const std::string& index_field);
  // The customer of a stored customer number. TblAsiakas is closed again on return.
  std::optional<CustomerLines> FindCustomer(const std::string& stored_as_no);
  // Adds one record: AsNo = StoredAsNo(display_as_no), KorttiLyh, Maara 1, Aika now and the
  // template bytes. A failed blob write is swallowed and the record still posted; the
  // cursor is closed however the call ends. `opened` (when given) is set once TblAsSormi
  // is open, so that a caller can tell a failed open from a failed append or post.
  void AppendFingerprint(const std::string& display_as_no, const std::string& kortti_lyh,
                         std::string_view template_bytes, bool* opened = nullptr);
  // As AppendFingerprint, but first looks on the KorttiLyh index for a record of the same
  // card with AsNo = StoredAsNo(display_as_no) and exactly these template bytes; when there
  // is one, nothing is appended and the result is false. For a save whose earlier try may
  // have been stored although its answer was lost.
  bool AppendFingerprintUnlessStored(const std::string& display_as_no,
                                     const std::string& kortti_lyh,
                                     std::string_view template_bytes);

  // Identification: TblAsSormi opened on KorttiLyh (closed first when open).
  void OpenForIdentification();
  // Raises Maara by 1 and sets Aika on the customer's first record in AsNo order, on the
  // still-open TblAsSormi (which is left on the AsNo index). Nothing when there is none.
  // The edit locks the record on the server and reads its current Maara; while another
  // workstation holds the lock (10241) the edit is tried again, ten times within about
  // 0.8 s, before that error propagates.
  void CountIdentification(const std::string& stored_as_no);
  // Closes TblAsSormi when open.
  void CloseFingerprints();

  TnxTable TblKortti{"TblKortti"};
  TnxTable TblAsiakas{"TblAsiakas"};
  TnxTable TblAsSormi{"TblAsSormi"};

 private:
  void AppendRecord(const std::string& display_as_no, const std::string& kortti_lyh,
                    std::string_view template_bytes);
  void EditWaitingForLock(TnxTable& table);
  std::function<double()> now_;
  std::function<void(int)> sleep_;
};

// The fingerprint records of one card on the open TblAsSormi: a range whose both ends are
// the card short number. The range is cancelled by Cancel, or by the destructor when the
// walk stops early or fails.
//
//   CardFingerprints card(store.TblAsSormi, kortti_lyh);
//   for (; !card.AtEnd(); card.Next()) { FingerprintRecord r = card.Read(); ... }
//   card.Cancel();
class CardFingerprints {
 public:
  CardFingerprints(TnxTable& table, const std::string& kortti_lyh);
  ~CardFingerprints();
  CardFingerprints(const CardFingerprints&) = delete;
  CardFingerprints& operator=(const CardFingerprints&) = delete;

  bool AtEnd();
  // AsNo, KorttiLyh and the whole Jalki of the current record.
  FingerprintRecord Read();
  void Next();
  // Drops the range; errors propagate here (the destructor swallows them).
  void Cancel();

 private:
  TnxTable& table_;
  bool in_force_ = true;
};

}  // namespace vantera
