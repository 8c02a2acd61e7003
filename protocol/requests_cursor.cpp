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

}  // namespace vantera
