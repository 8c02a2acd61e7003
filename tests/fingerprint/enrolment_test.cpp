// The enrolment tab's handlers against the server's database engine in process, with a
// fake card search and a recording window.
#include "fingerprint/enrolment.h"

#include <gtest/gtest.h>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera {
namespace {

using testing::Enrolled;
using Calls = std::vector<std::string>;

class EnrolmentTab : public testing::StoreOnEngine {
 protected:
  testing::RecordingView view;
  Enrolment enrolment{view, store};
  std::optional<std::string> chosen;
  int searches = 0;

  EnrolmentTab() {
    enrolment.SetCardSearch([this] {
      ++searches;
      return chosen;
    });
    AddCustomer("1001", "Virtanen Aino", "", "HELSINKI", "", "PL 5");
    AddCard("6390000010010001", "100101", "1001");
    AddCard("6390000099990001", "999901", "9999");  // owner missing
  }
};

const Calls kClearTab{"text EdtAsNo=",  "text EdtKortti=",     "text EdtAsNimi=", "text EdtOsoite=",
                      "text EdtPosti=", "off BBtnSormenjalki", "off BBtnTalleta"};

Calls Then(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(EnrolmentTab, SearchShowsTheCardAndItsCustomer) {
  enrolment.BBtnHakuClick();  // closed without a choice: nothing changes
  EXPECT_EQ(searches, 1);
  EXPECT_TRUE(view.calls.empty());

  chosen = "6390000010010001";
  enrolment.BBtnHakuClick();
  EXPECT_EQ(view.calls, Then(kClearTab, {"text EdtAsNo=1001", "text EdtKortti=100101",
                                         "text EdtAsNimi=Virtanen Aino", "text EdtOsoite=PL 5",
                                         "text EdtPosti=HELSINKI", "on BBtnSormenjalki"}));
  EXPECT_FALSE(store.TblKortti.Active());
  EXPECT_FALSE(store.TblAsiakas.Active());

  view.calls.clear();
  chosen = "6390000099990001";  // customer missing: number and card only
  enrolment.BBtnHakuClick();
  EXPECT_EQ(view.calls,
            Then(kClearTab, {"text EdtAsNo=9999", "text EdtKortti=999901", "on BBtnSormenjalki"}));
  view.calls.clear();
  chosen = "no such card";  // reading is enabled all the same
  enrolment.BBtnHakuClick();
  EXPECT_EQ(view.calls, Then(kClearTab, {"on BBtnSormenjalki"}));
}

TEST_F(EnrolmentTab, ReadSaveAndTheButtonRules) {
  chosen = "6390000010010001";
  enrolment.BBtnHakuClick();
  view.calls.clear();
  enrolment.BBtnSormenjalkiClick();
  EXPECT_EQ(view.calls, (Calls{"off TimerGetTimeOut", "on TimerRegTimeOut", "off BBtnSormenjalki",
                               "clear Memo", "stop FPGetTemplateX", "start FPRegTemplateX"}));
  view.calls.clear();
  IFPTemplate first = Enrolled("1001/etusormi", 21);
  enrolment.FPRegTemplateXDone(first);
  Bytes bytes = first.ExportBytes();
  EXPECT_EQ(view.calls, (Calls{"off TimerRegTimeOut", "add Memo InstanceID=0000000000000015",
                               "add Memo Size=" + std::to_string(bytes.size()),
                               "on BBtnSormenjalki", "on BBtnTalleta", "on TimerGetTimeOut"}));
  EXPECT_EQ(enrolment.EnrolledTemplate(), bytes);

  // A second enrolment is running when "Talleta" is pressed: the first template is saved.
  enrolment.BBtnSormenjalkiClick();
  EXPECT_TRUE(view.enabled["BBtnTalleta"]);
  view.calls.clear();
  enrolment.BBtnTalletaClick();
  EXPECT_EQ(view.calls, Then(Then({"off TimerGetTimeOut"}, kClearTab),
                             {"start FPGetTemplateX", "on TimerGetTimeOut"}));
  auto rows = Fingerprints();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].as_no, StoredAsNo("1001"));
  EXPECT_EQ(rows[0].kortti, "100101");
  EXPECT_EQ(rows[0].maara, 1);
  EXPECT_EQ(rows[0].jalki, bytes);
  EXPECT_EQ(enrolment.EnrolledTemplate(), bytes);  // kept after the save

  // Saving again with the tab cleared: AsNo all blanks, no card.
  enrolment.BBtnTalletaClick();
  rows = Fingerprints();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].as_no, std::string(15, ' '));
  EXPECT_EQ(rows[0].kortti, "");

  view.calls.clear();
  enrolment.BBtnKeskeytaClick();
  enrolment.TimerRegTimeOutTimer();
  EXPECT_EQ(view.calls, (Calls{"off TimerGetTimeOut", "off TimerRegTimeOut", "on BBtnSormenjalki",
                               "stop FPRegTemplateX", "start FPGetTemplateX", "on TimerGetTimeOut",
                               "off TimerGetTimeOut", "off TimerRegTimeOut", "stop FPRegTemplateX",
                               "start FPGetTemplateX", "on TimerGetTimeOut"}));
}

TEST_F(EnrolmentTab, FailuresLeaveTheTabAsTheyShould) {
  chosen = "6390000010010001";
  enrolment.BBtnHakuClick();
  // A template that cannot be read ends the handler: "Talleta" stays disabled.
  view.calls.clear();
  EXPECT_THROW(enrolment.FPRegTemplateXDone(IFPTemplate()), EFPError);
  EXPECT_EQ(view.calls, (Calls{"off TimerRegTimeOut"}));

  enrolment.FPRegTemplateXDone(Enrolled("1001/etusormi", 22));
  // Opening TblAsSormi fails: the tab keeps its contents, and the capture is armed again
  // (more in enrolment_save_test).
  view.calls.clear();
  transport.fail_id = nxmsg::kTableOpen;
  EXPECT_THROW(enrolment.BBtnTalletaClick(), EnxDatabaseError);
  EXPECT_EQ(view.calls,
            (Calls{"off TimerGetTimeOut", "start FPGetTemplateX", "on TimerGetTimeOut"}));
  EXPECT_EQ(view.texts["EdtAsNo"], "1001");
  // Posting fails: nothing stored; the capture is armed and the tab kept for another try.
  view.calls.clear();
  transport.fail_id = nxmsg::kRecordInsert;
  EXPECT_THROW(enrolment.BBtnTalletaClick(), EnxDatabaseError);
  transport.fail_id = 0;
  EXPECT_EQ(view.calls,
            (Calls{"off TimerGetTimeOut", "start FPGetTemplateX", "on TimerGetTimeOut"}));
  EXPECT_EQ(view.texts["EdtKortti"], "100101");
  EXPECT_TRUE(Fingerprints().empty());
  EXPECT_FALSE(store.TblAsSormi.Active());
}

}  // namespace
}  // namespace vantera
