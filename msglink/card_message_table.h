// The card-message table kbmMTblMsg: the latest card message per card short number.
//
// In memory only. Records are keyed uniquely by KorttiLyh (exact bytes, letter case
// counting) and visited in ascending KorttiLyh order, the order of the index
// kbmMTblMsgIdxKortti. Every text is cut to its field's size when stored:
//
//   field      size  filled from (line field)
//   KorttiLyh   16   6  card short number; the key
//   Tyyppi      35   0  message type
//   Lahettaja   35   2  sender
//   Via         35   3  route
//   SanomaNo    35   4  message number
//   Sanoma     255   5  message text
//   Aika         -   -  local date and time when stored
//   SiltaSrv    25   8  bridge server
//   EtaNo        5   7  remote number
//
// Storing builds the whole record first and then puts it in place in one step, so the table
// is never left in the middle of an edit. The table holds at most kMaxRecords messages: a
// message for a new card beyond that pushes out the oldest (smallest Aika). Operations
// other than Open and Close need the table open. GUI thread only.
#pragma once

#include <cstddef>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantera {

struct CardMessage {
  static constexpr size_t kKorttiLyhSize = 16;
  static constexpr size_t kTyyppiSize = 35;
  static constexpr size_t kLahettajaSize = 35;
  static constexpr size_t kViaSize = 35;
  static constexpr size_t kSanomaNoSize = 35;
  static constexpr size_t kSanomaSize = 255;
  static constexpr size_t kSiltaSrvSize = 25;
  static constexpr size_t kEtaNoSize = 5;

  std::string KorttiLyh;
  std::string Tyyppi;
  std::string Lahettaja;
  std::string Via;
  std::string SanomaNo;
  std::string Sanoma;
  std::time_t Aika = 0;
  std::string SiltaSrv;
  std::string EtaNo;
};

// Raised by an operation on the closed table.
class ETableClosed : public std::logic_error {
 public:
  ETableClosed()
      : std::logic_error("kbmMTblMsg: Cannot perform this operation on a closed table") {}
};

// "yyyy.mm.dd hh:nn:ss" in local time, e.g. 2026.12.09 07:05:03.
std::string FormatAika(std::time_t when);

class CardMessageTable {
 public:
  using Records = std::map<std::string, CardMessage>;
  static constexpr size_t kMaxRecords = 1000;

  // Opening keeps nothing from before: the table starts empty.
  void Open();
  // Closing discards every record.
  void Close();
  bool Active() const { return active_; }

  // Deletes every record.
  void EmptyTable();

  // Inserts the message, or replaces the record with the same KorttiLyh (cut to 16), with
  // every field cut to its size. A new card in a full table first deletes the oldest
  // record (the first in index order among equally old ones).
  void Store(CardMessage message);

  // The record of a card short number (cut to 16), or null.
  const CardMessage* Find(std::string_view korttiLyh) const;
  // Deletes the record of a card short number; false when there is none.
  bool Delete(std::string_view korttiLyh);
  // Deletes every record whose Aika is before `limit`; their keys, in index order.
  std::vector<std::string> DeleteStoredBefore(std::time_t limit);

  size_t RecordCount() const;
  // The records in ascending KorttiLyh order. Valid until the table changes.
  const Records& InIndexOrder() const;
  // The keys in index order: a snapshot to walk while deleting.
  std::vector<std::string> Keys() const;

 private:
  void CheckActive() const;

  bool active_ = false;
  Records records_;
};

}  // namespace vantera
