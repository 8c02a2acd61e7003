// The identification pass against the server's database engine in process, with the real
// matcher and a recording window.
#include "fingerprint/identification.h"

#include <gtest/gtest.h>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera {
namespace {

using testing::Enrolled;
using testing::Placement;
using Calls = std::vector<std::string>;

class IdentificationPass : public testing::StoreOnEngine {
 protected:
  testing::RecordingView view;
  CardMessageTable messages;
  std::vector<std::string> sent;
  int64_t now_ms = 0;
  Identification ident{view, store, messages, [this](const std::string& l) { sent.push_back(l); },
                       [] { return std::string("Vantera07"); }};

  IdentificationPass() {
    messages.Open();
    ident.SetClock([this] {
      int64_t t = now_ms;
      now_ms += 75000;  // every reading of the clock is 1 min 15 s later
      return t;
    });
  }

  void Card(const std::string& lyh, const std::string& sender) {
    CardMessage m;
    m.KorttiLyh = lyh;
    m.Tyyppi = "Crd";
    m.Lahettaja = sender;
    m.Via = "-";
    m.SanomaNo = "12";
    m.Sanoma = "Kortti";
    m.EtaNo = "E1";
    m.SiltaSrv = "Silta";
    messages.Store(m);
  }

  // Many records of one card through one cursor.
  void AddMany(const std::string& as_no, const std::string& lyh, const Bytes& templ, int n) {
    auto t = Table("ASSORMI", "KorttiLyh");
    for (int i = 0; i < n; ++i) {
      t->Append();
      t->FieldByName("AsNo").SetAsString(StoredAsNo(as_no));
      t->FieldByName("KorttiLyh").SetAsString(lyh);
      t->FieldByName("Maara").SetAsInteger(1);
      TMemoryStream s(templ);
      t->FieldByName("Jalki").LoadFromStream(s);
      t->Post();
    }
  }
};

TEST_F(IdentificationPass, AnEmptyMessageTableComparesNothing) {
  IFPTemplate captured = Placement("1001/etusormi", 11);
  ident.FPGetTemplateXDone(captured);
  EXPECT_EQ(view.calls, (Calls{"text EdtSeAsNo=", "text EdtSeKortti=", "text EdtSeAsNimi=",
                               "text EdtSeOsoite=", "text EdtSePosti=", "off TimerGetTimeOut",
                               "log InstanceID=" + captured.ReadInstanceId(), "log Version=1.0",
                               "start FPGetTemplateX", "on TimerGetTimeOut",
                               "log* Verify=FALSE AsNo= Etsitty=0 kpl", "log Kulunut aika=0115"}));
  EXPECT_TRUE(sent.empty());
  EXPECT_FALSE(store.TblAsSormi.Active());
  EXPECT_EQ(ElapsedMinutesSeconds(3599999), "5959");
  EXPECT_EQ(ElapsedMinutesSeconds(3600000 + 61000), "0101");  // minutes within the hour
}

TEST_F(IdentificationPass, OnlyTheFirstMatchingCardIsAnsweredCountedAndRemoved) {
  AddCustomer("1001", "Virtanen Aino", "00100", "HELSINKI", "Mannerheimintie 1", "");
  Bytes finger = Enrolled("1001/etusormi", 3).ExportBytes();
  Bytes other = Enrolled("2002/peukalo", 4).ExportBytes();
  store.AppendFingerprint("2002", "K1", other);
  store.AppendFingerprint("1001", "K1", finger);
  store.AppendFingerprint("1001", "K2", finger);  // the same finger on a later card
  Card("K0", "Kassa0");                           // a card without fingerprints
  Card("K1", "Kassa1");
  Card("K2", "Kassa2");

  ident.FPGetTemplateXDone(Placement("1001/etusormi", 12));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "Crd^Kassa1^Vantera07^-^12^Kortti^OK^E1^Silta^");
  const IdentificationResult& r = ident.LastResult();
  EXPECT_TRUE(r.matched);
  EXPECT_EQ(r.kortti_lyh, "K1");
  EXPECT_GE(r.comparisons, 1);
  EXPECT_LE(r.comparisons, 2);
  EXPECT_EQ(view.Only("log sHaku="), (Calls{"log sHaku=K0", "log sHaku=K1"}));
  EXPECT_EQ(view.Only("log* "), (Calls{"log* Verify=TRUE  AsNo=           1001 Etsitty=" +
                                       std::to_string(r.comparisons) + " kpl"}));
  EXPECT_EQ(view.texts["EdtSeAsNo"], "1001");
  EXPECT_EQ(view.texts["EdtSeKortti"], "K1");
  EXPECT_EQ(view.texts["EdtSeAsNimi"], "Virtanen Aino");
  EXPECT_EQ(view.texts["EdtSeOsoite"], "Mannerheimintie 1");
  EXPECT_EQ(view.texts["EdtSePosti"], "00100 HELSINKI");
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"K0", "K2"}));
  // The final step comes before the summary.
  Calls tail(view.calls.end() - 4, view.calls.end());
  EXPECT_EQ(tail[0], "start FPGetTemplateX");
  EXPECT_EQ(tail[1], "on TimerGetTimeOut");

  auto rows = Fingerprints("AsNo");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].as_no, StoredAsNo("1001"));
  EXPECT_EQ(rows[0].maara + rows[1].maara, 3);  // the first 1001 record in AsNo order: 2
  EXPECT_EQ(rows[0].maara, 2);
  EXPECT_EQ(rows[2].maara, 1);

  // The next pass: the K2 message still waits, and a customer missing from ASIAKAS
  // leaves name and address empty while the reply still goes out.
  view.calls.clear();
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 13));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], "Crd^Kassa2^Vantera07^-^12^Kortti^OK^E1^Silta^");
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"K0"}));
  // A different finger is not recognised.
  Card("K1", "Kassa1");
  ident.FPGetTemplateXDone(Placement("3003/nimet\xF6n", 14));
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_FALSE(ident.LastResult().matched);
  EXPECT_EQ(ident.LastResult().comparisons, 2);
  EXPECT_EQ(messages.RecordCount(), 2u);
}

TEST_F(IdentificationPass, AtMost600ComparisonsInAPass) {
  Bytes other = Enrolled("2002/peukalo", 4).ExportBytes();
  AddMany("2002", "A1", other, 700);
  store.AppendFingerprint("1001", "B1", Enrolled("1001/etusormi", 3).ExportBytes());
  Card("A1", "Kassa1");
  Card("B1", "Kassa2");  // its turn comes after the limit: not searched
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 5));
  EXPECT_EQ(ident.LastResult().comparisons, 600);
  EXPECT_FALSE(ident.LastResult().matched);
  EXPECT_EQ(view.Only("log* "), (Calls{"log* Verify=FALSE AsNo= Etsitty=600 kpl"}));
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(messages.RecordCount(), 2u);
}

TEST_F(IdentificationPass, ErrorsAreTrappedAndTheCaptureArmedAgain) {
  // A database error while reading a stored template ends the work of the pass. (A
  // template that is read but does not import is skipped: identification_records_test.)
  store.AppendFingerprint("1001", "K1", "not a template");
  store.AppendFingerprint("1001", "K2", Enrolled("1001/etusormi", 3).ExportBytes());
  Card("K1", "Kassa1");
  Card("K2", "Kassa2");
  transport.fail_id = nxmsg::kBlobRead;
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 5));
  transport.fail_id = 0;
  EXPECT_EQ(view.Only("log "), (Calls{"log InstanceID=0000000000000005", "log Version=1.0",
                                      "log sHaku=K1", "log ***ERROR***", "log Kulunut aika=0115"}));
  EXPECT_EQ(view.Only("log* "), (Calls{"log* Verify=FALSE AsNo= Etsitty=0 kpl"}));
  EXPECT_EQ(view.calls[view.calls.size() - 4], "start FPGetTemplateX");
  EXPECT_FALSE(store.TblAsSormi.Active());

  // A counter update that fails: the reply has gone, the message stays.
  store.AppendFingerprint("1001", "K1", Enrolled("1001/etusormi", 6).ExportBytes());
  messages.Delete("K1");
  view.calls.clear();
  transport.fail_id = nxmsg::kRecordModify;
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 7));
  transport.fail_id = 0;
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(view.Only("log ***"), (Calls{"log ***ERROR***"}));
  EXPECT_EQ(view.Only("log* "), (Calls{"log* Verify=TRUE  AsNo=           1001 Etsitty=1 kpl"}));
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"K2"}));
  EXPECT_EQ(Fingerprints("AsNo")[0].maara, 1);

  // A captured template that cannot be read: no pass, but the capture is armed again.
  view.calls.clear();
  EXPECT_THROW(ident.FPGetTemplateXDone(IFPTemplate()), EFPError);
  EXPECT_EQ(view.calls[5], "off TimerGetTimeOut");
  EXPECT_EQ(Calls(view.calls.begin() + 6, view.calls.end()),
            (Calls{"start FPGetTemplateX", "on TimerGetTimeOut"}));

  // A failure to open TblAsSormi reaches the caller, and the capture is armed again with
  // its timer: no pass runs and nothing is compared.
  view.calls.clear();
  transport.fail_id = nxmsg::kTableOpen;
  EXPECT_THROW(ident.FPGetTemplateXDone(Placement("1001/etusormi", 8)), EnxDatabaseError);
  transport.fail_id = 0;
  ASSERT_GE(view.calls.size(), 2u);
  EXPECT_EQ(Calls(view.calls.end() - 2, view.calls.end()),
            (Calls{"start FPGetTemplateX", "on TimerGetTimeOut"}));
  EXPECT_TRUE(view.Only("log sHaku").empty());
  EXPECT_TRUE(view.Only("log* ").empty());
  EXPECT_FALSE(store.TblAsSormi.Active());
}

TEST_F(IdentificationPass, ButtonsAndTimer) {
  ident.BBtnNayteClick();
  ident.BBtnSaKeskeytaClick();
  ident.TimerGetTimeOutTimer();
  EXPECT_EQ(view.calls, (Calls{"off TimerGetTimeOut", "start FPGetTemplateX", "on TimerGetTimeOut",
                               "off TimerGetTimeOut", "stop FPGetTemplateX", "on TimerGetTimeOut",
                               "off TimerGetTimeOut", "stop FPGetTemplateX", "start FPGetTemplateX",
                               "on TimerGetTimeOut"}));
}

}  // namespace
}  // namespace vantera
