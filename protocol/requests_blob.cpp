// Request codecs of blobs: release, read, write, truncate and length.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

using BlobRequestLayout = FixedRecord<&BlobRequest::cursor_id, &BlobRequest::blob>;
Bytes BlobRequest::Encode() const {
  return BlobRequestLayout::Encode(*this);
}
BlobRequest BlobRequest::Decode(std::string_view payload) {
  return BlobRequestLayout::Decode<BlobRequest>(payload, "blob request");
}

using BlobReadRequestLayout = FixedRecord<&BlobReadRequest::cursor_id, &BlobReadRequest::blob,
                                          &BlobReadRequest::offset, &BlobReadRequest::length>;
Bytes BlobReadRequest::Encode() const {
  return BlobReadRequestLayout::Encode(*this);
}
BlobReadRequest BlobReadRequest::Decode(std::string_view payload) {
  return BlobReadRequestLayout::Decode<BlobReadRequest>(payload, "BlobRead");
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

using BlobTruncateRequestLayout =
    FixedRecord<&BlobTruncateRequest::cursor_id, &BlobTruncateRequest::blob,
                &BlobTruncateRequest::length>;
Bytes BlobTruncateRequest::Encode() const {
  return BlobTruncateRequestLayout::Encode(*this);
}
BlobTruncateRequest BlobTruncateRequest::Decode(std::string_view payload) {
  return BlobTruncateRequestLayout::Decode<BlobTruncateRequest>(payload, "BlobTruncate");
}

}  // namespace vantera
