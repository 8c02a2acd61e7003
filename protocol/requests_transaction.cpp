// Request codecs of transactions: start and start with cursors.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

using TransactionStartRequestLayout =
    FixedRecord<&TransactionStartRequest::database_id, &TransactionStartRequest::fail_safe,
                &TransactionStartRequest::second_flag>;
Bytes TransactionStartRequest::Encode() const {
  return TransactionStartRequestLayout::Encode(*this);
}
TransactionStartRequest TransactionStartRequest::Decode(std::string_view payload) {
  return TransactionStartRequestLayout::Decode<TransactionStartRequest>(payload,
                                                                        "TransactionStart");
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
  int32_t wire_n = r.ReadInt32();
  size_t n = WireLength(wire_n, r.remaining() / 2, "cursor count");
  for (size_t i = 0; i < n; ++i)
    q.cursor_ids.push_back(r.ReadInt32());
  ExpectTaggedEnd(r, "TransactionStartWith");
  return q;
}

}  // namespace vantera
