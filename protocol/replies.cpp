// Reply codecs of the remote engine.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

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
  int32_t wire_n = r.GetInt32();
  size_t n = WireLength(wire_n, r.remaining(), "blob read length");
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
  int32_t wire_n = r.GetInt32();
  size_t n = WireLength(wire_n, r.remaining() / 4, "record count");
  for (size_t i = 0; i < n; ++i) {
    int32_t size = r.GetInt32();
    q.records.emplace_back(r.GetBytes(WireLength(size, r.remaining(), "record size")));
  }
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
