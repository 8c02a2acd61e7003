// ServerEngine's request handlers: every payload is decoded by the shared codecs of
// protocol/nxRequests.h (which check every length before reading), the operation runs on
// the session's objects, and the reply is encoded by the same codecs.
#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"
#include "server/engine/server_engine.h"

namespace vantera {

namespace {

constexpr uint32_t kNotSupported = 12289;    // Capability not supported.
constexpr uint32_t kUnknownMessage = 15522;  // Message is unrecognized.
constexpr uint8_t kOpenReadWrite = 2;
constexpr uint8_t kShareShared = 1;

EngineReply Ok(Bytes data = {}) {
  return {0, std::move(data)};
}

// Commits or rolls back, then releases the record locks held to the transaction's end
// once none is left, also when the commit or rollback failed after ending it.
template <typename End>
void EndTransaction(ServerDatabase& db, End end) {
  try {
    end();
  } catch (...) {
    db.TransactionEnded();
    throw;
  }
  db.TransactionEnded();
}

}  // namespace

EngineReply ServerEngine::Handle(EngineSession& s, uint32_t message_id, std::string_view payload) {
  const RequestInfo* info = nxFindRequest(message_id);
  if (!info)
    return {kUnknownMessage, {}};
  switch (info->owner) {
    case RequestOwner::kSession:
      return HandleSession(s, message_id, payload);
    case RequestOwner::kDatabase:
      return HandleDatabase(s, message_id, payload);
    case RequestOwner::kCursor:
      return HandleCursor(s, message_id, payload);
    case RequestOwner::kStatement:
    case RequestOwner::kTask:
      return {kNotSupported, {}};
  }
  return {kUnknownMessage, {}};
}

EngineReply ServerEngine::HandleSession(EngineSession& s, uint32_t message_id,
                                        std::string_view payload) {
  switch (message_id) {
    case nxmsg::kAliasList: {
      DecodeEmpty(payload);
      std::vector<AliasEntry> list;
      for (const AliasFolder& a : options_.aliases)
        list.push_back({a.name, a.folder});
      return Ok(EncodeAliasListReply(list));
    }
    case nxmsg::kAliasGetPath: {
      NamesRequest r = NamesRequest::Decode(payload, false, 1);
      return Ok(EncodeShortStringReply(ResolveFolder("Name", r.names[0])));
    }
    case nxmsg::kDatabaseOpen: {
      DatabaseOpenRequest r = DatabaseOpenRequest::Decode(payload);
      std::string folder = ResolveFolder(r.keyword, r.alias);
      if (s.DatabaseCount() >= options_.max_databases_per_session)
        throw EnxBaseException(9473);  // Insufficient memory for this operation.
      uint32_t id = NewId();
      s.AddDatabase(std::make_unique<ServerDatabase>(
          id, s.id(), folder, r.open_mode != kOpenReadWrite, r.share_mode != kShareShared,
          r.timeout, folders_, options_, faults_));
      return Ok(EncodeInt32Reply(static_cast<int32_t>(id)));
    }
    case nxmsg::kSessionSetTimeout:
      s.timeout = SessionSetTimeoutRequest::Decode(payload).timeout;
      return Ok();
    default:
      // Alias administration belongs to the server's options, not to its clients.
      return {kNotSupported, {}};
  }
}

EngineReply ServerEngine::HandleDatabase(EngineSession& s, uint32_t message_id,
                                         std::string_view payload) {
  switch (message_id) {
    case nxmsg::kTransactionStart: {
      TransactionStartRequest r = TransactionStartRequest::Decode(payload);
      s.Database(r.database_id).store().TransactionStart();
      return Ok();
    }
    case nxmsg::kTransactionStartWith: {
      TransactionStartWithRequest r = TransactionStartWithRequest::Decode(payload);
      ServerDatabase& db = s.Database(r.database_id);
      for (int32_t c : r.cursor_ids)
        if (&s.Cursor(c).database() != &db)
          throw EnxBaseException(9990);
      db.store().TransactionStart();
      return Ok();
    }
    case nxmsg::kTransactionCommit: {
      ServerDatabase& db = s.Database(ObjectRequest::Decode(payload).id);
      EndTransaction(db, [&db] { db.store().TransactionCommit(); });
      return Ok();
    }
    case nxmsg::kTransactionRollback: {
      ServerDatabase& db = s.Database(ObjectRequest::Decode(payload).id);
      EndTransaction(db, [&db] { db.store().TransactionRollback(); });
      return Ok();
    }
    case nxmsg::kTransactionLevel: {
      int level = s.Database(ObjectRequest::Decode(payload).id).store().TransactionLevel();
      if (level == 0)
        throw EnxBaseException(10257);  // No user transaction is currently in progress.
      return Ok(EncodeInt32Reply(level));
    }
    case nxmsg::kTableCreate: {
      TableCreateRequest r = TableCreateRequest::Decode(payload);
      s.Database(r.database_id).CreateTable(r.table_name, r.dictionary);
      return Ok();
    }
    case nxmsg::kTableExists: {
      NamesRequest r = NamesRequest::Decode(payload, true, 1);
      return Ok(EncodeByteReply(s.Database(r.id).TableExists(r.names[0]) ? 1 : 0));
    }
    case nxmsg::kTableGetDictionary: {
      NamesRequest r = NamesRequest::Decode(payload, true, 1);
      return Ok(s.Database(r.id).Table(r.names[0])->dictionary);
    }
    case nxmsg::kTableList: {
      ServerDatabase& db = s.Database(ObjectRequest::Decode(payload).id);
      return Ok(EncodeTableListReply(db.store().TableNames()));
    }
    case nxmsg::kTableOpen: {
      TableOpenRequest r = TableOpenRequest::Decode(payload);
      ServerDatabase& db = s.Database(r.database_id);
      if (s.CursorCount() >= options_.max_cursors_per_session)
        throw EnxBaseException(9473);
      auto table = db.Table(r.table_name);
      if (r.open_mode == kOpenReadWrite && db.store().read_only())
        throw EnxBaseException(10501);  // Database is read only.
      uint32_t id = NewId();
      auto cursor = std::make_unique<ServerCursor>(id, db, table, r.open_mode != kOpenReadWrite,
                                                   r.share_mode != kShareShared, r.timeout);
      TableOpenReply reply;
      reply.cursor_id = static_cast<int32_t>(id);
      reply.index_number = cursor->index();
      reply.dictionary = table->dictionary;
      s.AddCursor(std::move(cursor));
      return Ok(reply.Encode());
    }
    case nxmsg::kDatabaseSetTimeout: {
      ObjectInt32Request r = ObjectInt32Request::Decode(payload);
      ServerDatabase& db = s.Database(r.id);
      db.set_timeout(r.value);
      db.UseTimeout(r.value);
      return Ok();
    }
    case nxmsg::kDatabaseClose:
      s.CloseDatabase(ObjectRequest::Decode(payload).id);
      return Ok();
    default:
      return {kNotSupported, {}};
  }
}

EngineReply ServerEngine::HandleCursor(EngineSession& s, uint32_t message_id,
                                       std::string_view payload) {
  // Every cursor payload starts with the cursor id: as i32 in fixed records, as the first
  // tagged Int otherwise; the codecs below read it with the rest.
  auto cursor_of = [&s](int32_t id) -> ServerCursor& {
    ServerCursor& c = s.Cursor(id);
    c.database().UseTimeout(c.timeout());
    return c;
  };
  switch (message_id) {
    case nxmsg::kCursorSetToBegin:
      cursor_of(ObjectRequest::Decode(payload).id).SetToBegin();
      return Ok();
    case nxmsg::kCursorSetToEnd:
      cursor_of(ObjectRequest::Decode(payload).id).SetToEnd();
      return Ok();
    case nxmsg::kCursorSetToCursor: {
      ObjectInt32Request r = ObjectInt32Request::Decode(payload);
      ServerCursor& c = cursor_of(r.id);
      c.SetToCursor(s.Cursor(r.value));
      return Ok();
    }
    case nxmsg::kCursorGetBookmark: {
      ObjectInt32Request r = ObjectInt32Request::Decode(payload);
      return Ok(cursor_of(r.id).GetBookmark(r.value));
    }
    case nxmsg::kCursorCompareBookmarks: {
      BookmarksRequest r = BookmarksRequest::Decode(payload, 2);
      int8_t c = cursor_of(r.cursor_id).CompareBookmarks(r.bookmarks[0], r.bookmarks[1]);
      return Ok(EncodeByteReply(static_cast<uint8_t>(c)));
    }
    case nxmsg::kCursorSetToBookmark: {
      BookmarksRequest r = BookmarksRequest::Decode(payload, 1);
      cursor_of(r.cursor_id).SetToBookmark(r.bookmarks[0]);
      return Ok();
    }
    case nxmsg::kRecordGet:
    case nxmsg::kRecordGetNext:
    case nxmsg::kRecordGetPrior: {
      RecordGetRequest r = RecordGetRequest::Decode(payload);
      ServerCursor& c = cursor_of(r.cursor_id);
      if (r.record_length != 0 && r.record_length != c.table().schema.record_length)
        throw EnxBaseException(9986);
      bool want = r.record_length != 0;
      if (message_id == nxmsg::kRecordGet)
        return Ok(c.RecordGet(r.lock_mode, want));
      if (message_id == nxmsg::kRecordGetNext)
        return Ok(c.RecordGetNext(r.lock_mode, want));
      return Ok(c.RecordGetPrior(r.lock_mode, want));
    }
    case nxmsg::kRecordInsert:
    case nxmsg::kRecordModify: {
      RecordWriteRequest r = RecordWriteRequest::Decode(static_cast<uint16_t>(message_id), payload);
      ServerCursor& c = cursor_of(r.cursor_id);
      if (message_id == nxmsg::kRecordInsert)
        c.RecordInsert(r.lock_mode, r.record);
      else
        c.RecordModify(r.release_lock, r.record);
      return Ok();
    }
    case nxmsg::kRecordDelete: {
      RecordDeleteRequest r = RecordDeleteRequest::Decode(payload);
      ServerCursor& c = cursor_of(r.cursor_id);
      if (r.record_length != 0 && r.record_length != c.table().schema.record_length)
        throw EnxBaseException(9986);
      return Ok(c.RecordDelete(r.record_length != 0));
    }
    case nxmsg::kRecordDeleteAll:
      cursor_of(ObjectRequest::Decode(payload).id).RecordDeleteAll();
      return Ok();
    case nxmsg::kRecordIsLocked: {
      ObjectByteRequest r = ObjectByteRequest::Decode(payload);
      return Ok(EncodeByteReply(cursor_of(r.id).RecordIsLocked() ? 1 : 0));
    }
    case nxmsg::kRecordRelLock: {
      ObjectByteRequest r = ObjectByteRequest::Decode(payload);
      cursor_of(r.id).RecordRelLock(r.value != 0);
      return Ok();
    }
    case nxmsg::kCursorSwitchToIndex: {
      CursorSwitchToIndexRequest r = CursorSwitchToIndexRequest::Decode(payload);
      int32_t n =
          cursor_of(r.cursor_id).SwitchToIndex(r.index_name, r.index_number, r.keep_position != 0);
      return Ok(EncodeInt32Reply(n));
    }
    case nxmsg::kCursorGetIndexId:
      return Ok(EncodeInt32Reply(cursor_of(ObjectRequest::Decode(payload).id).index()));
    case nxmsg::kRecordGetForKey: {
      RecordGetForKeyRequest r = RecordGetForKeyRequest::Decode(payload);
      ServerCursor& c = cursor_of(r.cursor_id);
      if (r.record_length != 0 && r.record_length != c.table().schema.record_length)
        throw EnxBaseException(9986);
      return Ok(c.RecordGetForKey(r.field_count, r.partial_length, r.first_call != 0,
                                  r.record_length != 0, r.key));
    }
    case nxmsg::kCursorLocate: {
      ObjectBytesRequest r = ObjectBytesRequest::Decode(payload);
      cursor_of(r.id).Locate(LocateFilter::Decode(r.data));
      return Ok();
    }
    case nxmsg::kCursorResetRange:
      cursor_of(ObjectRequest::Decode(payload).id).ResetRange();
      return Ok();
    case nxmsg::kCursorSetRange: {
      CursorSetRangeRequest r = CursorSetRangeRequest::Decode(payload);
      auto range_end = [](const RangeEnd& e) {
        return RangeEndSpec{e.field_count, e.partial_length, e.inclusive, e.key};
      };
      cursor_of(r.cursor_id).SetRange(range_end(r.start), range_end(r.end));
      return Ok();
    }
    case nxmsg::kBlobCreate:
      return Ok(EncodeInt64Reply(cursor_of(ObjectRequest::Decode(payload).id).BlobCreate()));
    case nxmsg::kBlobRelease: {
      BlobRequest r = BlobRequest::Decode(payload);
      cursor_of(r.cursor_id).BlobRelease(r.blob);
      return Ok();
    }
    case nxmsg::kBlobRead: {
      BlobReadRequest r = BlobReadRequest::Decode(payload);
      bool at_end = false;
      Bytes data = cursor_of(r.cursor_id).BlobRead(r.blob, r.offset, r.length, &at_end);
      return {at_end ? 8711u : 0u, EncodeBlobReadReply(data)};  // 8711: End of BLOB.
    }
    case nxmsg::kBlobWrite: {
      BlobWriteRequest r = BlobWriteRequest::Decode(payload);
      cursor_of(r.cursor_id).BlobWrite(r.blob, r.offset, r.data);
      return Ok();
    }
    case nxmsg::kBlobTruncate: {
      BlobTruncateRequest r = BlobTruncateRequest::Decode(payload);
      cursor_of(r.cursor_id).BlobTruncate(r.blob, r.length);
      return Ok();
    }
    case nxmsg::kBlobGetLength: {
      BlobRequest r = BlobRequest::Decode(payload);
      return Ok(EncodeInt32Reply(cursor_of(r.cursor_id).BlobGetLength(r.blob)));
    }
    case nxmsg::kCursorClone: {
      ObjectByteRequest r = ObjectByteRequest::Decode(payload);
      ServerCursor& c = cursor_of(r.id);
      if (s.CursorCount() >= options_.max_cursors_per_session)
        throw EnxBaseException(9473);
      uint32_t id = NewId();
      auto clone = std::make_unique<ServerCursor>(id, c, r.value != kOpenReadWrite);
      CursorCloneReply reply{static_cast<int32_t>(id), clone->index()};
      s.AddCursor(std::move(clone));
      return Ok(reply.Encode());
    }
    case nxmsg::kCursorRecordCount: {
      int64_t n = cursor_of(ObjectRequest::Decode(payload).id).RecordCount();
      return Ok(EncodeInt32Reply(static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX))));
    }
    case nxmsg::kCursorSetTimeout: {
      ObjectInt32Request r = ObjectInt32Request::Decode(payload);
      s.Cursor(r.id).set_timeout(r.value);
      return Ok();
    }
    case nxmsg::kCursorClose:
      s.CloseCursor(ObjectRequest::Decode(payload).id);
      return Ok();
    default:
      return {kNotSupported, {}};
  }
}

}  // namespace vantera
