// The identification pass over stored fingerprints that cannot be read, and over card
// messages that have waited too long.
#include <gtest/gtest.h>

#include <ctime>

#include "fingerprint/identification.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera {
namespace {

using testing::Enrolled;
using testing::Placement;
using Calls = std::vector<std::string>;

constexpr std::time_t kNow = 1765000000;  // the wall clock of these tests

class PassOverRecords : public testing::StoreOnEngine {
 protected:
  testing::RecordingView view;
  CardMessageTable messages;
  std::vector<std::string> sent;
  Identification ident{view, store, messages, [this](const std::string& l) { sent.push_back(l); },
                       [] { return std::string("Vantera07"); }};

  PassOverRecords() {
    messages.Open();
    ident.SetWallClock([] { return kNow; });
  }

  void Card(const std::string& lyh, std::time_t stored_at = kNow) {
    CardMessage m;
    m.KorttiLyh = lyh;
    m.Tyyppi = "Crd";
    m.Lahettaja = "Kassa1";
    m.Via = "-";
    m.SanomaNo = "1";
    m.Sanoma = "Kortti";
    m.Aika = stored_at;
    messages.Store(m);
  }

  // A record written through a cursor of the test's own; `jalki` null leaves the blob null.
  void AddRecord(const std::string& as_no, const std::string& lyh, const Bytes* jalki) {
    auto t = Table("ASSORMI", "KorttiLyh");
    t->Append();
    t->FieldByName("AsNo").SetAsString(StoredAsNo(as_no));
    t->FieldByName("KorttiLyh").SetAsString(lyh);
    t->FieldByName("Maara").SetAsInteger(1);
    if (jalki) {
      TMemoryStream s(*jalki);
      t->FieldByName("Jalki").LoadFromStream(s);
    }
    t->Post();
  }
};

TEST_F(PassOverRecords, UnreadableTemplatesAreSkippedAndCounted) {
  const Bytes garbage = "not a template";
  const Bytes empty;
  const Bytes finger = Enrolled("1001/etusormi", 3).ExportBytes();
  AddRecord("2002", "K1", nullptr);   // null Jalki
  AddRecord("2003", "K1", &garbage);  // does not import
  AddRecord("2004", "K2", &empty);    // empty Jalki
  AddRecord("1001", "K2", &finger);   // the match, behind the bad record of its card
  Card("K1");
  Card("K2");

  ident.FPGetTemplateXDone(Placement("1001/etusormi", 5));
  const IdentificationResult& r = ident.LastResult();
  EXPECT_TRUE(r.matched);
  EXPECT_EQ(r.kortti_lyh, "K2");
  EXPECT_EQ(r.comparisons, 4);  // the skipped records count as compared
  EXPECT_TRUE(view.Only("log ***").empty());
  EXPECT_EQ(view.Only("log* Virheellinen"),
            (Calls{"log* Virheellinen sormenj\xE4lki AsNo=           2002 KorttiLyh=K1",
                   "log* Virheellinen sormenj\xE4lki AsNo=           2003 KorttiLyh=K1",
                   "log* Virheellinen sormenj\xE4lki AsNo=           2004 KorttiLyh=K2"}));
  EXPECT_EQ(view.Only("log* Verify="),
            (Calls{"log* Verify=TRUE  AsNo=           1001 Etsitty=4 kpl"}));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"K1"}));  // K2 answered and gone
  EXPECT_EQ(Fingerprints("AsNo")[0].maara, 2);                   // 1001 counted
  EXPECT_FALSE(store.TblAsSormi.Active());

  // The card with only unreadable records no longer stops later cards: a second pass
  // meets K1 again and goes on to K3.
  AddRecord("1001", "K3", &finger);
  Card("K3");
  view.calls.clear();
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 6));
  EXPECT_TRUE(ident.LastResult().matched);
  EXPECT_EQ(ident.LastResult().kortti_lyh, "K3");
  EXPECT_EQ(ident.LastResult().comparisons, 3);
  EXPECT_EQ(view.Only("log* Virheellinen").size(), 2u);
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"K1"}));
}

TEST_F(PassOverRecords, OldCardMessagesLeaveBeforeThePass) {
  const Bytes finger = Enrolled("1001/etusormi", 3).ExportBytes();
  AddRecord("1001", "OLD", &finger);
  AddRecord("1001", "NEW", &finger);
  Card("EDGE", kNow - 1800);  // exactly the age allowed: stays
  Card("NEW", kNow - 60);
  Card("OLD", kNow - 1801);  // older: gone before the pass, so never answered
  ident.SetMessageMaxAge(1800);
  ident.FPGetTemplateXDone(Placement("1001/etusormi", 7));
  EXPECT_EQ(view.Only("log sHaku="), (Calls{"log sHaku=EDGE", "log sHaku=NEW"}));
  EXPECT_EQ(ident.LastResult().kortti_lyh, "NEW");
  EXPECT_EQ(view.Only("log Vanhentunut"), (Calls{"log Vanhentunut korttiviesti KorttiLyh=OLD"}));
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"EDGE"}));
  ASSERT_EQ(sent.size(), 1u);

  // 0: messages never grow old.
  Card("ANCIENT", 0);
  ident.SetMessageMaxAge(0);
  ident.FPGetTemplateXDone(Placement("2002/peukalo", 8));
  EXPECT_EQ(messages.Keys(), (std::vector<std::string>{"ANCIENT", "EDGE"}));
}

}  // namespace
}  // namespace vantera
