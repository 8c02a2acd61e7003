#include "server/request_dispatcher.h"

#include "protocol/nxllErrors.h"

namespace vantera {

DispatchReply UnsupportedDispatcher::HandleRequest(const ServerSession& /*session*/,
                                                   uint32_t /*messageId*/,
                                                   std::string_view /*payload*/) {
  return DispatchReply{nxcode::kNotSupported, {}};
}

}  // namespace vantera
