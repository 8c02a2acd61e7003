// Request codecs: the fixed-record shapes that several request ids share.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

using ObjectRequestLayout = FixedRecord<&ObjectRequest::id>;
Bytes ObjectRequest::Encode() const {
  return ObjectRequestLayout::Encode(*this);
}
ObjectRequest ObjectRequest::Decode(std::string_view payload) {
  return ObjectRequestLayout::Decode<ObjectRequest>(payload, "object request");
}

Bytes EncodeEmpty() {
  return {};
}
void DecodeEmpty(std::string_view payload) {
  if (!payload.empty())
    throw DecodeError("request without payload carries " + std::to_string(payload.size()) +
                      " bytes");
}

using ObjectInt32RequestLayout = FixedRecord<&ObjectInt32Request::id, &ObjectInt32Request::value>;
Bytes ObjectInt32Request::Encode() const {
  return ObjectInt32RequestLayout::Encode(*this);
}
ObjectInt32Request ObjectInt32Request::Decode(std::string_view payload) {
  return ObjectInt32RequestLayout::Decode<ObjectInt32Request>(payload,
                                                              "object request with a value");
}

using ObjectByteRequestLayout = FixedRecord<&ObjectByteRequest::id, &ObjectByteRequest::value>;
Bytes ObjectByteRequest::Encode() const {
  return ObjectByteRequestLayout::Encode(*this);
}
ObjectByteRequest ObjectByteRequest::Decode(std::string_view payload) {
  return ObjectByteRequestLayout::Decode<ObjectByteRequest>(payload, "object request with a flag");
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

using ObjectBytesRequestLayout =
    FixedRecord<&ObjectBytesRequest::id, Rest<&ObjectBytesRequest::data>{}>;
Bytes ObjectBytesRequest::Encode() const {
  return ObjectBytesRequestLayout::Encode(*this);
}
ObjectBytesRequest ObjectBytesRequest::Decode(std::string_view payload) {
  return ObjectBytesRequestLayout::Decode<ObjectBytesRequest>(payload, "object request with bytes");
}

}  // namespace vantera
