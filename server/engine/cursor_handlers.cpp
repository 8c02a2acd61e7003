// Handlers of a cursor's requests: positioning, bookmarks, records, indexes and ranges,
// cloning, counting, timeout and closing. Every cursor payload starts with the cursor id:
// as i32 in fixed records, as the first tagged Int otherwise; the codecs read it with the
// rest.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"

namespace vantera::request_handlers {

namespace {

// The cursor of a request that carries a record length: 0 (no record wanted) or the
// table's own; anything else answers 9986.
ServerCursor& RecordCursor(RequestContext& ctx, int32_t cursor_id, int32_t record_length) {
  ServerCursor& c = ctx.UsedCursor(cursor_id);
  if (record_length != 0 && record_length != c.table().schema.record_length)
    throw EnxBaseException(9986);
  return c;
}

}  // namespace

EngineReply CursorSetToBegin(RequestContext& ctx, std::string_view payload) {
  ctx.UsedCursor(ObjectRequest::Decode(payload).id).SetToBegin();
  return Ok();
}

EngineReply CursorSetToEnd(RequestContext& ctx, std::string_view payload) {
  ctx.UsedCursor(ObjectRequest::Decode(payload).id).SetToEnd();
  return Ok();
}

EngineReply CursorSetToCursor(RequestContext& ctx, std::string_view payload) {
  ObjectInt32Request r = ObjectInt32Request::Decode(payload);
  ServerCursor& c = ctx.UsedCursor(r.id);
  c.SetToCursor(ctx.session.Cursor(r.value));
  return Ok();
}

EngineReply CursorGetBookmark(RequestContext& ctx, std::string_view payload) {
  ObjectInt32Request r = ObjectInt32Request::Decode(payload);
  return Ok(ctx.UsedCursor(r.id).GetBookmark(r.value));
}

EngineReply CursorCompareBookmarks(RequestContext& ctx, std::string_view payload) {
  BookmarksRequest r = BookmarksRequest::Decode(payload, 2);
  int8_t c = ctx.UsedCursor(r.cursor_id).CompareBookmarks(r.bookmarks[0], r.bookmarks[1]);
  return Ok(EncodeByteReply(static_cast<uint8_t>(c)));
}

EngineReply CursorSetToBookmark(RequestContext& ctx, std::string_view payload) {
  BookmarksRequest r = BookmarksRequest::Decode(payload, 1);
  ctx.UsedCursor(r.cursor_id).SetToBookmark(r.bookmarks[0]);
  return Ok();
}

EngineReply RecordGet(RequestContext& ctx, std::string_view payload) {
  RecordGetRequest r = RecordGetRequest::Decode(payload);
  ServerCursor& c = RecordCursor(ctx, r.cursor_id, r.record_length);
  return Ok(c.RecordGet(r.lock_mode, r.record_length != 0));
}

EngineReply RecordGetNext(RequestContext& ctx, std::string_view payload) {
  RecordGetRequest r = RecordGetRequest::Decode(payload);
  ServerCursor& c = RecordCursor(ctx, r.cursor_id, r.record_length);
  return Ok(c.RecordGetNext(r.lock_mode, r.record_length != 0));
}

EngineReply RecordGetPrior(RequestContext& ctx, std::string_view payload) {
  RecordGetRequest r = RecordGetRequest::Decode(payload);
  ServerCursor& c = RecordCursor(ctx, r.cursor_id, r.record_length);
  return Ok(c.RecordGetPrior(r.lock_mode, r.record_length != 0));
}

EngineReply RecordInsert(RequestContext& ctx, std::string_view payload) {
  RecordWriteRequest r = RecordWriteRequest::Decode(nxmsg::kRecordInsert, payload);
  ctx.UsedCursor(r.cursor_id).RecordInsert(r.lock_mode, r.record);
  return Ok();
}

EngineReply RecordModify(RequestContext& ctx, std::string_view payload) {
  RecordWriteRequest r = RecordWriteRequest::Decode(nxmsg::kRecordModify, payload);
  ctx.UsedCursor(r.cursor_id).RecordModify(r.release_lock, r.record);
  return Ok();
}

EngineReply RecordDelete(RequestContext& ctx, std::string_view payload) {
  RecordDeleteRequest r = RecordDeleteRequest::Decode(payload);
  ServerCursor& c = RecordCursor(ctx, r.cursor_id, r.record_length);
  return Ok(c.RecordDelete(r.record_length != 0));
}

EngineReply RecordDeleteAll(RequestContext& ctx, std::string_view payload) {
  ctx.UsedCursor(ObjectRequest::Decode(payload).id).RecordDeleteAll();
  return Ok();
}

EngineReply RecordIsLocked(RequestContext& ctx, std::string_view payload) {
  ObjectByteRequest r = ObjectByteRequest::Decode(payload);
  return Ok(EncodeByteReply(ctx.UsedCursor(r.id).RecordIsLocked() ? 1 : 0));
}

EngineReply RecordRelLock(RequestContext& ctx, std::string_view payload) {
  ObjectByteRequest r = ObjectByteRequest::Decode(payload);
  ctx.UsedCursor(r.id).RecordRelLock(r.value != 0);
  return Ok();
}

EngineReply CursorSwitchToIndex(RequestContext& ctx, std::string_view payload) {
  CursorSwitchToIndexRequest r = CursorSwitchToIndexRequest::Decode(payload);
  int32_t n =
      ctx.UsedCursor(r.cursor_id).SwitchToIndex(r.index_name, r.index_number, r.keep_position != 0);
  return Ok(EncodeInt32Reply(n));
}

EngineReply CursorGetIndexId(RequestContext& ctx, std::string_view payload) {
  return Ok(EncodeInt32Reply(ctx.UsedCursor(ObjectRequest::Decode(payload).id).index()));
}

EngineReply RecordGetForKey(RequestContext& ctx, std::string_view payload) {
  RecordGetForKeyRequest r = RecordGetForKeyRequest::Decode(payload);
  ServerCursor& c = RecordCursor(ctx, r.cursor_id, r.record_length);
  return Ok(c.RecordGetForKey(r.field_count, r.partial_length, r.first_call != 0,
                              r.record_length != 0, r.key));
}

EngineReply CursorLocate(RequestContext& ctx, std::string_view payload) {
  ObjectBytesRequest r = ObjectBytesRequest::Decode(payload);
  ctx.UsedCursor(r.id).Locate(LocateFilter::Decode(r.data));
  return Ok();
}

EngineReply CursorResetRange(RequestContext& ctx, std::string_view payload) {
  ctx.UsedCursor(ObjectRequest::Decode(payload).id).ResetRange();
  return Ok();
}

EngineReply CursorSetRange(RequestContext& ctx, std::string_view payload) {
  CursorSetRangeRequest r = CursorSetRangeRequest::Decode(payload);
  auto range_end = [](const RangeEnd& e) {
    return RangeEndSpec{e.field_count, e.partial_length, e.inclusive, e.key};
  };
  ctx.UsedCursor(r.cursor_id).SetRange(range_end(r.start), range_end(r.end));
  return Ok();
}

EngineReply CursorClone(RequestContext& ctx, std::string_view payload) {
  ObjectByteRequest r = ObjectByteRequest::Decode(payload);
  ServerCursor& c = ctx.UsedCursor(r.id);
  if (ctx.session.CursorCount() >= ctx.options.max_cursors_per_session)
    throw EnxBaseException(9473);
  uint32_t id = ctx.NewId();
  auto clone = std::make_unique<ServerCursor>(id, c, r.value != kOpenReadWrite);
  CursorCloneReply reply{static_cast<int32_t>(id), clone->index()};
  ctx.session.AddCursor(std::move(clone));
  return Ok(reply.Encode());
}

EngineReply CursorRecordCount(RequestContext& ctx, std::string_view payload) {
  int64_t n = ctx.UsedCursor(ObjectRequest::Decode(payload).id).RecordCount();
  return Ok(EncodeInt32Reply(static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX))));
}

EngineReply CursorSetTimeout(RequestContext& ctx, std::string_view payload) {
  ObjectInt32Request r = ObjectInt32Request::Decode(payload);
  ctx.session.Cursor(r.id).set_timeout(r.value);
  return Ok();
}

EngineReply CursorClose(RequestContext& ctx, std::string_view payload) {
  ctx.session.CloseCursor(ObjectRequest::Decode(payload).id);
  return Ok();
}

}  // namespace vantera::request_handlers
