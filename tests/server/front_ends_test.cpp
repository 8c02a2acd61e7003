// Several kantadb-server processes over one PostgreSQL database, each a front-end without
// state of its own: a fingerprint enrolled through one is identified through the other, a
// record lock taken through one refuses an edit through the other, a front-end killed
// inside a transaction loses that transaction and nothing else, and a front-end outlives
// a restart of PostgreSQL under it.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fingerprint/finger_random.h"
#include "fingerprint/fp_template.h"
#include "fingerprint/matcher.h"
#include "fingerprint/simulated_finger.h"
#include "protocol/nxRequests.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/remote_client.h"
#include "tests/server/server_process.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

constexpr uint8_t kLockForEdit = 2;
constexpr uint32_t kLockedByOther = 10241;
const std::string kCard = "6390000010010001";
const std::string kFinger = "Matti Virtanen, oikea etusormi";

struct Cursor {
  int32_t database = 0;
  int32_t id = 0;
  TnxDataDictionary dict;
};

// A cursor on `table` of alias Tarvola; `timeout` is how long a write waits for another
// client's transaction.
Cursor Open(RemoteClient& c, const std::string& table, int32_t timeout = 2000) {
  DatabaseOpenRequest open;
  open.keyword = "Name";
  open.alias = "Tarvola";
  open.open_mode = 2;
  open.timeout = timeout;
  EngineReply db = c.Call(nxmsg::kDatabaseOpen, open.Encode());
  if (db.code != 0)
    throw std::runtime_error("DatabaseOpen " + std::to_string(db.code));
  TableOpenRequest topen;
  topen.database_id = DecodeInt32Reply(db.data);
  topen.table_name = table;
  topen.open_mode = 2;
  topen.timeout = timeout;
  EngineReply t = c.Call(nxmsg::kTableOpen, topen.Encode());
  if (t.code != 0)
    throw std::runtime_error("TableOpen " + std::to_string(t.code));
  TableOpenReply reply = TableOpenReply::Decode(t.data);
  Cursor cursor;
  cursor.database = topen.database_id;
  cursor.id = reply.cursor_id;
  cursor.dict.ReadFromBytes(reply.dictionary);
  return cursor;
}

EngineReply Get(RemoteClient& c, const Cursor& t, uint32_t id, uint8_t lock_mode = 0) {
  RecordGetRequest r{t.id, lock_mode, static_cast<uint16_t>(t.dict.RecordLength()), 0};
  return c.Call(id, r.Encode());
}

uint32_t Insert(RemoteClient& c, const Cursor& t, const Bytes& image) {
  RecordWriteRequest w;
  w.cursor_id = t.id;
  w.record = image;
  return c.Call(nxmsg::kRecordInsert, w.Encode(nxmsg::kRecordInsert)).code;
}

uint32_t Modify(RemoteClient& c, const Cursor& t, const Bytes& image) {
  RecordWriteRequest w;
  w.cursor_id = t.id;
  w.release_lock = true;
  w.record = image;
  return c.Call(nxmsg::kRecordModify, w.Encode(nxmsg::kRecordModify)).code;
}

int32_t Count(RemoteClient& c, const Cursor& t, uint32_t* code = nullptr) {
  EngineReply r = c.Call(nxmsg::kCursorRecordCount, ObjectRequest{t.id}.Encode());
  if (code)
    *code = r.code;
  return r.code == 0 ? DecodeInt32Reply(r.data) : -1;
}

int32_t Maara(const Cursor& t, const Bytes& image) {
  return static_cast<int32_t>(
      DecodeFixed32(image.data() + t.dict.Field(t.dict.FieldNumber("Maara")).offset));
}

Bytes Fingerprint(const Cursor& t, const std::string& card, int64_t blob) {
  Bytes rec = t.dict.NewRecord();
  SetText(t.dict, &rec, "AsNo", "           1001");
  SetText(t.dict, &rec, "KorttiLyh", card);
  SetInt32(t.dict, &rec, "Maara", 1);
  if (blob != 0)
    SetInt64(t.dict, &rec, "Jalki", blob);
  return rec;
}

Bytes Customer(const Cursor& t, const std::string& as_no) {
  Bytes rec = t.dict.NewRecord();
  SetText(t.dict, &rec, "AsNo", as_no);
  SetText(t.dict, &rec, "AsNimi", "Asiakas " + as_no);
  return rec;
}

// One placement of the named finger as the reader's template bytes.
Bytes Placement(const std::string& finger, uint64_t seed) {
  FingerRandom rng(seed);
  TemplateData data;
  data.instance_id = seed;
  data.minutiae = PlaceFinger(PatternOfFinger(finger), rng);
  return EncodeTemplate(data);
}

// Tries `attempt` every 50 ms for at most 10 s until it answers `wanted`; returns the last
// answer. The database sees a killed front-end's connection end a moment after the kill.
uint32_t Eventually(uint32_t wanted, const std::function<uint32_t()>& attempt) {
  uint32_t code = attempt();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (code != wanted && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    code = attempt();
  }
  return code;
}

class FrontEnds : public ::testing::Test {
 protected:
  void SetUp() override {
    VANTERA_SKIP_UNAVAILABLE(storage_);
    one_ = std::make_unique<ServerProcess>(Args());
    two_ = std::make_unique<ServerProcess>(Args());
  }

  std::vector<std::string> Args() const {
    return {"--storage", "postgresql", "--pg", storage_.conninfo(), "--no-discovery", "--no-local"};
  }

  TestStorage storage_{StorageKind::kPostgresql};
  std::unique_ptr<ServerProcess> one_;
  std::unique_ptr<ServerProcess> two_;
};

// Workstation A enrols a finger through the first front-end; workstation B, on the
// second, finds the card's fingerprint, reads its template whole, identifies a new
// placement of the same finger with it (and not another finger), and counts the
// identification, which A then reads.
TEST_F(FrontEnds, EnrolledThroughOneIdentifiedThroughTheOther) {
  RemoteClient a(one_->Port());
  Cursor ta = Open(a, "ASSORMI");
  const Bytes enrolled = Placement(kFinger, 1);
  EngineReply blob = a.Call(nxmsg::kBlobCreate, ObjectRequest{ta.id}.Encode());
  ASSERT_EQ(blob.code, 0u);
  int64_t number = DecodeInt64Reply(blob.data);
  ASSERT_EQ(a.Call(nxmsg::kBlobWrite, BlobWriteRequest{ta.id, number, 0, enrolled}.Encode()).code,
            0u);
  ASSERT_EQ(Insert(a, ta, Fingerprint(ta, kCard, number)), 0u);

  RemoteClient b(two_->Port());
  Cursor tb = Open(b, "ASSORMI");
  EngineReply found = Get(b, tb, nxmsg::kRecordGetNext);
  ASSERT_EQ(found.code, 0u);
  EXPECT_EQ(GetText(tb.dict, found.data, "KorttiLyh"), kCard);
  EXPECT_EQ(GetText(tb.dict, found.data, "AsNo"), "           1001");
  int64_t stored_blob = GetInt64(tb.dict, found.data, "Jalki");
  EXPECT_EQ(stored_blob, number);
  EngineReply read =
      b.Call(nxmsg::kBlobRead, BlobReadRequest{tb.id, stored_blob, 0, 4096}.Encode());
  ASSERT_EQ(read.code, 8711u);  // all of it, the end reached
  const Bytes stored(DecodeBlobReadReply(read.data));
  ASSERT_EQ(stored, enrolled);
  TemplateData reference = DecodeTemplate(stored);
  TemplateData capture = DecodeTemplate(Placement(kFinger, 2));
  EXPECT_TRUE(MatchMinutiae(capture.minutiae, reference.minutiae).same);
  TemplateData stranger = DecodeTemplate(Placement("Liisa Korhonen, vasen peukalo", 3));
  EXPECT_FALSE(MatchMinutiae(stranger.minutiae, reference.minutiae).same);

  // B counts the identification as the workstation does: edit, Maara + 1, post.
  EngineReply edit = Get(b, tb, nxmsg::kRecordGet, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  SetInt32(tb.dict, &edit.data, "Maara", Maara(tb, edit.data) + 1);
  ASSERT_EQ(Modify(b, tb, edit.data), 0u);
  EngineReply seen = Get(a, ta, nxmsg::kRecordGet);
  ASSERT_EQ(seen.code, 0u);
  EXPECT_EQ(Maara(ta, seen.data), 2);
  EXPECT_EQ(Get(b, tb, nxmsg::kRecordGetNext).code, 8706u);  // the card's only record
}

// A record locked for edit through the first front-end refuses an edit and a post through
// the second with 10241 until the first posts it; then the second locks it.
TEST_F(FrontEnds, ARecordLockedThroughOneIsRefusedThroughTheOther) {
  RemoteClient a(one_->Port());
  Cursor ta = Open(a, "ASSORMI");
  ASSERT_EQ(Insert(a, ta, Fingerprint(ta, kCard, 0)), 0u);
  RemoteClient b(two_->Port());
  Cursor tb = Open(b, "ASSORMI");
  ASSERT_EQ(Get(b, tb, nxmsg::kRecordGetNext).code, 0u);

  EngineReply held = Get(a, ta, nxmsg::kRecordGet, kLockForEdit);
  ASSERT_EQ(held.code, 0u);
  EXPECT_EQ(Get(b, tb, nxmsg::kRecordGet, kLockForEdit).code, kLockedByOther);
  EngineReply plain = Get(b, tb, nxmsg::kRecordGet);
  ASSERT_EQ(plain.code, 0u);  // reading stays possible
  SetInt32(tb.dict, &plain.data, "Maara", 7);
  EXPECT_EQ(Modify(b, tb, plain.data), kLockedByOther);
  EngineReply locked = b.Call(nxmsg::kRecordIsLocked, ObjectByteRequest{tb.id, 0}.Encode());
  ASSERT_EQ(locked.code, 0u);
  EXPECT_EQ(DecodeByteReply(locked.data), 1);

  SetInt32(ta.dict, &held.data, "Maara", 2);
  ASSERT_EQ(Modify(a, ta, held.data), 0u);  // posts and releases
  EngineReply edit = Get(b, tb, nxmsg::kRecordGet, kLockForEdit);
  ASSERT_EQ(edit.code, 0u);
  EXPECT_EQ(Maara(tb, edit.data), 2);  // the version the lock protects
  EXPECT_EQ(Get(a, ta, nxmsg::kRecordGet, kLockForEdit).code, kLockedByOther);
}

// The first front-end is killed (SIGKILL) while a client of it has a transaction open with
// a customer inserted and a record locked: the database rolls that transaction back and
// releases the lock; what the second front-end's client committed is all there, and the
// second front-end serves on.
TEST_F(FrontEnds, AFrontEndKilledInsideATransactionLosesThatTransactionOnly) {
  RemoteClient b(two_->Port());
  Cursor fb = Open(b, "ASSORMI");
  Cursor cb = Open(b, "ASIAKAS", 100);
  ASSERT_EQ(Insert(b, fb, Fingerprint(fb, kCard, 0)), 0u);
  ASSERT_EQ(Insert(b, cb, Customer(cb, "1")), 0u);

  RemoteClient a(one_->Port());
  Cursor fa = Open(a, "ASSORMI");
  Cursor ca = Open(a, "ASIAKAS");
  ASSERT_EQ(Get(a, fa, nxmsg::kRecordGetNext, kLockForEdit).code, 0u);
  ASSERT_EQ(
      a.Call(nxmsg::kTransactionStart, TransactionStartRequest{ca.database, 0, 0}.Encode()).code,
      0u);
  ASSERT_EQ(Insert(a, ca, Customer(ca, "2")), 0u);
  EXPECT_EQ(Get(b, fb, nxmsg::kRecordGet, kLockForEdit).code, kLockedByOther);
  // The uncommitted customer 2 holds its key: the same number through B waits and times out.
  EXPECT_EQ(Insert(b, cb, Customer(cb, "2")), 10249u);

  ASSERT_EQ(::kill(one_->Pid(), SIGKILL), 0);
  a.Vanish();
  EXPECT_EQ(Eventually(0, [&] { return Insert(b, cb, Customer(cb, "2")); }), 0u);
  EXPECT_EQ(Eventually(0, [&] { return Get(b, fb, nxmsg::kRecordGet, kLockForEdit).code; }), 0u);
  EXPECT_EQ(Count(b, cb), 2);  // customer 1 and B's own customer 2
  EXPECT_EQ(Count(b, fb), 1);
  ASSERT_EQ(Get(b, cb, nxmsg::kRecordGet).code, 0u);
  EXPECT_EQ(GetText(cb.dict, Get(b, cb, nxmsg::kRecordGet).data, "AsNimi"), "Asiakas 2");
}

// PostgreSQL stops and starts again under a running front-end: its requests fail with a
// code while the database is away and work again afterwards, on the same session, database
// and cursor, without restarting the front-end.
TEST_F(FrontEnds, AFrontEndServesAgainAfterPostgresqlRestarts) {
  RemoteClient a(one_->Port());
  Cursor ta = Open(a, "ASSORMI");
  ASSERT_EQ(Insert(a, ta, Fingerprint(ta, kCard, 0)), 0u);
  ASSERT_EQ(Count(a, ta), 1);

  PgCluster::Shared().Stop();
  uint32_t code = 0;
  EXPECT_EQ(Count(a, ta, &code), -1);
  EXPECT_NE(code, 0u);
  EXPECT_NE(Insert(a, ta, Fingerprint(ta, "6390000010010002", 0)), 0u);
  EXPECT_NE(Get(a, ta, nxmsg::kRecordGet, kLockForEdit).code, 0u);
  PgCluster::Shared().Start();

  EXPECT_EQ(Eventually(0,
                       [&] {
                         uint32_t c = 0;
                         Count(a, ta, &c);
                         return c;
                       }),
            0u);
  EXPECT_EQ(Count(a, ta), 1);  // what was committed before the restart
  EXPECT_EQ(Eventually(0, [&] { return Insert(a, ta, Fingerprint(ta, "6390000010010003", 0)); }),
            0u);
  EXPECT_EQ(Count(a, ta), 2);
  EXPECT_EQ(Eventually(0, [&] { return Get(a, ta, nxmsg::kRecordGet, kLockForEdit).code; }), 0u);
  // The lock is the database's again: the other front-end is refused.
  RemoteClient b(two_->Port());
  Cursor tb = Open(b, "ASSORMI");
  bool on_it = false;
  for (int i = 0; i < 3 && !on_it; ++i) {
    EngineReply r = Get(b, tb, nxmsg::kRecordGetNext);
    ASSERT_EQ(r.code, 0u);
    on_it = GetText(tb.dict, r.data, "KorttiLyh") == "6390000010010003";
  }
  ASSERT_TRUE(on_it);
  EXPECT_EQ(Get(b, tb, nxmsg::kRecordGet, kLockForEdit).code, kLockedByOther);
}

}  // namespace
}  // namespace vantera::testing
