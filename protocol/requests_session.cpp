// Request codecs of the session: its time-out and opening a database.
#include "protocol/nxRequests.h"

#include <string>
#include <utility>

#include "protocol/request_codec_parts.h"

namespace vantera {

using namespace request_codec;

using SessionSetTimeoutRequestLayout = FixedRecord<&SessionSetTimeoutRequest::timeout>;
Bytes SessionSetTimeoutRequest::Encode() const {
  return SessionSetTimeoutRequestLayout::Encode(*this);
}
SessionSetTimeoutRequest SessionSetTimeoutRequest::Decode(std::string_view payload) {
  return SessionSetTimeoutRequestLayout::Decode<SessionSetTimeoutRequest>(payload,
                                                                          "SessionSetTimeout");
}

using DatabaseOpenRequestLayout =
    FixedRecord<&DatabaseOpenRequest::keyword, &DatabaseOpenRequest::alias,
                &DatabaseOpenRequest::open_mode, &DatabaseOpenRequest::share_mode,
                &DatabaseOpenRequest::timeout>;
Bytes DatabaseOpenRequest::Encode() const {
  return DatabaseOpenRequestLayout::Encode(*this);
}
DatabaseOpenRequest DatabaseOpenRequest::Decode(std::string_view payload) {
  return DatabaseOpenRequestLayout::Decode<DatabaseOpenRequest>(payload, "DatabaseOpen");
}

}  // namespace vantera
