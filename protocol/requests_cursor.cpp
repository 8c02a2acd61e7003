// Request codecs of a cursor: positioning, bookmarks, keys, ranges, records and batches.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

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
  int32_t wire_size = r.ReadInt32();
  size_t size = WireLength(wire_size, r.remaining(), "bookmark size");
  for (size_t i = 0; i < count; ++i)
    q.bookmarks.emplace_back(r.ReadList(size));
  ExpectTaggedEnd(r, "bookmark request");
  return q;
}

using RecordGetRequestLayout =
    FixedRecord<&RecordGetRequest::cursor_id, &RecordGetRequest::lock_mode,
                &RecordGetRequest::record_length, &RecordGetRequest::bookmark_size>;
Bytes RecordGetRequest::Encode() const {
  return RecordGetRequestLayout::Encode(*this);
}
RecordGetRequest RecordGetRequest::Decode(std::string_view payload) {
  return RecordGetRequestLayout::Decode<RecordGetRequest>(payload, "RecordGet");
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
  int32_t wire_n = r.ReadInt32();
  size_t n = WireLength(wire_n, r.remaining(), "record length");
  q.record = Bytes(r.ReadList(n));
  q.bookmark_size = r.ReadInt32();
  ExpectTaggedEnd(r, "record write");
  return q;
}

using RecordDeleteRequestLayout =
    FixedRecord<&RecordDeleteRequest::cursor_id, &RecordDeleteRequest::record_length>;
Bytes RecordDeleteRequest::Encode() const {
  return RecordDeleteRequestLayout::Encode(*this);
}
RecordDeleteRequest RecordDeleteRequest::Decode(std::string_view payload) {
  return RecordDeleteRequestLayout::Decode<RecordDeleteRequest>(payload, "RecordDelete");
}

using CursorSwitchToIndexRequestLayout =
    FixedRecord<&CursorSwitchToIndexRequest::cursor_id, &CursorSwitchToIndexRequest::index_name,
                &CursorSwitchToIndexRequest::index_number,
                &CursorSwitchToIndexRequest::keep_position>;
Bytes CursorSwitchToIndexRequest::Encode() const {
  return CursorSwitchToIndexRequestLayout::Encode(*this);
}
CursorSwitchToIndexRequest CursorSwitchToIndexRequest::Decode(std::string_view payload) {
  return CursorSwitchToIndexRequestLayout::Decode<CursorSwitchToIndexRequest>(
      payload, "CursorSwitchToIndex");
}

using CursorSetToKeyRequestLayout =
    FixedRecord<&CursorSetToKeyRequest::cursor_id, &CursorSetToKeyRequest::field_count,
                &CursorSetToKeyRequest::partial_length, &CursorSetToKeyRequest::search_action,
                Fill8{0}, Rest<&CursorSetToKeyRequest::key>{}>;
Bytes CursorSetToKeyRequest::Encode() const {
  return CursorSetToKeyRequestLayout::Encode(*this);
}
CursorSetToKeyRequest CursorSetToKeyRequest::Decode(std::string_view payload) {
  return CursorSetToKeyRequestLayout::Decode<CursorSetToKeyRequest>(payload, "CursorSetToKey");
}

using RecordGetForKeyRequestLayout =
    FixedRecord<&RecordGetForKeyRequest::cursor_id, &RecordGetForKeyRequest::field_count,
                &RecordGetForKeyRequest::partial_length, Fill8{1},
                &RecordGetForKeyRequest::first_call, &RecordGetForKeyRequest::record_length,
                &RecordGetForKeyRequest::bookmark_size, Fill8{0},
                Rest<&RecordGetForKeyRequest::key>{}>;
Bytes RecordGetForKeyRequest::Encode() const {
  return RecordGetForKeyRequestLayout::Encode(*this);
}
RecordGetForKeyRequest RecordGetForKeyRequest::Decode(std::string_view payload) {
  return RecordGetForKeyRequestLayout::Decode<RecordGetForKeyRequest>(payload, "RecordGetForKey");
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

// RecordGetBatchLimited carries a byte limit after the count; RecordGetBatch does not.
using RecordGetBatchLayout =
    FixedRecord<&RecordGetBatchRequest::cursor_id, &RecordGetBatchRequest::record_count,
                &RecordGetBatchRequest::options>;
using RecordGetBatchLimitedLayout =
    FixedRecord<&RecordGetBatchRequest::cursor_id, &RecordGetBatchRequest::record_count,
                &RecordGetBatchRequest::byte_limit, &RecordGetBatchRequest::options>;
Bytes RecordGetBatchRequest::Encode() const {
  return has_limit ? RecordGetBatchLimitedLayout::Encode(*this)
                   : RecordGetBatchLayout::Encode(*this);
}
RecordGetBatchRequest RecordGetBatchRequest::Decode(std::string_view payload, bool has_limit) {
  RecordGetBatchRequest q =
      has_limit
          ? RecordGetBatchLimitedLayout::Decode<RecordGetBatchRequest>(payload, "RecordGetBatch")
          : RecordGetBatchLayout::Decode<RecordGetBatchRequest>(payload, "RecordGetBatch");
  q.has_limit = has_limit;
  return q;
}

// RecordCopyWithOption carries an option byte at the end; RecordCopy does not.
using RecordCopyLayout =
    FixedRecord<&RecordCopyRequest::cursor_id, &RecordCopyRequest::source_cursor_id,
                &RecordCopyRequest::blob_copy_mode, &RecordCopyRequest::value>;
using RecordCopyWithOptionLayout =
    FixedRecord<&RecordCopyRequest::cursor_id, &RecordCopyRequest::source_cursor_id,
                &RecordCopyRequest::blob_copy_mode, &RecordCopyRequest::value,
                &RecordCopyRequest::option>;
Bytes RecordCopyRequest::Encode() const {
  return has_option ? RecordCopyWithOptionLayout::Encode(*this) : RecordCopyLayout::Encode(*this);
}
RecordCopyRequest RecordCopyRequest::Decode(std::string_view payload, bool has_option) {
  RecordCopyRequest q =
      has_option ? RecordCopyWithOptionLayout::Decode<RecordCopyRequest>(payload, "record copy")
                 : RecordCopyLayout::Decode<RecordCopyRequest>(payload, "record copy");
  q.has_option = has_option;
  return q;
}

}  // namespace vantera
