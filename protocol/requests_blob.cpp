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

using BlobWriteRequestLayout =
    FixedRecord<&BlobWriteRequest::cursor_id, &BlobWriteRequest::blob, &BlobWriteRequest::offset,
                Sized<&BlobWriteRequest::data>{}>;
Bytes BlobWriteRequest::Encode() const {
  return BlobWriteRequestLayout::Encode(*this);
}
BlobWriteRequest BlobWriteRequest::Decode(std::string_view payload) {
  return BlobWriteRequestLayout::Decode<BlobWriteRequest>(payload, "BlobWrite");
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
