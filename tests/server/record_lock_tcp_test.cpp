// Record locks between two clients of the real kantadb-server over TCP on loopback: an
// edit of a record another client edits is answered 10241 with no bytes, and the lock goes
// with its session, whether the client closes the session or its connection is dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "protocol/nxRequests.h"
#include "protocol/nxsdDataDictionary.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/remote_client.h"
#include "tests/server/server_process.h"

namespace vantera::testing {
namespace {

constexpr uint8_t kLockForEdit = 2;

// One client with its database and an ASSORMI cursor, in requests.
class LockClient {
 public:
  explicit LockClient(uint16_t port, uint32_t heartbeat = 10000) : client_(port, heartbeat) {
    DatabaseOpenRequest open;
    open.keyword = "Name";
    open.alias = "Tarvola";
    open.timeout = 5000;
    EngineReply db = client_.Call(nxmsg::kDatabaseOpen, open.Encode());
    EXPECT_EQ(db.code, 0u);
    TableOpenRequest table;
    table.database_id = db.code == 0 ? DecodeInt32Reply(db.data) : 0;
    table.table_name = "ASSORMI";
    table.timeout = 5000;
    EngineReply t = client_.Call(nxmsg::kTableOpen, table.Encode());
    EXPECT_EQ(t.code, 0u);
    if (t.code != 0)
      return;
    TableOpenReply reply = TableOpenReply::Decode(t.data);
    cursor_ = reply.cursor_id;
    index_ = reply.index_number;
    dict_.ReadFromBytes(reply.dictionary);
  }

  const TnxDataDictionary& dict() const { return dict_; }

  EngineReply Get(uint32_t id, uint8_t lock_mode = 0) {
    RecordGetRequest r;
    r.cursor_id = cursor_;
    r.lock_mode = lock_mode;
    r.record_length = static_cast<uint16_t>(dict_.RecordLength());
    r.bookmark_size = static_cast<uint16_t>(dict_.BookmarkSize(index_));
    return client_.Call(id, r.Encode());
  }
  uint32_t Insert(const Bytes& image) {
    RecordWriteRequest r;
    r.cursor_id = cursor_;
    r.record = image;
    r.bookmark_size = dict_.BookmarkSize(index_);
    return client_.Call(nxmsg::kRecordInsert, r.Encode(nxmsg::kRecordInsert)).code;
  }
  uint32_t Modify(const Bytes& image) {
    RecordWriteRequest r;
    r.cursor_id = cursor_;
    r.release_lock = true;
    r.record = image;
    r.bookmark_size = dict_.BookmarkSize(index_);
    return client_.Call(nxmsg::kRecordModify, r.Encode(nxmsg::kRecordModify)).code;
  }
  uint32_t ReleaseLock() {
    return client_.Call(nxmsg::kRecordRelLock, ObjectByteRequest{cursor_, 0}.Encode()).code;
  }
  void Vanish() { client_.Vanish(); }

 private:
  RemoteClient client_;
  int32_t cursor_ = 0;
  int32_t index_ = 0;
  TnxDataDictionary dict_;
};

// Edits on `c` until one is not refused for a lock, for at most `limit`.
EngineReply EditWhenFree(LockClient& c, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  EngineReply r = c.Get(nxmsg::kRecordGet, kLockForEdit);
  while (r.code == 10241 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    r = c.Get(nxmsg::kRecordGet, kLockForEdit);
  }
  return r;
}

class RecordLocksOverTcp : public ::testing::Test {
 protected:
  RecordLocksOverTcp() {
    Bytes rec = b_->dict().NewRecord();
    SetText(b_->dict(), &rec, "AsNo", "           1001");
    SetText(b_->dict(), &rec, "KorttiLyh", "6390000010010001");
    SetInt32(b_->dict(), &rec, "Maara", 1);
    EXPECT_EQ(b_->Insert(rec), 0u);
    EXPECT_EQ(a_->Get(nxmsg::kRecordGetNext).code, 0u);
  }
  ~RecordLocksOverTcp() override {
    a_.reset();
    b_.reset();
    EXPECT_EQ(server_.Stop(), 0);
  }

  TempFolder folder_;
  ServerProcess server_{{"--data", folder_.Sub("data"), "--no-discovery"}};
  // A announces a short heartbeat, so that its transport is dropped soon after it goes
  // silent.
  std::unique_ptr<LockClient> a_ = std::make_unique<LockClient>(server_.Port(), 500);
  std::unique_ptr<LockClient> b_ = std::make_unique<LockClient>(server_.Port());
};

TEST_F(RecordLocksOverTcp, ASecondEditIsRefusedUntilTheFirstPostsOrCancels) {
  EngineReply edit = a_->Get(nxmsg::kRecordGet, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  EngineReply refused = b_->Get(nxmsg::kRecordGet, kLockForEdit);
  EXPECT_EQ(refused.code, 10241u);
  EXPECT_EQ(refused.data, Bytes());
  // Reading without a lock still works, and so does A's post.
  EXPECT_EQ(b_->Get(nxmsg::kRecordGet).code, 0u);
  SetInt32(a_->dict(), &edit.data, "Maara", 2);
  ASSERT_EQ(a_->Modify(edit.data), 0u);
  EngineReply b_edit = b_->Get(nxmsg::kRecordGet, kLockForEdit);
  ASSERT_EQ(b_edit.code, 0u);
  EXPECT_EQ(b_edit.data, edit.data);  // the version A posted
  EXPECT_EQ(a_->Get(nxmsg::kRecordGet, kLockForEdit).code, 10241u);
  ASSERT_EQ(b_->ReleaseLock(), 0u);  // B cancels
  EXPECT_EQ(a_->Get(nxmsg::kRecordGet, kLockForEdit).code, 0u);
}

TEST_F(RecordLocksOverTcp, ClosingTheSessionReleasesItsLock) {
  ASSERT_EQ(a_->Get(nxmsg::kRecordGet, kLockForEdit).code, 0u);
  ASSERT_EQ(b_->Get(nxmsg::kRecordGet, kLockForEdit).code, 10241u);
  a_.reset();  // closes the session, then the transport
  EXPECT_EQ(EditWhenFree(*b_, std::chrono::seconds(10)).code, 0u);
}

TEST_F(RecordLocksOverTcp, ADroppedConnectionReleasesItsLock) {
  ASSERT_EQ(a_->Get(nxmsg::kRecordGet, kLockForEdit).code, 0u);
  ASSERT_EQ(b_->Get(nxmsg::kRecordGet, kLockForEdit).code, 10241u);
  a_->Vanish();  // every connection closed, nothing said to the server
  EXPECT_EQ(EditWhenFree(*b_, std::chrono::seconds(10)).code, 0u);
  EXPECT_TRUE(server_.WaitForLog("dropped with 1 session(s)"));
}

}  // namespace
}  // namespace vantera::testing
