// What a transport request's reply callback delivered, for the transport tests: the reply
// collector handed to Request as its callback and cookie, and the calls built on it.
#pragma once

#include <cstdint>
#include <string>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/nxllException.h"

namespace vantera::testing {

// How often the callback was called and what its last call gave.
struct Reply {
  int calls = 0;
  uint32_t messageId = 0;
  uint32_t error = 0;
  bool hadData = false;  // the data pointer was not null
  std::string data;      // empty when it was
};

inline void Collect(uint32_t messageId, uint32_t error, const char* data, uint32_t length,
                    void* cookie) {
  auto* r = static_cast<Reply*>(cookie);
  ++r->calls;
  r->messageId = messageId;
  r->error = error;
  r->hadData = data != nullptr;
  r->data.assign(data ? data : "", data ? length : 0);
}

// Sends `payload` as request `messageId` of `session` (transport id 0: the transport's own)
// and returns what came back within `timeoutMs`.
inline Reply Ask(TnxBaseTransport& t, uint32_t session, uint32_t messageId,
                 const std::string& payload, uint32_t timeoutMs = 10000) {
  Reply r;
  t.Request(0, session, messageId, payload.data(), static_cast<uint32_t>(payload.size()), timeoutMs,
            &Collect, &r);
  return r;
}

// The error code with which `t.Open()` fails, or 0 when it opens.
inline uint32_t CodeOfOpen(TnxBaseTransport& t) {
  try {
    t.Open();
  } catch (const EnxTransportException& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace vantera::testing
