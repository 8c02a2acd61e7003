#include "fingerprint/store.h"

#include <chrono>
#include <thread>

#include "protocol/nxllException.h"
#include "protocol/nxsdDateTime.h"

namespace vantera {
namespace {

constexpr uint32_t kRecordLocked = 10241;  // Record locked by another user.

// The waits before each new try of an edit that met another workstation's lock on the
// record: ten tries within about 0.8 s, the other's edit and post taking milliseconds.
constexpr int kLockRetryDelaysMs[] = {10, 20, 40, 60, 80, 100, 120, 150, 200};

// Runs `step` and closes the cursor after it, however it ends. When the step failed, its
// error is the one reported, also when closing fails as well.
template <typename Step>
auto CloseAfter(TnxTable& table, Step step) -> decltype(step()) {
  try {
    auto result = step();
    table.Close();
    return result;
  } catch (...) {
    try {
      table.Close();
    } catch (const std::exception&) {
    }
    throw;
  }
}

}  // namespace

std::string StoredAsNo(std::string_view text) {
  std::string s(text.substr(0, kAsNoSize));
  s.insert(0, kAsNoSize - s.size(), ' ');
  return s;
}

std::string DisplayAsNo(std::string_view text) {
  std::string s;
  for (char c : text.substr(0, kAsNoSize)) {
    if (c != ' ')
      s.push_back(c);
  }
  return s;
}

double LocalClockNow() {
  return TimeStampToClock(CurrentLocalTimeStamp());
}

FingerprintStore::FingerprintStore()
    : now_(LocalClockNow),
      sleep_([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }) {
  TblKortti.SetTableName("KORTTI");
  TblKortti.SetIndexFieldNames("KorttiLyh");
  TblAsiakas.SetTableName("ASIAKAS");
  TblAsiakas.SetIndexFieldNames("AsNo");
  TblAsSormi.SetTableName("ASSORMI");
  TblAsSormi.SetIndexFieldNames("KorttiLyh");
}

void FingerprintStore::SetDatabase(TnxDatabase* database) {
  TblKortti.SetDatabase(database);
  TblAsiakas.SetDatabase(database);
  TblAsSormi.SetDatabase(database);
}

std::optional<FoundCard> FingerprintStore::FindCard(const std::string& value,
                                                    const std::string& index_field) {
  if (value.empty())
    return std::nullopt;
  TblKortti.Close();
  TblKortti.SetIndexFieldNames(index_field);
  return CloseAfter(TblKortti, [&]() -> std::optional<FoundCard> {
    TblKortti.Open();
    if (!TblKortti.FindByKey({value}))
      return std::nullopt;
    return FoundCard{TblKortti.FieldByName("AsNo").AsString(),
                     TblKortti.FieldByName("KorttiLyh").AsString()};
  });
}

std::optional<CustomerLines> FingerprintStore::FindCustomer(const std::string& stored_as_no) {
  TblAsiakas.Close();
  TblAsiakas.SetIndexFieldNames("AsNo");
  return CloseAfter(TblAsiakas, [&]() -> std::optional<CustomerLines> {
    TblAsiakas.Open();
    if (!TblAsiakas.FindByKey({stored_as_no}))
      return std::nullopt;
    CustomerLines lines;
    lines.name = TblAsiakas.FieldByName("AsNimi").AsString();
    lines.address = TblAsiakas.FieldByName("KatuOsoite1").AsString();
    if (lines.address.empty())
      lines.address = TblAsiakas.FieldByName("KatuOsoite2").AsString();
    std::string posti_no = TblAsiakas.FieldByName("PostiNo").AsString();
    std::string town = TblAsiakas.FieldByName("PostiToimiPaikka").AsString();
    lines.post = posti_no.empty() ? town : posti_no + " " + town;
    return lines;
  });
}

void FingerprintStore::AppendFingerprint(const std::string& display_as_no,
                                         const std::string& kortti_lyh,
                                         std::string_view template_bytes, bool* opened) {
  TblAsSormi.Close();
  // Closing discards a record that was not posted.
  CloseAfter(TblAsSormi, [&] {
    TblAsSormi.Open();
    if (opened)
      *opened = true;
    AppendRecord(display_as_no, kortti_lyh, template_bytes);
    return true;
  });
}

bool FingerprintStore::AppendFingerprintUnlessStored(const std::string& display_as_no,
                                                     const std::string& kortti_lyh,
                                                     std::string_view template_bytes) {
  TblAsSormi.Close();
  TblAsSormi.SetIndexFieldNames("KorttiLyh");
  const std::string as_no = StoredAsNo(display_as_no);
  return CloseAfter(TblAsSormi, [&] {
    TblAsSormi.Open();
    bool stored = false;
    {
      CardFingerprints card(TblAsSormi, kortti_lyh);
      for (; !card.AtEnd() && !stored; card.Next()) {
        FingerprintRecord r = card.Read();
        stored = r.AsNo == as_no && r.Jalki == template_bytes;
      }
      card.Cancel();
    }
    if (stored)
      return false;
    AppendRecord(display_as_no, kortti_lyh, template_bytes);
    return true;
  });
}

void FingerprintStore::AppendRecord(const std::string& display_as_no, const std::string& kortti_lyh,
                                    std::string_view template_bytes) {
  TblAsSormi.Append();
  TblAsSormi.FieldByName("AsNo").SetAsString(StoredAsNo(display_as_no));
  TblAsSormi.FieldByName("KorttiLyh").SetAsString(kortti_lyh);
  TblAsSormi.FieldByName("Maara").SetAsInteger(1);
  TblAsSormi.FieldByName("Aika").SetAsDateTime(now_());
  // A failed template write propagates like a failed post: a record without its whole
  // template would look enrolled but could never match, so it is not posted (closing the
  // cursor discards it) and the operator sees the error.
  TMemoryStream stream;
  stream.WriteBuffer(template_bytes.data(), static_cast<int64_t>(template_bytes.size()));
  stream.SetPosition(0);
  TblAsSormi.FieldByName("Jalki").LoadFromStream(stream);
  TblAsSormi.Post();
}

void FingerprintStore::OpenForIdentification() {
  TblAsSormi.Close();
  TblAsSormi.SetIndexFieldNames("KorttiLyh");
  TblAsSormi.Open();
}

void FingerprintStore::CountIdentification(const std::string& stored_as_no) {
  TblAsSormi.SetIndexFieldNames("AsNo");
  if (!TblAsSormi.FindByKey({stored_as_no}))
    return;
  EditWaitingForLock(TblAsSormi);
  TnxField& maara = TblAsSormi.FieldByName("Maara");
  maara.SetAsInteger(maara.AsInteger() + 1);
  TblAsSormi.FieldByName("Aika").SetAsDateTime(now_());
  TblAsSormi.Post();
}

void FingerprintStore::EditWaitingForLock(TnxTable& table) {
  for (int delay_ms : kLockRetryDelaysMs) {
    try {
      table.Edit();
      return;
    } catch (const EnxDatabaseError& e) {
      if (e.ErrorCode() != kRecordLocked)
        throw;
    }
    sleep_(delay_ms);
  }
  table.Edit();  // the last try: its lock error is the one reported
}

void FingerprintStore::CloseFingerprints() {
  TblAsSormi.Close();
}

// ---- CardFingerprints ----

CardFingerprints::CardFingerprints(TnxTable& table, const std::string& kortti_lyh) : table_(table) {
  table_.SetRangeBounds({kortti_lyh}, {kortti_lyh});
}

CardFingerprints::~CardFingerprints() {
  if (!in_force_)
    return;
  try {
    Cancel();
  } catch (const std::exception&) {
    // The walk failed already; its own error is the one that counts.
  }
}

bool CardFingerprints::AtEnd() {
  return table_.Eof();
}

FingerprintRecord CardFingerprints::Read() {
  FingerprintRecord r;
  r.AsNo = table_.FieldByName("AsNo").AsString();
  r.KorttiLyh = table_.FieldByName("KorttiLyh").AsString();
  TMemoryStream stream;
  stream.Clear();
  table_.FieldByName("Jalki").SaveToStream(stream);
  r.Jalki.resize(static_cast<size_t>(stream.Size()));
  stream.SetPosition(0);
  stream.ReadBuffer(r.Jalki.data(), stream.Size());
  return r;
}

void CardFingerprints::Next() {
  table_.Next();
}

void CardFingerprints::Cancel() {
  in_force_ = false;
  table_.DropKeyRange();
}

}  // namespace vantera
