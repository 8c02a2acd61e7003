// "Talleta" against database faults: the identification capture is armed again whatever
// the save meets, and a save whose reply was lost is not stored twice.
#include <gtest/gtest.h>

#include "fingerprint/enrolment.h"
#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera {
namespace {

using testing::Enrolled;
using Calls = std::vector<std::string>;

const Calls kArmed{"start FPGetTemplateX", "on TimerGetTimeOut"};

class SaveFaults : public testing::StoreOnEngine {
 protected:
  testing::RecordingView view;
  Enrolment enrolment{view, store};

  SaveFaults() {
    AddCustomer("1001", "Virtanen Aino", "", "HELSINKI", "", "PL 5");
    AddCard("6390000010010001", "100101", "1001");
    enrolment.SetCardSearch([] { return std::optional<std::string>("6390000010010001"); });
    enrolment.BBtnHakuClick();
    enrolment.BBtnSormenjalkiClick();
    enrolment.FPRegTemplateXDone(Enrolled("1001/etusormi", 31));
    view.calls.clear();
  }

  // The save fails with a database error; what the view saw.
  Calls FailedSave(uint32_t request) {
    view.calls.clear();
    transport.fail_id = request;
    EXPECT_THROW(enrolment.BBtnTalletaClick(), EnxDatabaseError);
    transport.fail_id = 0;
    return view.calls;
  }
};

TEST_F(SaveFaults, EveryFailedSaveArmsTheCaptureAgainAndKeepsTheTab) {
  // Opening the table, writing the template, posting the record: each failure leaves the
  // capture armed with its timer, and the card and template ready to be saved again.
  for (uint32_t request :
       {uint32_t{nxmsg::kTableOpen}, uint32_t{nxmsg::kBlobWrite}, uint32_t{nxmsg::kRecordInsert}}) {
    SCOPED_TRACE(request);
    Calls calls = FailedSave(request);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "off TimerGetTimeOut");
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), kArmed);
    EXPECT_EQ(view.texts["EdtAsNo"], "1001");
    EXPECT_EQ(view.texts["EdtKortti"], "100101");
    EXPECT_TRUE(view.enabled["BBtnTalleta"]);
    EXPECT_TRUE(view.enabled["TimerGetTimeOut"]);
    EXPECT_FALSE(store.TblAsSormi.Active());
    EXPECT_TRUE(Fingerprints().empty());
  }
  // Once the database answers again, the same save goes through and clears the tab.
  view.calls.clear();
  enrolment.BBtnTalletaClick();
  ASSERT_EQ(Fingerprints().size(), 1u);
  EXPECT_EQ(Fingerprints()[0].jalki, enrolment.EnrolledTemplate());
  EXPECT_EQ(view.texts["EdtKortti"], "");
  EXPECT_FALSE(view.enabled["BBtnTalleta"]);
  EXPECT_EQ(Calls(view.calls.end() - 2, view.calls.end()), kArmed);
}

TEST_F(SaveFaults, ASaveStoredButReportedLostIsNotStoredAgain) {
  // The server stores the record, and its answer is lost.
  transport.lose_reply_id = nxmsg::kRecordInsert;
  EXPECT_THROW(enrolment.BBtnTalletaClick(), EnxDatabaseError);
  transport.lose_reply_id = 0;
  EXPECT_EQ(transport.replies_lost, 1);
  ASSERT_EQ(Fingerprints().size(), 1u);
  EXPECT_EQ(Calls(view.calls.end() - 2, view.calls.end()), kArmed);
  EXPECT_TRUE(view.enabled["BBtnTalleta"]);

  // Saving again finds the record and does not append a second one.
  view.calls.clear();
  enrolment.BBtnTalletaClick();
  auto rows = Fingerprints();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].as_no, StoredAsNo("1001"));
  EXPECT_EQ(rows[0].kortti, "100101");
  EXPECT_EQ(rows[0].maara, 1);
  EXPECT_EQ(rows[0].jalki, enrolment.EnrolledTemplate());
  EXPECT_EQ(view.Only("log* "),
            (Calls{"log* Sormenj\xE4lki oli jo talletettu AsNo=           1001 KorttiLyh=100101"}));
  EXPECT_EQ(view.texts["EdtKortti"], "");  // the save is over
  EXPECT_EQ(Calls(view.calls.end() - 2, view.calls.end()), kArmed);
  EXPECT_FALSE(store.TblAsSormi.Active());

  // After a save that went through, the next one appends as always: two enrolments of
  // the same card are two records.
  enrolment.BBtnHakuClick();
  enrolment.FPRegTemplateXDone(Enrolled("1001/etusormi", 32));
  enrolment.BBtnTalletaClick();
  EXPECT_EQ(Fingerprints().size(), 2u);
}

TEST_F(SaveFaults, ALostSaveThatWasNotStoredIsStoredOnTheNextTry) {
  // The connection is lost before the record is posted: nothing is stored.
  transport.fail_id = nxmsg::kRecordInsert;
  transport.fail_code = 11276;
  EXPECT_THROW(enrolment.BBtnTalletaClick(), EnxDatabaseError);
  transport.fail_id = 0;
  EXPECT_TRUE(Fingerprints().empty());
  // The next save looks first, finds nothing and appends.
  view.calls.clear();
  enrolment.BBtnTalletaClick();
  ASSERT_EQ(Fingerprints().size(), 1u);
  EXPECT_TRUE(view.Only("log* ").empty());

  // Only the same card, customer and template bytes count as the record already stored.
  Bytes same = enrolment.EnrolledTemplate();
  EXPECT_TRUE(store.AppendFingerprintUnlessStored("1001", "100199", same));
  EXPECT_TRUE(store.AppendFingerprintUnlessStored("1001", "100101", same + "x"));
  EXPECT_FALSE(store.AppendFingerprintUnlessStored("1001", "100101", same));
  EXPECT_TRUE(store.AppendFingerprintUnlessStored("2002", "100101", same));
  EXPECT_EQ(Fingerprints().size(), 4u);
}

}  // namespace
}  // namespace vantera
