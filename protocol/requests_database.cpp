// Request codecs of a database: tables, indexes and statements.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

namespace {

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
  int32_t wire_count = r.ReadInt32();
  size_t count = WireLength(wire_count, r.remaining() / 3, "parameter count");
  std::vector<StatementParam> params(count);
  for (auto& p : params) {
    p.name = r.ReadString();
    p.type = r.ReadInt32();
    int32_t wire_n = r.ReadInt32();
    size_t n = WireLength(wire_n, r.remaining(), "parameter size");
    if (n > 0)
      p.value = Bytes(r.ReadList(n));
  }
  return params;
}

}  // namespace

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

using TableIndexRequestLayout =
    FixedRecord<&TableIndexRequest::database_id, &TableIndexRequest::table_name,
                &TableIndexRequest::index_name, &TableIndexRequest::index_number>;
Bytes TableIndexRequest::Encode() const {
  return TableIndexRequestLayout::Encode(*this);
}
TableIndexRequest TableIndexRequest::Decode(std::string_view payload) {
  return TableIndexRequestLayout::Decode<TableIndexRequest>(payload, "table index request");
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

using TableOpenRequestLayout =
    FixedRecord<&TableOpenRequest::database_id, &TableOpenRequest::table_name,
                &TableOpenRequest::open_mode, &TableOpenRequest::share_mode,
                &TableOpenRequest::timeout>;
Bytes TableOpenRequest::Encode() const {
  return TableOpenRequestLayout::Encode(*this);
}
TableOpenRequest TableOpenRequest::Decode(std::string_view payload) {
  return TableOpenRequestLayout::Decode<TableOpenRequest>(payload, "TableOpen");
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

}  // namespace vantera
