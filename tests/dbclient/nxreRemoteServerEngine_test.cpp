#include "dbclient/nxreRemoteServerEngine.h"

#include <gtest/gtest.h>

#include "protocol/nxllException.h"
#include "tests/dbclient/recording_transport.h"

namespace vantera {
namespace {

using testing::RecordingTransport;
using testing::ScriptedReply;

TnxDataDictionary SmallDictionary() {
  TnxDataDictionary d;
  d.AddField("AsNo", nxtShortString, 15);
  d.AddField("Maara", nxtInt32);
  d.AddCompositeIndex("AsNo", {"AsNo"}, true);
  return d;
}

struct EngineFixture : ::testing::Test {
  RecordingTransport transport;
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  std::unique_ptr<TnxRemoteSession> session;
  std::unique_ptr<TnxRemoteDatabase> database;
  std::unique_ptr<TnxRemoteCursor> cursor;

  void SetUp() override {
    engine.SetTransport(&transport);
    engine.Open();
    ASSERT_EQ(engine.SessionOpen("user", "pw", 10000, session), 0u);
    transport.Answer(nxmsg::kDatabaseOpen, 0, EncodeInt32Reply(3));
    ASSERT_EQ(session->DatabaseOpen(false, "Vantera", 2, 1, 10000, database), 0u);
    TnxDataDictionary dict = SmallDictionary();
    transport.Answer(nxmsg::kTableOpen, 0, TableOpenReply{11, 1, dict.ToBytes()}.Encode());
    ASSERT_EQ(database->TableOpen("ASSORMI", 2, 1, 10000, cursor), 0u);
    transport.ClearRecord();
  }
  void TearDown() override {
    cursor.reset();
    database.reset();
    session.reset();
  }
};

TEST(RemoteEngine, NeedsATransportAndOpensSessionsOnlyOnSuccess) {
  TnxRemoteServerEngine engine("nxRemoteServerEngine");
  try {
    engine.Open();
    FAIL() << "started without a transport";
  } catch (const EnxRemoteServerEngineException& e) {
    EXPECT_STREQ(e.what(), "KantaDB: nxRemoteServerEngine: Transport required [no error code]");
  }
  EXPECT_EQ(engine.State(), TnxState::Inactive);

  RecordingTransport transport;
  RecordingTransport other;
  engine.SetTransport(&transport);
  engine.Open();
  EXPECT_TRUE(transport.Active());  // starting the engine started its transport
  EXPECT_THROW(engine.SetTransport(&other), EnxRemoteServerEngineException);

  std::unique_ptr<TnxRemoteSession> session;
  transport.login_result = 10036;
  EXPECT_EQ(engine.SessionOpen("x", "y", 10000, session), 10036u);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(engine.SessionCount(), 0u);
  transport.login_result = 0;
  ASSERT_EQ(engine.SessionOpen("x", "y", 10000, session), 0u);
  EXPECT_EQ(engine.SessionCount(), 1u);
  session.reset();
  EXPECT_EQ(transport.closed_sessions, std::vector<uint32_t>{7});
  EXPECT_EQ(engine.SessionCount(), 0u);

  // A transport that goes away stops the engine, which forgets it.
  {
    RecordingTransport short_lived;
    engine.Close();
    engine.SetTransport(&short_lived);
    engine.Open();
  }
  EXPECT_EQ(engine.Transport(), nullptr);
  EXPECT_EQ(engine.State(), TnxState::Inactive);
}

TEST_F(EngineFixture, OpensDatabaseWithModesAndCursorWithItsDictionary) {
  std::unique_ptr<TnxRemoteDatabase> db;
  transport.Answer(nxmsg::kDatabaseOpen, 0, EncodeInt32Reply(4));
  ASSERT_EQ(session->DatabaseOpen(false, "Vantera", 0, 0, 5000, db), 0u);
  auto q = DatabaseOpenRequest::Decode(transport.requests.back().payload);
  EXPECT_EQ(q.keyword, "Name");
  EXPECT_EQ(q.alias, "Vantera");
  EXPECT_EQ(q.open_mode, 0);
  EXPECT_EQ(q.share_mode, 0);
  EXPECT_EQ(db->Id(), 4);
  EXPECT_EQ(db->Timeout(), 5000u);

  EXPECT_EQ(cursor->Id(), 11);
  EXPECT_EQ(cursor->IndexNumber(), 1);
  EXPECT_EQ(cursor->Dictionary().FieldCount(), 2);
  EXPECT_EQ(cursor->BookmarkSize(), 16 + 1 + 24);

  // A dictionary that cannot be read: no cursor and no close request for it.
  std::unique_ptr<TnxRemoteCursor> bad;
  transport.Answer(nxmsg::kTableOpen, 0, TableOpenReply{12, 0, "\x07\x01X"}.Encode());
  EXPECT_EQ(database->TableOpen("X", 2, 1, 10000, bad), 15498u);
  EXPECT_EQ(bad, nullptr);

  transport.ClearRecord();
  db.reset();
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_EQ(transport.requests[0].message_id, 0x21FFu);
  EXPECT_EQ(transport.requests[0].payload, ObjectRequest{4}.Encode());
}

TEST_F(EngineFixture, StaleRepliesWrongIdsAndMissingReplies) {
  // A reply with another message id gives 15522 and is dropped.
  transport.AnswerWith(nxmsg::kCursorSetToBegin, {nxmsg::kCursorSetToEnd, 0, {}});
  EXPECT_EQ(cursor->SetToBegin(), 15522u);
  EXPECT_EQ(session->QueuedReplies(), 0u);

  // Stale replies that arrive before the answer are dropped by the next request's drain.
  transport.PushExtra({nxmsg::kRecordGet, 0, "old"});
  transport.PushExtra({nxmsg::kRecordGetNext, 0, "older"});
  transport.AnswerWith(nxmsg::kCursorSetToBegin, {nxmsg::kCursorSetToBegin, 0, {}});
  // The first queued entry (RecordGet) is taken as the answer: another id, 15522.
  EXPECT_EQ(cursor->SetToBegin(), 15522u);
  EXPECT_EQ(session->QueuedReplies(), 2u);
  size_t sent = transport.requests.size();
  EXPECT_EQ(cursor->SetToEnd(), 0u);  // drains both stale entries, then sends
  EXPECT_EQ(transport.requests.size(), sent + 1);
  EXPECT_EQ(session->QueuedReplies(), 0u);

  // No reply at all: 10756.
  transport.SwallowNext();
  EXPECT_EQ(cursor->SetToBegin(), 10756u);

  // The engine keeps no error state: the next request works.
  EXPECT_EQ(cursor->SetToBegin(), 0u);
}

TEST_F(EngineFixture, BatchRepliesQueueTheirSubRepliesInOrder) {
  Bytes bookmark(static_cast<size_t>(cursor->BookmarkSize()), 'b');
  Bytes record(static_cast<size_t>(cursor->RecordLength()), 'r');
  std::vector<SubReply> subs{{nxmsg::kRecordGetNext, 0, record},
                             {nxmsg::kCursorGetBookmark, 0, bookmark},
                             {nxmsg::kCursorRecordCount, 0, EncodeInt32Reply(5)}};
  transport.AnswerWith(nxmsg::kRecordGetNext, {nxmsg::kBatchReply, 0, EncodeBatchReply(subs)});
  Bytes got;
  EXPECT_EQ(cursor->RecordGet(nxmsg::kRecordGetNext, 0, &got), 0u);
  EXPECT_EQ(got, record);
  EXPECT_EQ(session->QueuedReplies(), 2u);
  // The next two are answered from the queue without sending anything.
  size_t sent = transport.requests.size();
  Bytes bm;
  EXPECT_EQ(cursor->GetBookmark(bm), 0u);
  EXPECT_EQ(bm, bookmark);
  int32_t count = 0;
  EXPECT_EQ(cursor->RecordCount(count), 0u);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(transport.requests.size(), sent);

  // A batch whose first sub-reply failed queues only that one.
  subs[0].result = 8706;
  transport.AnswerWith(nxmsg::kRecordGetNext, {nxmsg::kBatchReply, 0, EncodeBatchReply(subs)});
  EXPECT_EQ(cursor->RecordGet(nxmsg::kRecordGetNext, 0, &got), 8706u);
  EXPECT_EQ(session->QueuedReplies(), 0u);

  // A malformed batch matches nothing: 15522.
  transport.AnswerWith(nxmsg::kCursorSetToBegin, {nxmsg::kBatchReply, 0, "\x01\x02"});
  EXPECT_EQ(cursor->SetToBegin(), 15522u);
}

TEST_F(EngineFixture, BlobReadsInPiecesAndStopsAtTheEnd) {
  // 1000000 bytes from the start: two pieces, 524288 at 0 and 475712 at 524288.
  transport.handler = [](const testing::RecordedRequest& r) {
    auto q = BlobReadRequest::Decode(r.payload);
    return ScriptedReply{r.message_id, 0, EncodeBlobReadReply(Bytes(q.length, 'x'))};
  };
  Bytes data;
  EXPECT_EQ(cursor->BlobRead(9, 0, 1000000, data), 0u);
  EXPECT_EQ(data.size(), 1000000u);
  ASSERT_EQ(transport.requests.size(), 2u);
  EXPECT_EQ(transport.requests[0].payload, (BlobReadRequest{11, 9, 0, 524288}.Encode()));
  EXPECT_EQ(transport.requests[1].payload, (BlobReadRequest{11, 9, 524288, 475712}.Encode()));

  // A short piece ends the read.
  transport.ClearRecord();
  transport.handler = nullptr;
  transport.Answer(nxmsg::kBlobRead, 0, EncodeBlobReadReply(Bytes(100, 'y')));
  EXPECT_EQ(cursor->BlobRead(9, 0, 1000000, data), 0u);
  EXPECT_EQ(data.size(), 100u);
  EXPECT_EQ(transport.requests.size(), 1u);

  // 8711 still delivers its bytes; 9998 (past the end) gives 0 bytes without an error.
  transport.Answer(nxmsg::kBlobRead, 8711, EncodeBlobReadReply("end"));
  EXPECT_EQ(cursor->BlobRead(9, 0, 10, data), 0u);
  EXPECT_EQ(data, "end");
  transport.Answer(nxmsg::kBlobRead, 9998);
  EXPECT_EQ(cursor->BlobRead(9, 5000, 10, data), 0u);
  EXPECT_TRUE(data.empty());
  // More bytes than asked for is a malformed reply.
  transport.Answer(nxmsg::kBlobRead, 0, EncodeBlobReadReply("too long"));
  EXPECT_EQ(cursor->BlobRead(9, 0, 3, data), 15522u);
  // Any other code is the result.
  transport.Answer(nxmsg::kBlobRead, 11896);
  EXPECT_EQ(cursor->BlobRead(9, 0, 3, data), 11896u);

  // Writes go in pieces of the same size.
  transport.ClearRecord();
  EXPECT_EQ(cursor->BlobWrite(9, 0, Bytes(600000, 'w')), 0u);
  ASSERT_EQ(transport.requests.size(), 2u);
  EXPECT_EQ(BlobWriteRequest::Decode(transport.requests[1].payload).offset, 524288);
  EXPECT_EQ(BlobWriteRequest::Decode(transport.requests[1].payload).data.size(), 75712u);
}

TEST_F(EngineFixture, TimeoutsAreSentOnlyWhenTheyChange) {
  EXPECT_EQ(cursor->SetTimeout(10000), 0u);
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_EQ(cursor->SetTimeout(2500), 0u);
  EXPECT_EQ(cursor->SetTimeout(2500), 0u);
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_EQ(transport.requests[0].message_id, nxmsg::kCursorSetTimeout);
  EXPECT_EQ(transport.requests[0].payload, (ObjectInt32Request{11, 2500}.Encode()));
  // Every later request carries the cursor's new timeout.
  cursor->SetToBegin();
  EXPECT_EQ(transport.requests.back().timeout, 2500u);
  EXPECT_EQ(session->SetTimeout(4000), 0u);
  EXPECT_EQ(transport.requests.back().message_id, nxmsg::kSessionSetTimeout);
  EXPECT_EQ(database->SetTimeout(10000), 0u);
  EXPECT_EQ(transport.requests.size(), 3u);
}

TEST_F(EngineFixture, ClosingOnALostConnectionRaisesNothing) {
  transport.lost = true;
  EXPECT_EQ(cursor->SetToBegin(), 11276u);
  transport.ClearRecord();
  EXPECT_NO_THROW(cursor.reset());
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_EQ(transport.requests[0].message_id, 0x03FFu);
  EXPECT_NO_THROW(database.reset());
  EXPECT_EQ(transport.requests.back().message_id, 0x21FFu);

  // Objects that outlive their session are unbound: no close request, no crash.
  transport.lost = false;
  std::unique_ptr<TnxRemoteDatabase> orphan;
  transport.Answer(nxmsg::kDatabaseOpen, 0, EncodeInt32Reply(5));
  ASSERT_EQ(session->DatabaseOpen(true, "/data", 2, 1, 10000, orphan), 0u);
  EXPECT_EQ(DatabaseOpenRequest::Decode(transport.requests.back().payload).keyword, "Path");
  session.reset();
  size_t sent = transport.requests.size();
  EXPECT_FALSE(orphan->Bound());
  EXPECT_EQ(orphan->TransactionCommit(), 9990u);
  orphan.reset();
  EXPECT_EQ(transport.requests.size(), sent);
}

TEST_F(EngineFixture, CursorChecksObjectsOfOtherSessionsAndDatabases) {
  EXPECT_EQ(cursor->SetToCursor(*cursor), 0u);
  EXPECT_TRUE(transport.requests.empty());
  TnxRemoteServerEngine other_engine;
  RecordingTransport other_transport;
  other_engine.SetTransport(&other_transport);
  other_engine.Open();
  std::unique_ptr<TnxRemoteSession> other_session;
  ASSERT_EQ(other_engine.SessionOpen("a", "b", 1000, other_session), 0u);
  TnxRemoteCursor foreign(other_session.get(), nullptr, 1, 0, 1000, SmallDictionary());
  EXPECT_EQ(cursor->SetToCursor(foreign), 10020u);
  EXPECT_EQ(database->TransactionStartWith(false, {&foreign}), 9990u);
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_EQ(database->TransactionStartWith(true, {cursor.get()}), 0u);
  EXPECT_EQ(transport.requests.back().payload,
            (TransactionStartWithRequest{3, true, false, {11}}.Encode()));
}

TEST_F(EngineFixture, AliasCacheAnswersWhileValid) {
  engine.SetCacheAliases(true);
  transport.Answer(nxmsg::kAliasList, 0, EncodeAliasListReply({{"Vantera", "/srv/v"}}));
  std::vector<AliasEntry> list;
  EXPECT_EQ(session->AliasList(list), 0u);
  std::string path;
  EXPECT_EQ(session->AliasGetPath("vantera", path), 0u);
  EXPECT_EQ(path, "/srv/v");
  EXPECT_EQ(session->AliasGetPath("Other", path), 10014u);
  EXPECT_EQ(transport.requests.size(), 1u);
  // A change clears the cache: the next question goes to the server.
  EXPECT_EQ(session->AliasAdd("Other", "/srv/o"), 0u);
  transport.Answer(nxmsg::kAliasGetPath, 0, EncodeShortStringReply("/srv/o"));
  EXPECT_EQ(session->AliasGetPath("Other", path), 0u);
  EXPECT_EQ(transport.Sequence(), "AliasList AliasAdd AliasGetPath");
}

}  // namespace
}  // namespace vantera
