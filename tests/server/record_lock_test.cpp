// Record locks of the engine between sessions: an edit (lock mode 2) holds the record until
// its cursor modifies it, releases it or goes, and the image it answers is the version the
// lock protects, so raises of one counter from two sessions at once never lose one.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

constexpr uint8_t kLockForEdit = 2;

class RecordLocks : public ::testing::TestWithParam<StorageKind> {
 protected:
  RecordLocks() {
    if (!storage_.available())
      return;
    storage_.Prepare();
    db_a_ = a_.OpenDatabase();
    db_b_ = b_.OpenDatabase();
    ca_ = a_.OpenTable(db_a_, "ASSORMI");
    cb_ = b_.OpenTable(db_b_, "ASSORMI");
    Bytes rec = ca_.dict->NewRecord();
    SetText(*ca_.dict, &rec, "AsNo", "           1001");
    SetText(*ca_.dict, &rec, "KorttiLyh", "6390000010010001");
    SetInt32(*ca_.dict, &rec, "Maara", 1);
    EXPECT_EQ(a_.Insert(ca_, rec), 0u);
    EXPECT_EQ(b_.Get(nxmsg::kRecordGetNext, cb_).code, 0u);
  }

  uint32_t Maara(const OpenCursor& c, const Bytes& image) const {
    return DecodeFixed32(image.data() + c.dict->Field(c.dict->FieldNumber("Maara")).offset);
  }

  // One raise as the workstation does it: edit (trying again while the other session
  // holds the lock, until `patience` has passed), Maara + 1, post. False when no try got
  // the lock. A count of tries would be too short where the other thread is descheduled
  // while it holds the lock (a loaded machine).
  bool Raise(TestClient& t, const OpenCursor& c, std::chrono::seconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
      EngineReply edit = t.Get(nxmsg::kRecordGet, c, kLockForEdit);
      if (edit.code == 10241) {
        std::this_thread::yield();
        continue;
      }
      EXPECT_EQ(edit.code, 0u);
      if (edit.code != 0)
        return false;
      SetInt32(*c.dict, &edit.data, "Maara", static_cast<int32_t>(Maara(c, edit.data) + 1));
      uint32_t post = t.Modify(c, edit.data);
      EXPECT_EQ(post, 0u);
      return post == 0;
    }
    return false;
  }

  void SetUp() override { VANTERA_SKIP_UNAVAILABLE(storage_); }

  TestStorage storage_{GetParam()};
  ServerEngine engine_{storage_.Options()};
  TestClient a_{engine_, 1};
  TestClient b_{engine_, 2};
  int32_t db_a_ = 0;
  int32_t db_b_ = 0;
  OpenCursor ca_;
  OpenCursor cb_;
};

TEST_P(RecordLocks, TwoSessionsRaisingOneCounterAtOnceLoseNoIncrement) {
  constexpr int kRaises = 400;
  std::barrier start(2);
  std::atomic<int> raised{0};
  auto run = [&](TestClient& t, const OpenCursor& c) {
    start.arrive_and_wait();
    for (int n = 0; n < kRaises; ++n)
      if (Raise(t, c, std::chrono::seconds(30)))
        ++raised;
  };
  std::thread other([&] { run(b_, cb_); });
  run(a_, ca_);
  other.join();
  EXPECT_EQ(raised.load(), 2 * kRaises);
  EngineReply now = a_.Get(nxmsg::kRecordGet, ca_);
  ASSERT_EQ(now.code, 0u);
  EXPECT_EQ(Maara(ca_, now.data), 1u + static_cast<uint32_t>(raised.load()));
}

TEST_P(RecordLocks, ClosingTheSessionReleasesItsLocks) {
  ASSERT_EQ(a_.Get(nxmsg::kRecordGet, ca_, kLockForEdit).code, 0u);
  ASSERT_EQ(b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit).code, 10241u);
  engine_.CloseSession(1);
  EXPECT_EQ(b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit).code, 0u);
  engine_.OpenSession(1);  // for the fixture's own close
}

TEST_P(RecordLocks, AModifyWithoutAnEditHoldsTheRecordForItsWriteOnly) {
  // A post without an edit lock (as an optimistic edit sends it) changes the record and
  // leaves no lock behind; another session's lock still refuses it.
  EngineReply read = a_.Get(nxmsg::kRecordGet, ca_);
  ASSERT_EQ(read.code, 0u);
  SetInt32(*ca_.dict, &read.data, "Maara", 5);
  ASSERT_EQ(a_.Modify(ca_, read.data), 0u);
  EngineReply edit = b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  EXPECT_EQ(Maara(cb_, edit.data), 5u);
  SetInt32(*ca_.dict, &read.data, "Maara", 6);
  EXPECT_EQ(a_.Modify(ca_, read.data), 10241u);
  EXPECT_EQ(b_.Modify(cb_, edit.data), 0u);
  EXPECT_EQ(a_.Get(nxmsg::kRecordGet, ca_, kLockForEdit).code, 0u);
}

TEST_P(RecordLocks, APostInsideATransactionHoldsTheRecordUntilTheTransactionEnds) {
  // Committed: B may edit only after the commit, and reads the committed value.
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_a_, 0, 0}.Encode()).code,
            0u);
  EngineReply edit = a_.Get(nxmsg::kRecordGet, ca_, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  SetInt32(*ca_.dict, &edit.data, "Maara", 2);
  ASSERT_EQ(a_.Modify(ca_, edit.data), 0u);
  EXPECT_EQ(b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit).code, 10241u);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionCommit, db_a_), 0u);
  EngineReply b_edit = b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit);
  ASSERT_EQ(b_edit.code, 0u);
  EXPECT_EQ(Maara(cb_, b_edit.data), 2u);
  ASSERT_EQ(b_.Call(nxmsg::kRecordRelLock, ObjectByteRequest{cb_.id, 0}.Encode()).code, 0u);

  // Rolled back, nested: the lock stays through the inner commit, and after the rollback B
  // reads the value from before the transaction.
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_a_, 0, 0}.Encode()).code,
            0u);
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_a_, 0, 0}.Encode()).code,
            0u);
  edit = a_.Get(nxmsg::kRecordGet, ca_, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  SetInt32(*ca_.dict, &edit.data, "Maara", 3);
  ASSERT_EQ(a_.Modify(ca_, edit.data), 0u);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionCommit, db_a_), 0u);
  EXPECT_EQ(b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit).code, 10241u);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionRollback, db_a_), 0u);
  b_edit = b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit);
  ASSERT_EQ(b_edit.code, 0u);
  EXPECT_EQ(Maara(cb_, b_edit.data), 2u);
}

TEST_P(RecordLocks, ADeleteInsideATransactionHoldsTheRecordUntilItIsRolledBack) {
  ASSERT_EQ(a_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_a_, 0, 0}.Encode()).code,
            0u);
  ASSERT_EQ(a_.Get(nxmsg::kRecordGet, ca_).code, 0u);
  ASSERT_EQ(a_.Call(nxmsg::kRecordDelete, RecordDeleteRequest{ca_.id, 0}.Encode()).code, 0u);
  EXPECT_EQ(b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit).code, 10241u);
  ASSERT_EQ(a_.Simple(nxmsg::kTransactionRollback, db_a_), 0u);
  EngineReply b_edit = b_.Get(nxmsg::kRecordGet, cb_, kLockForEdit);
  ASSERT_EQ(b_edit.code, 0u);
  EXPECT_EQ(Maara(cb_, b_edit.data), 1u);
}

INSTANTIATE_TEST_SUITE_P(Storage, RecordLocks, ::testing::ValuesIn(StorageKinds()),
                         [](const auto& p) { return StorageName(p.param); });

}  // namespace
}  // namespace vantera::testing
