// The counter raise against another workstation's lock on the record, on the server's
// database engine in process: the edit is tried again a bounded number of times, with
// waits of less than a second in all, and other errors are not tried again.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/nxllException.h"
#include "tests/fingerprint/store_fixture.h"

namespace vantera::testing {
namespace {

constexpr uint8_t kLockForEdit = 2;

class CountAgainstALock : public StoreOnEngine {
 protected:
  CountAgainstALock() {
    // The customer's fingerprint record, and another workstation's cursor on it.
    store.AppendFingerprint("1001", "K1", "template");
    other_db_ = other_.OpenDatabase();
    other_cursor_ = other_.OpenTable(other_db_, "ASSORMI");
    EXPECT_EQ(other_.Get(nxmsg::kRecordGetNext, other_cursor_).code, 0u);
    store.SetSleep([this](int ms) {
      sleeps_.push_back(ms);
      if (release_after_ > 0 && static_cast<int>(sleeps_.size()) == release_after_)
        Release();
    });
  }

  void Lock() { ASSERT_EQ(other_.Get(nxmsg::kRecordGet, other_cursor_, kLockForEdit).code, 0u); }
  void Release() {
    EXPECT_EQ(
        other_.Call(nxmsg::kRecordRelLock, ObjectByteRequest{other_cursor_.id, 0}.Encode()).code,
        0u);
  }
  int32_t Maara() { return Fingerprints("AsNo").at(0).maara; }

  TestClient other_{server, 1000};
  int32_t other_db_ = 0;
  OpenCursor other_cursor_;
  std::vector<int> sleeps_;
  int release_after_ = 0;  // the other workstation posts after this many waits (0: never)
};

TEST_F(CountAgainstALock, ALockReleasedWithinTheTriesWaitsForIt) {
  Lock();
  release_after_ = 3;
  store.OpenForIdentification();
  store.CountIdentification(StoredAsNo("1001"));
  store.CloseFingerprints();
  EXPECT_EQ(sleeps_, (std::vector<int>{10, 20, 40}));
  EXPECT_EQ(Maara(), 2);
}

TEST_F(CountAgainstALock, ALockHeldThroughEveryTryReportsIt) {
  Lock();
  store.OpenForIdentification();
  try {
    store.CountIdentification(StoredAsNo("1001"));
    ADD_FAILURE() << "the raise did not report the lock";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 10241u);
    EXPECT_STREQ(e.what(), "KantaDB: TblAsSormi: Record locked by another user. [$2801/10241]");
  }
  // Ten tries, nine waits, less than a second in all; the cursor is still browsing.
  EXPECT_EQ(sleeps_.size(), 9u);
  EXPECT_LT(std::accumulate(sleeps_.begin(), sleeps_.end(), 0), 1000);
  EXPECT_EQ(store.TblAsSormi.DataSetState(), TnxDataSetState::Browse);
  // Once the other workstation is done, the next raise goes through at once.
  Release();
  sleeps_.clear();
  store.CountIdentification(StoredAsNo("1001"));
  store.CloseFingerprints();
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(Maara(), 2);
}

TEST_F(CountAgainstALock, OtherErrorsOfTheEditAreNotTriedAgain) {
  // The other workstation deletes the record during the first wait: the next try meets
  // 8708, which ends the raise at once.
  Lock();
  store.SetSleep([this](int ms) {
    sleeps_.push_back(ms);
    EXPECT_EQ(
        other_.Call(nxmsg::kRecordDelete, RecordDeleteRequest{other_cursor_.id, 0}.Encode()).code,
        0u);
  });
  store.OpenForIdentification();
  try {
    store.CountIdentification(StoredAsNo("1001"));
    ADD_FAILURE() << "the raise did not report the deleted record";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 8708u);
  }
  EXPECT_EQ(sleeps_, (std::vector<int>{10}));
  store.CloseFingerprints();
  EXPECT_TRUE(Fingerprints("AsNo").empty());
}

}  // namespace
}  // namespace vantera::testing
