#include "protocol/nxRequests.h"

#include <cstdio>

#include "protocol/tagged_stream.h"

namespace vantera {

namespace {

using O = RequestOwner;

constexpr RequestInfo kRequests[] = {
    {nxmsg::kAliasAdd, "AliasAdd", O::kSession, false},
    {nxmsg::kAliasDelete, "AliasDelete", O::kSession, false},
    {nxmsg::kAliasModify, "AliasModify", O::kSession, false},
    {nxmsg::kAliasList, "AliasList", O::kSession, false},
    {nxmsg::kAliasGetPath, "AliasGetPath", O::kSession, false},
    {nxmsg::kSession0111, "Request0111", O::kSession, false},
    {nxmsg::kSession0112, "Request0112", O::kSession, false},
    {nxmsg::kDatabaseOpen, "DatabaseOpen", O::kSession, false},
    {nxmsg::kSessionSetTimeout, "SessionSetTimeout", O::kSession, false},
    {nxmsg::kTransactionStart, "TransactionStart", O::kDatabase, false},
    {nxmsg::kTransactionStartWith, "TransactionStartWith", O::kDatabase, true},
    {nxmsg::kTransactionCommit, "TransactionCommit", O::kDatabase, false},
    {nxmsg::kTransactionRollback, "TransactionRollback", O::kDatabase, false},
    {nxmsg::kDatabase0205, "Request0205", O::kDatabase, false},
    {nxmsg::kTransactionLevel, "TransactionLevel", O::kDatabase, false},
    {nxmsg::kTableCreate, "TableCreate", O::kDatabase, true},
    {nxmsg::kTablePack, "TablePack", O::kDatabase, false},
    {nxmsg::kTableReindex, "TableReindex", O::kDatabase, false},
    {nxmsg::kTableRestructure, "TableRestructure", O::kDatabase, true},
    {nxmsg::kIndexAdd, "IndexAdd", O::kDatabase, true},
    {nxmsg::kIndexDrop, "IndexDrop", O::kDatabase, false},
    {nxmsg::kTableRename, "TableRename", O::kDatabase, false},
    {nxmsg::kDatabase0218, "Request0218", O::kDatabase, false},
    {nxmsg::kDatabase0219, "Request0219", O::kDatabase, false},
    {nxmsg::kDatabase021A, "Request021A", O::kDatabase, false},
    {nxmsg::kTableExists, "TableExists", O::kDatabase, false},
    {nxmsg::kTableGetDictionary, "TableGetDictionary", O::kDatabase, false},
    {nxmsg::kTableList, "TableList", O::kDatabase, false},
    {nxmsg::kDatabase0224, "Request0224", O::kDatabase, true},
    {nxmsg::kTableOpen, "TableOpen", O::kDatabase, false},
    {nxmsg::kStatementAlloc, "StatementAlloc", O::kDatabase, false},
    {nxmsg::kStatementExecDirect, "StatementExecDirect", O::kDatabase, true},
    {nxmsg::kDatabase0251, "Request0251", O::kDatabase, false},
    {nxmsg::kDatabase0252, "Request0252", O::kDatabase, false},
    {nxmsg::kDatabaseSetTimeout, "DatabaseSetTimeout", O::kDatabase, false},
    {nxmsg::kCursorSetToBegin, "CursorSetToBegin", O::kCursor, false},
    {nxmsg::kCursorSetToCursor, "CursorSetToCursor", O::kCursor, false},
    {nxmsg::kCursorSetToEnd, "CursorSetToEnd", O::kCursor, false},
    {nxmsg::kCursorLocate, "CursorLocate", O::kCursor, false},
    {nxmsg::kCursorGetBookmark, "CursorGetBookmark", O::kCursor, false},
    {nxmsg::kCursorCompareBookmarks, "CursorCompareBookmarks", O::kCursor, true},
    {nxmsg::kCursorSetToBookmark, "CursorSetToBookmark", O::kCursor, true},
    {nxmsg::kRecordGet, "RecordGet", O::kCursor, false},
    {nxmsg::kRecordGetNext, "RecordGetNext", O::kCursor, false},
    {nxmsg::kRecordGetPrior, "RecordGetPrior", O::kCursor, false},
    {nxmsg::kRecordInsert, "RecordInsert", O::kCursor, true},
    {nxmsg::kRecordModify, "RecordModify", O::kCursor, true},
    {nxmsg::kRecordDelete, "RecordDelete", O::kCursor, false},
    {nxmsg::kRecordIsLocked, "RecordIsLocked", O::kCursor, false},
    {nxmsg::kRecordRelLock, "RecordRelLock", O::kCursor, false},
    {nxmsg::kCursor0351, "Request0351", O::kCursor, false},
    {nxmsg::kCursor0352, "Request0352", O::kCursor, false},
    {nxmsg::kFilterAdd, "FilterAdd", O::kCursor, false},
    {nxmsg::kFilterSetTimeout, "FilterSetTimeout", O::kCursor, false},
    {nxmsg::kFilterActivate, "FilterActivate", O::kCursor, false},
    {nxmsg::kFilterDeactivate, "FilterDeactivate", O::kCursor, false},
    {nxmsg::kFilterRemove, "FilterRemove", O::kCursor, false},
    {nxmsg::kCursorSwitchToIndex, "CursorSwitchToIndex", O::kCursor, false},
    {nxmsg::kCursorGetIndexId, "CursorGetIndexId", O::kCursor, false},
    {nxmsg::kCursorSetToKey, "CursorSetToKey", O::kCursor, false},
    {nxmsg::kRecordGetForKey, "RecordGetForKey", O::kCursor, false},
    {nxmsg::kCursorResetRange, "CursorResetRange", O::kCursor, false},
    {nxmsg::kCursorSetRange, "CursorSetRange", O::kCursor, false},
    {nxmsg::kCursorCompareKeys, "CursorCompareKeys", O::kCursor, false},
    {nxmsg::kRecordGetBatch, "RecordGetBatch", O::kCursor, false},
    {nxmsg::kRecordInsertBatch, "RecordInsertBatch", O::kCursor, false},
    {nxmsg::kRecordCopy, "RecordCopy", O::kCursor, false},
    {nxmsg::kRecordDeleteAll, "RecordDeleteAll", O::kCursor, false},
    {nxmsg::kRecordGetBatchLimited, "RecordGetBatchLimited", O::kCursor, false},
    {nxmsg::kRecordCopyWithOption, "RecordCopyWithOption", O::kCursor, false},
    {nxmsg::kBlobCreate, "BlobCreate", O::kCursor, false},
    {nxmsg::kCursor0392, "Request0392", O::kCursor, false},
    {nxmsg::kCursor0393, "Request0393", O::kCursor, false},
    {nxmsg::kBlobRelease, "BlobRelease", O::kCursor, false},
    {nxmsg::kBlobRead, "BlobRead", O::kCursor, false},
    {nxmsg::kBlobWrite, "BlobWrite", O::kCursor, false},
    {nxmsg::kBlobTruncate, "BlobTruncate", O::kCursor, false},
    {nxmsg::kBlobGetLength, "BlobGetLength", O::kCursor, false},
    {nxmsg::kCursor03A1, "Request03A1", O::kCursor, false},
    {nxmsg::kCursor03A2, "Request03A2", O::kCursor, false},
    {nxmsg::kCursor03A3, "Request03A3", O::kCursor, false},
    {nxmsg::kCursor03A4, "Request03A4", O::kCursor, false},
    {nxmsg::kCursor03B1, "Request03B1", O::kCursor, false},
    {nxmsg::kCursor03B2, "Request03B2", O::kCursor, false},
    {nxmsg::kCursor03B3, "Request03B3", O::kCursor, false},
    {nxmsg::kCursorClone, "CursorClone", O::kCursor, false},
    {nxmsg::kCursorRecordCount, "CursorRecordCount", O::kCursor, false},
    {nxmsg::kCursorRecordCountAsync, "CursorRecordCountAsync", O::kCursor, false},
    {nxmsg::kCursor03D3, "Request03D3", O::kCursor, false},
    {nxmsg::kCursorSetTimeout, "CursorSetTimeout", O::kCursor, false},
    {nxmsg::kCursorClose, "CursorClose", O::kCursor, false},
    {nxmsg::kStatementPrepare, "StatementPrepare", O::kStatement, true},
    {nxmsg::kStatementExec, "StatementExec", O::kStatement, false},
    {nxmsg::kStatementSetParams, "StatementSetParams", O::kStatement, true},
    {nxmsg::kStatementSetTimeout, "StatementSetTimeout", O::kStatement, false},
    {nxmsg::kStatementClose, "StatementClose", O::kStatement, false},
    {nxmsg::kTaskGetStatus, "TaskGetStatus", O::kTask, false},
    {nxmsg::kTaskCancel, "TaskCancel", O::kTask, false},
    {nxmsg::kTaskClose, "TaskClose", O::kTask, false},
    {nxmsg::kDatabaseClose, "DatabaseClose", O::kDatabase, false},
};

// Short-string fields are 256 bytes: a length byte and 255 characters.
constexpr size_t kShortString = 255;

void PutI32(Bytes* b, int32_t v) {
  PutFixed32(b, static_cast<uint32_t>(v));
}
void PutI64(Bytes* b, int64_t v) {
  PutFixed64(b, static_cast<uint64_t>(v));
}
void PutSS(Bytes* b, std::string_view s) {
  PutShortString(b, s, kShortString);
}

// A 32-bit length or count from the wire, as a size no larger than `limit`.
size_t WireLength(int32_t v, size_t limit, const char* what) {
  return CheckedLength(v, limit, what);
}

void ExpectTaggedEnd(const TaggedReader& r, const char* what) {
  if (!r.empty())
    throw TaggedStreamError(std::string(what) + ": " + std::to_string(r.remaining()) +
                            " bytes after the last value");
}

// Payload of a tagged-stream request with a leading id, as a writer helper.
struct Tagged {
  Bytes bytes;
  TaggedWriter w{&bytes};
};

void WriteParams(TaggedWriter& w, const std::vector<StatementParam>& params) {
  w.WriteInt(static_cast<int64_t>(params.size()));
  for (const auto& p : params) {
    w.WriteString(p.name);
    w.WriteInt(p.type);
    w.WriteInt(static_cast<int64_t>(p.value.size()));
    if (!p.value.empty())
      w.WriteList(p.value);
  }
}

std::vector<StatementParam> ReadParams(TaggedReader& r) {
  // Each parameter takes at least 3 bytes, so the count is bounded by what remains.
  size_t count = WireLength(r.ReadInt32(), r.remaining() / 3, "parameter count");
  std::vector<StatementParam> params(count);
  for (auto& p : params) {
    p.name = r.ReadString();
    p.type = r.ReadInt32();
    size_t n = WireLength(r.ReadInt32(), r.remaining(), "parameter size");
    if (n > 0)
      p.value = Bytes(r.ReadList(n));
  }
  return params;
}

}  // namespace

const RequestInfo* nxRequestTable(size_t* count) {
  *count = sizeof(kRequests) / sizeof(kRequests[0]);
  return kRequests;
}

const RequestInfo* nxFindRequest(uint32_t id) {
  for (const auto& e : kRequests)
    if (e.id == id)
      return &e;
  return nullptr;
}

std::string nxRequestName(uint32_t id) {
  if (const RequestInfo* e = nxFindRequest(id))
    return e->name;
  char buf[24];
  std::snprintf(buf, sizeof buf, "Request$%04X", id);
  return buf;
}

void ExpectEnd(const Reader& r, const char* what) {
  if (!r.empty())
    throw DecodeError(std::string(what) + ": " + std::to_string(r.remaining()) +
                      " bytes after the last field");
}

size_t CheckedLength(int64_t length, size_t remaining, const char* what) {
  if (length < 0)
    throw DecodeError(std::string(what) + " is negative: " + std::to_string(length));
  if (static_cast<uint64_t>(length) > remaining)
    throw DecodeError(std::string(what) + " " + std::to_string(length) + " exceeds the " +
                      std::to_string(remaining) + " bytes that remain");
  return static_cast<size_t>(length);
}

// ---------------- shared shapes ----------------

Bytes ObjectRequest::Encode() const {
  Bytes b;
  PutI32(&b, id);
  return b;
}
ObjectRequest ObjectRequest::Decode(std::string_view payload) {
  Reader r(payload);
  ObjectRequest q;
  q.id = r.GetInt32();
  ExpectEnd(r, "object request");
  return q;
}

Bytes EncodeEmpty() {
  return {};
}
void DecodeEmpty(std::string_view payload) {
  if (!payload.empty())
    throw DecodeError("request without payload carries " + std::to_string(payload.size()) +
                      " bytes");
}

Bytes ObjectInt32Request::Encode() const {
  Bytes b;
  PutI32(&b, id);
  PutI32(&b, value);
  return b;
}
ObjectInt32Request ObjectInt32Request::Decode(std::string_view payload) {
  Reader r(payload);
  ObjectInt32Request q;
  q.id = r.GetInt32();
  q.value = r.GetInt32();
  ExpectEnd(r, "object request with a value");
  return q;
}

Bytes ObjectByteRequest::Encode() const {
  Bytes b;
  PutI32(&b, id);
  PutFixed8(&b, value);
  return b;
}
ObjectByteRequest ObjectByteRequest::Decode(std::string_view payload) {
  Reader r(payload);
  ObjectByteRequest q;
  q.id = r.GetInt32();
  q.value = r.GetFixed8();
  ExpectEnd(r, "object request with a flag");
  return q;
}

Bytes SessionSetTimeoutRequest::Encode() const {
  Bytes b;
  PutI32(&b, timeout);
  return b;
}
SessionSetTimeoutRequest SessionSetTimeoutRequest::Decode(std::string_view payload) {
  Reader r(payload);
  SessionSetTimeoutRequest q;
  q.timeout = r.GetInt32();
  ExpectEnd(r, "SessionSetTimeout");
  return q;
}

Bytes NamesRequest::Encode() const {
  Bytes b;
  if (has_id)
    PutI32(&b, id);
  for (const auto& n : names)
    PutSS(&b, n);
  return b;
}
NamesRequest NamesRequest::Decode(std::string_view payload, bool has_id, size_t count) {
  Reader r(payload);
  NamesRequest q;
  q.has_id = has_id;
  if (has_id)
    q.id = r.GetInt32();
  for (size_t i = 0; i < count; ++i)
    q.names.push_back(r.GetShortString(kShortString));
  ExpectEnd(r, "request with names");
  return q;
}

Bytes ObjectBytesRequest::Encode() const {
  Bytes b;
  PutI32(&b, id);
  b += data;
  return b;
}
ObjectBytesRequest ObjectBytesRequest::Decode(std::string_view payload) {
  Reader r(payload);
  ObjectBytesRequest q;
  q.id = r.GetInt32();
  q.data = Bytes(r.GetBytes(r.remaining()));
  return q;
}

// ---------------- session and database ----------------

Bytes DatabaseOpenRequest::Encode() const {
  Bytes b;
  PutSS(&b, keyword);
  PutSS(&b, alias);
  PutFixed8(&b, open_mode);
  PutFixed8(&b, share_mode);
  PutI32(&b, timeout);
  return b;
}
DatabaseOpenRequest DatabaseOpenRequest::Decode(std::string_view payload) {
  Reader r(payload);
  DatabaseOpenRequest q;
  q.keyword = r.GetShortString(kShortString);
  q.alias = r.GetShortString(kShortString);
  q.open_mode = r.GetFixed8();
  q.share_mode = r.GetFixed8();
  q.timeout = r.GetInt32();
  ExpectEnd(r, "DatabaseOpen");
  return q;
}

Bytes TransactionStartRequest::Encode() const {
  Bytes b;
  PutI32(&b, database_id);
  PutFixed8(&b, fail_safe);
  PutFixed8(&b, second_flag);
  return b;
}
TransactionStartRequest TransactionStartRequest::Decode(std::string_view payload) {
  Reader r(payload);
  TransactionStartRequest q;
  q.database_id = r.GetInt32();
  q.fail_safe = r.GetFixed8();
  q.second_flag = r.GetFixed8();
  ExpectEnd(r, "TransactionStart");
  return q;
}

Bytes TransactionStartWithRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteBool(flag1);
  t.w.WriteBool(flag2);
  t.w.WriteInt(static_cast<int64_t>(cursor_ids.size()));
  for (int32_t c : cursor_ids)
    t.w.WriteInt(c);
  return t.bytes;
}
TransactionStartWithRequest TransactionStartWithRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  TransactionStartWithRequest q;
  q.database_id = r.ReadInt32();
  q.flag1 = r.ReadBool();
  q.flag2 = r.ReadBool();
  // Every cursor id takes at least two bytes.
  size_t n = WireLength(r.ReadInt32(), r.remaining() / 2, "cursor count");
  for (size_t i = 0; i < n; ++i)
    q.cursor_ids.push_back(r.ReadInt32());
  ExpectTaggedEnd(r, "TransactionStartWith");
  return q;
}

Bytes TableCreateRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteBool(flag);
  t.w.WriteString(table_name);
  t.w.WriteRaw(dictionary);
  return t.bytes;
}
TableCreateRequest TableCreateRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  TableCreateRequest q;
  q.database_id = r.ReadInt32();
  q.flag = r.ReadBool();
  q.table_name = r.ReadString();
  q.dictionary = Bytes(r.ReadRaw(r.remaining()));
  return q;
}

Bytes TableRestructureRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteString(table_name);
  t.w.WriteRaw(dictionary);
  t.w.WriteListBegin();
  for (const auto& e : field_map)
    t.w.WriteString(e);
  t.w.WriteListEnd();
  return t.bytes;
}
TableRestructureRequest TableRestructureRequest::Decode(
    std::string_view payload, const std::function<void(TaggedReader&)>& read_dictionary) {
  TaggedReader r(payload);
  TableRestructureRequest q;
  q.database_id = r.ReadInt32();
  q.table_name = r.ReadString();
  size_t dict_start = r.position();
  read_dictionary(r);
  q.dictionary = Bytes(payload.substr(dict_start, r.position() - dict_start));
  r.ReadListBegin();
  while (r.PeekTag() != Tag::kListEnd)
    q.field_map.push_back(r.ReadString());
  r.ReadListEnd();
  ExpectTaggedEnd(r, "TableRestructure");
  return q;
}

Bytes IndexAddRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteString(table_name);
  t.w.WriteRaw(index_descriptor);
  return t.bytes;
}
IndexAddRequest IndexAddRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  IndexAddRequest q;
  q.database_id = r.ReadInt32();
  q.table_name = r.ReadString();
  q.index_descriptor = Bytes(r.ReadRaw(r.remaining()));
  return q;
}

Bytes TableIndexRequest::Encode() const {
  Bytes b;
  PutI32(&b, database_id);
  PutSS(&b, table_name);
  PutSS(&b, index_name);
  PutI32(&b, index_number);
  return b;
}
TableIndexRequest TableIndexRequest::Decode(std::string_view payload) {
  Reader r(payload);
  TableIndexRequest q;
  q.database_id = r.GetInt32();
  q.table_name = r.GetShortString(kShortString);
  q.index_name = r.GetShortString(kShortString);
  q.index_number = r.GetInt32();
  ExpectEnd(r, "table index request");
  return q;
}

Bytes TaggedTableNameRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteString(table_name);
  return t.bytes;
}
TaggedTableNameRequest TaggedTableNameRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  TaggedTableNameRequest q;
  q.database_id = r.ReadInt32();
  q.table_name = r.ReadString();
  ExpectTaggedEnd(r, "table name request");
  return q;
}

Bytes TableOpenRequest::Encode() const {
  Bytes b;
  PutI32(&b, database_id);
  PutSS(&b, table_name);
  PutFixed8(&b, open_mode);
  PutFixed8(&b, share_mode);
  PutI32(&b, timeout);
  return b;
}
TableOpenRequest TableOpenRequest::Decode(std::string_view payload) {
  Reader r(payload);
  TableOpenRequest q;
  q.database_id = r.GetInt32();
  q.table_name = r.GetShortString(kShortString);
  q.open_mode = r.GetFixed8();
  q.share_mode = r.GetFixed8();
  q.timeout = r.GetInt32();
  ExpectEnd(r, "TableOpen");
  return q;
}

Bytes StatementExecDirectRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(database_id);
  t.w.WriteInt(timeout);
  t.w.WriteString(text);
  WriteParams(t.w, params);
  t.w.WriteInt(mode);
  return t.bytes;
}
StatementExecDirectRequest StatementExecDirectRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  StatementExecDirectRequest q;
  q.database_id = r.ReadInt32();
  q.timeout = r.ReadInt32();
  q.text = r.ReadString();
  q.params = ReadParams(r);
  q.mode = r.ReadInt32();
  ExpectTaggedEnd(r, "StatementExecDirect");
  return q;
}

Bytes StatementPrepareRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(statement_id);
  t.w.WriteString(text);
  return t.bytes;
}
StatementPrepareRequest StatementPrepareRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  StatementPrepareRequest q;
  q.statement_id = r.ReadInt32();
  q.text = r.ReadString();
  ExpectTaggedEnd(r, "StatementPrepare");
  return q;
}

Bytes StatementSetParamsRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(statement_id);
  WriteParams(t.w, params);
  return t.bytes;
}
StatementSetParamsRequest StatementSetParamsRequest::Decode(std::string_view payload) {
  TaggedReader r(payload);
  StatementSetParamsRequest q;
  q.statement_id = r.ReadInt32();
  q.params = ReadParams(r);
  ExpectTaggedEnd(r, "StatementSetParams");
  return q;
}

// ---------------- cursor ----------------

Bytes BookmarksRequest::Encode() const {
  Tagged t;
  t.w.WriteInt(cursor_id);
  size_t size = bookmarks.empty() ? 0 : bookmarks.front().size();
  t.w.WriteInt(static_cast<int64_t>(size));
  for (const auto& bm : bookmarks)
    t.w.WriteList(bm);
  return t.bytes;
}
BookmarksRequest BookmarksRequest::Decode(std::string_view payload, size_t count) {
  TaggedReader r(payload);
  BookmarksRequest q;
  q.cursor_id = r.ReadInt32();
  size_t size = WireLength(r.ReadInt32(), r.remaining(), "bookmark size");
  for (size_t i = 0; i < count; ++i)
    q.bookmarks.emplace_back(r.ReadList(size));
  ExpectTaggedEnd(r, "bookmark request");
  return q;
}

Bytes RecordGetRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutFixed8(&b, lock_mode);
  PutFixed16(&b, record_length);
  PutFixed16(&b, bookmark_size);
  return b;
}
RecordGetRequest RecordGetRequest::Decode(std::string_view payload) {
  Reader r(payload);
  RecordGetRequest q;
  q.cursor_id = r.GetInt32();
  q.lock_mode = r.GetFixed8();
  q.record_length = r.GetFixed16();
  q.bookmark_size = r.GetFixed16();
  ExpectEnd(r, "RecordGet");
  return q;
}

Bytes RecordWriteRequest::Encode(uint16_t message_id) const {
  Tagged t;
  t.w.WriteInt(cursor_id);
  if (message_id == nxmsg::kRecordModify)
    t.w.WriteBool(release_lock);
  else
    t.w.WriteInt(lock_mode);
  t.w.WriteInt(static_cast<int64_t>(record.size()));
  t.w.WriteList(record);
  t.w.WriteInt(bookmark_size);
  return t.bytes;
}
RecordWriteRequest RecordWriteRequest::Decode(uint16_t message_id, std::string_view payload) {
  TaggedReader r(payload);
  RecordWriteRequest q;
  q.cursor_id = r.ReadInt32();
  if (message_id == nxmsg::kRecordModify)
    q.release_lock = r.ReadBool();
  else
    q.lock_mode = r.ReadInt32();
  size_t n = WireLength(r.ReadInt32(), r.remaining(), "record length");
  q.record = Bytes(r.ReadList(n));
  q.bookmark_size = r.ReadInt32();
  ExpectTaggedEnd(r, "record write");
  return q;
}

Bytes RecordDeleteRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutFixed16(&b, record_length);
  return b;
}
RecordDeleteRequest RecordDeleteRequest::Decode(std::string_view payload) {
  Reader r(payload);
  RecordDeleteRequest q;
  q.cursor_id = r.GetInt32();
  q.record_length = r.GetFixed16();
  ExpectEnd(r, "RecordDelete");
  return q;
}

Bytes CursorSwitchToIndexRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutSS(&b, index_name);
  PutI32(&b, index_number);
  PutFixed8(&b, keep_position);
  return b;
}
CursorSwitchToIndexRequest CursorSwitchToIndexRequest::Decode(std::string_view payload) {
  Reader r(payload);
  CursorSwitchToIndexRequest q;
  q.cursor_id = r.GetInt32();
  q.index_name = r.GetShortString(kShortString);
  q.index_number = r.GetInt32();
  q.keep_position = r.GetFixed8();
  ExpectEnd(r, "CursorSwitchToIndex");
  return q;
}

Bytes CursorSetToKeyRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, field_count);
  PutI32(&b, partial_length);
  PutFixed8(&b, search_action);
  PutFixed8(&b, 0);
  b += key;
  return b;
}
CursorSetToKeyRequest CursorSetToKeyRequest::Decode(std::string_view payload) {
  Reader r(payload);
  CursorSetToKeyRequest q;
  q.cursor_id = r.GetInt32();
  q.field_count = r.GetInt32();
  q.partial_length = r.GetInt32();
  q.search_action = r.GetFixed8();
  r.GetFixed8();
  q.key = Bytes(r.GetBytes(r.remaining()));
  return q;
}

Bytes RecordGetForKeyRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, field_count);
  PutI32(&b, partial_length);
  PutFixed8(&b, 1);
  PutFixed8(&b, first_call);
  PutFixed16(&b, record_length);
  PutFixed16(&b, bookmark_size);
  PutFixed8(&b, 0);
  b += key;
  return b;
}
RecordGetForKeyRequest RecordGetForKeyRequest::Decode(std::string_view payload) {
  Reader r(payload);
  RecordGetForKeyRequest q;
  q.cursor_id = r.GetInt32();
  q.field_count = r.GetInt32();
  q.partial_length = r.GetInt32();
  r.GetFixed8();
  q.first_call = r.GetFixed8();
  q.record_length = r.GetFixed16();
  q.bookmark_size = r.GetFixed16();
  r.GetFixed8();
  q.key = Bytes(r.GetBytes(r.remaining()));
  return q;
}

Bytes CursorSetRangeRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  for (const RangeEnd* e : {&start, &end}) {
    PutI32(&b, e->field_count);
    PutI32(&b, e->partial_length);
    PutI32(&b, static_cast<int32_t>(e->key.size()));
    PutFixed8(&b, e->inclusive ? 1 : 0);
    PutFixed8(&b, 0);
  }
  b += start.key;
  b += end.key;
  return b;
}
CursorSetRangeRequest CursorSetRangeRequest::Decode(std::string_view payload) {
  Reader r(payload);
  CursorSetRangeRequest q;
  q.cursor_id = r.GetInt32();
  int32_t lengths[2];
  RangeEnd* ends[2] = {&q.start, &q.end};
  for (int i = 0; i < 2; ++i) {
    ends[i]->field_count = r.GetInt32();
    ends[i]->partial_length = r.GetInt32();
    lengths[i] = r.GetInt32();
    ends[i]->inclusive = r.GetFixed8() != 0;
    r.GetFixed8();
  }
  for (int i = 0; i < 2; ++i)
    ends[i]->key = Bytes(r.GetBytes(WireLength(lengths[i], r.remaining(), "range key length")));
  ExpectEnd(r, "CursorSetRange");
  return q;
}

Bytes CursorCompareKeysRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, value1);
  PutI32(&b, value2);
  PutI32(&b, static_cast<int32_t>(key1.size()));
  PutFixed8(&b, 0);
  PutI32(&b, static_cast<int32_t>(key2.size()));
  PutFixed8(&b, 0);
  b += key1;
  b += key2;
  return b;
}
CursorCompareKeysRequest CursorCompareKeysRequest::Decode(std::string_view payload) {
  Reader r(payload);
  CursorCompareKeysRequest q;
  q.cursor_id = r.GetInt32();
  q.value1 = r.GetInt32();
  q.value2 = r.GetInt32();
  int32_t len1 = r.GetInt32();
  r.GetFixed8();
  int32_t len2 = r.GetInt32();
  r.GetFixed8();
  q.key1 = Bytes(r.GetBytes(WireLength(len1, r.remaining(), "first key length")));
  q.key2 = Bytes(r.GetBytes(WireLength(len2, r.remaining(), "second key length")));
  ExpectEnd(r, "CursorCompareKeys");
  return q;
}

Bytes RecordGetBatchRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, record_count);
  if (has_limit)
    PutI32(&b, byte_limit);
  PutFixed8(&b, options);
  return b;
}
RecordGetBatchRequest RecordGetBatchRequest::Decode(std::string_view payload, bool has_limit) {
  Reader r(payload);
  RecordGetBatchRequest q;
  q.cursor_id = r.GetInt32();
  q.record_count = r.GetInt32();
  q.has_limit = has_limit;
  if (has_limit)
    q.byte_limit = r.GetInt32();
  q.options = r.GetFixed8();
  ExpectEnd(r, "RecordGetBatch");
  return q;
}

Bytes RecordCopyRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, source_cursor_id);
  PutFixed8(&b, blob_copy_mode);
  PutI32(&b, value);
  if (has_option)
    PutFixed8(&b, option);
  return b;
}
RecordCopyRequest RecordCopyRequest::Decode(std::string_view payload, bool has_option) {
  Reader r(payload);
  RecordCopyRequest q;
  q.cursor_id = r.GetInt32();
  q.source_cursor_id = r.GetInt32();
  q.blob_copy_mode = r.GetFixed8();
  q.value = r.GetInt32();
  q.has_option = has_option;
  if (has_option)
    q.option = r.GetFixed8();
  ExpectEnd(r, "record copy");
  return q;
}

Bytes BlobRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI64(&b, blob);
  return b;
}
BlobRequest BlobRequest::Decode(std::string_view payload) {
  Reader r(payload);
  BlobRequest q;
  q.cursor_id = r.GetInt32();
  q.blob = r.GetInt64();
  ExpectEnd(r, "blob request");
  return q;
}

Bytes BlobReadRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI64(&b, blob);
  PutI32(&b, offset);
  PutI32(&b, length);
  return b;
}
BlobReadRequest BlobReadRequest::Decode(std::string_view payload) {
  Reader r(payload);
  BlobReadRequest q;
  q.cursor_id = r.GetInt32();
  q.blob = r.GetInt64();
  q.offset = r.GetInt32();
  q.length = r.GetInt32();
  ExpectEnd(r, "BlobRead");
  return q;
}

Bytes BlobWriteRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI64(&b, blob);
  PutI32(&b, offset);
  PutI32(&b, static_cast<int32_t>(data.size()));
  b += data;
  return b;
}
BlobWriteRequest BlobWriteRequest::Decode(std::string_view payload) {
  Reader r(payload);
  BlobWriteRequest q;
  q.cursor_id = r.GetInt32();
  q.blob = r.GetInt64();
  q.offset = r.GetInt32();
  size_t n = WireLength(r.GetInt32(), r.remaining(), "blob write length");
  q.data = Bytes(r.GetBytes(n));
  ExpectEnd(r, "BlobWrite");
  return q;
}

Bytes BlobTruncateRequest::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI64(&b, blob);
  PutI32(&b, length);
  return b;
}
BlobTruncateRequest BlobTruncateRequest::Decode(std::string_view payload) {
  Reader r(payload);
  BlobTruncateRequest q;
  q.cursor_id = r.GetInt32();
  q.blob = r.GetInt64();
  q.length = r.GetInt32();
  ExpectEnd(r, "BlobTruncate");
  return q;
}

// ---------------- replies ----------------

Bytes EncodeInt32Reply(int32_t value) {
  Bytes b;
  PutI32(&b, value);
  return b;
}
int32_t DecodeInt32Reply(std::string_view reply) {
  Reader r(reply);
  int32_t v = r.GetInt32();
  ExpectEnd(r, "integer reply");
  return v;
}

Bytes EncodeInt64Reply(int64_t value) {
  Bytes b;
  PutI64(&b, value);
  return b;
}
int64_t DecodeInt64Reply(std::string_view reply) {
  Reader r(reply);
  int64_t v = r.GetInt64();
  ExpectEnd(r, "64-bit reply");
  return v;
}

Bytes EncodeByteReply(uint8_t value) {
  Bytes b;
  PutFixed8(&b, value);
  return b;
}
uint8_t DecodeByteReply(std::string_view reply) {
  Reader r(reply);
  uint8_t v = r.GetFixed8();
  ExpectEnd(r, "byte reply");
  return v;
}

Bytes EncodeShortStringReply(std::string_view text) {
  Bytes b;
  PutSS(&b, text);
  return b;
}
std::string DecodeShortStringReply(std::string_view reply) {
  Reader r(reply);
  std::string s = r.GetShortString(kShortString);
  ExpectEnd(r, "short string reply");
  return s;
}

Bytes EncodeAliasListReply(const std::vector<AliasEntry>& aliases) {
  Tagged t;
  t.w.WriteListBegin();
  for (const auto& a : aliases) {
    t.w.WriteString(a.name);
    t.w.WriteString(a.path);
  }
  t.w.WriteListEnd();
  return t.bytes;
}
std::vector<AliasEntry> DecodeAliasListReply(std::string_view reply) {
  TaggedReader r(reply);
  std::vector<AliasEntry> out;
  r.ReadListBegin();
  while (r.PeekTag() != Tag::kListEnd) {
    AliasEntry e;
    e.name = r.ReadString();
    e.path = r.ReadString();
    out.push_back(std::move(e));
  }
  r.ReadListEnd();
  ExpectTaggedEnd(r, "AliasList reply");
  return out;
}

Bytes EncodeTableListReply(const std::vector<std::string>& tables) {
  Tagged t;
  t.w.WriteListBegin();
  for (const auto& name : tables)
    t.w.WriteString(name);
  t.w.WriteListEnd();
  return t.bytes;
}
std::vector<std::string> DecodeTableListReply(std::string_view reply) {
  TaggedReader r(reply);
  std::vector<std::string> out;
  r.ReadListBegin();
  while (r.PeekTag() != Tag::kListEnd)
    out.push_back(r.ReadString());
  r.ReadListEnd();
  ExpectTaggedEnd(r, "TableList reply");
  return out;
}

Bytes TableOpenReply::Encode() const {
  Tagged t;
  t.w.WriteInt(cursor_id);
  t.w.WriteInt(index_number);
  t.w.WriteRaw(dictionary);
  return t.bytes;
}
TableOpenReply TableOpenReply::Decode(std::string_view reply) {
  TaggedReader r(reply);
  TableOpenReply q;
  q.cursor_id = r.ReadInt32();
  q.index_number = r.ReadInt32();
  q.dictionary = Bytes(r.ReadRaw(r.remaining()));
  return q;
}

Bytes CursorCloneReply::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  PutI32(&b, index_number);
  return b;
}
CursorCloneReply CursorCloneReply::Decode(std::string_view reply) {
  Reader r(reply);
  CursorCloneReply q;
  q.cursor_id = r.GetInt32();
  q.index_number = r.GetInt32();
  ExpectEnd(r, "CursorClone reply");
  return q;
}

Bytes EncodeBlobReadReply(std::string_view data) {
  Bytes b;
  PutI32(&b, static_cast<int32_t>(data.size()));
  b += data;
  return b;
}
std::string_view DecodeBlobReadReply(std::string_view reply) {
  Reader r(reply);
  size_t n = WireLength(r.GetInt32(), r.remaining(), "blob read length");
  std::string_view data = r.GetBytes(n);
  ExpectEnd(r, "BlobRead reply");
  return data;
}

Bytes RecordBatchReply::Encode() const {
  Bytes b;
  PutI32(&b, result);
  PutI32(&b, static_cast<int32_t>(records.size()));
  for (const auto& rec : records) {
    PutI32(&b, static_cast<int32_t>(rec.size()));
    b += rec;
  }
  return b;
}
RecordBatchReply RecordBatchReply::Decode(std::string_view reply) {
  Reader r(reply);
  RecordBatchReply q;
  q.result = r.GetInt32();
  // Every record takes at least its 4-byte length.
  size_t n = WireLength(r.GetInt32(), r.remaining() / 4, "record count");
  for (size_t i = 0; i < n; ++i)
    q.records.emplace_back(r.GetBytes(WireLength(r.GetInt32(), r.remaining(), "record size")));
  ExpectEnd(r, "RecordGetBatch reply");
  return q;
}

Bytes StatementExecReply::Encode() const {
  Bytes b;
  PutI32(&b, cursor_id);
  b += dictionary;
  return b;
}
StatementExecReply StatementExecReply::Decode(std::string_view reply) {
  Reader r(reply);
  StatementExecReply q;
  q.cursor_id = r.GetInt32();
  q.dictionary = Bytes(r.GetBytes(r.remaining()));
  return q;
}

Bytes StatementExecDirectReply::Encode() const {
  Bytes b;
  PutFixed8(&b, part_count);
  b += parts;
  return b;
}
StatementExecDirectReply StatementExecDirectReply::Decode(std::string_view reply) {
  Reader r(reply);
  StatementExecDirectReply q;
  q.part_count = r.GetFixed8();
  if (q.part_count > 3)
    throw DecodeError("StatementExecDirect reply with " + std::to_string(q.part_count) + " parts");
  q.parts = Bytes(r.GetBytes(r.remaining()));
  return q;
}

Bytes EncodeTaskStatusReply(std::string_view record) {
  if (record.size() != kTaskStatusSize)
    throw DecodeError("task status record of " + std::to_string(record.size()) + " bytes");
  return Bytes(record);
}
std::string_view DecodeTaskStatusReply(std::string_view reply) {
  if (reply.size() != kTaskStatusSize)
    throw DecodeError("task status reply of " + std::to_string(reply.size()) + " bytes");
  return reply;
}

Bytes EncodeBatchReply(const std::vector<SubReply>& replies) {
  Bytes b;
  for (const auto& s : replies) {
    PutFixed32(&b, s.message_id);
    PutFixed32(&b, static_cast<uint32_t>(kSubReplyHeaderSize + s.data.size()));
    PutFixed32(&b, s.result);
    b += s.data;
  }
  return b;
}
std::vector<SubReply> DecodeBatchReply(std::string_view reply) {
  Reader r(reply);
  std::vector<SubReply> out;
  while (!r.empty()) {
    SubReply s;
    s.message_id = r.GetFixed32();
    uint32_t size = r.GetFixed32();
    s.result = r.GetFixed32();
    if (size < kSubReplyHeaderSize)
      throw DecodeError("sub-reply size " + std::to_string(size) + " below its header");
    s.data = Bytes(
        r.GetBytes(CheckedLength(size - kSubReplyHeaderSize, r.remaining(), "sub-reply size")));
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace vantera
