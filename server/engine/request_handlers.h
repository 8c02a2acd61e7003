// The server's request handlers: one function per request of protocol/request_list.h, all
// of one signature, named in that list's handler column. Each decodes its payload with the
// shared codecs of protocol/nxRequests.h (which check every length before reading), runs
// the operation on the session's objects and encodes the reply with the same codecs.
// Failures are exceptions (EnxBaseException with the error code, DecodeError for a payload
// of the wrong shape) that ServerEngine::Dispatch turns into the reply's code.
//
// The handlers are defined by family: session_handlers.cpp, database_handlers.cpp,
// transaction_handlers.cpp, cursor_handlers.cpp (cursor and record), blob_handlers.cpp;
// NotSupported in request_dispatch.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "protocol/request_list.h"
#include "server/engine/server_engine.h"

namespace vantera {

class ServerCursor;

// What a handler works on: the requesting session and the engine's shared state.
struct RequestContext {
  ServerEngine& engine;
  EngineSession& session;
  const EngineOptions& options;
  FolderRegistry& folders;
  StoreFaults* faults;
  std::atomic<uint32_t>& next_id;

  // A new database or cursor id, unique in the engine's run.
  uint32_t NewId() { return next_id.fetch_add(1); }
  // The session's cursor `id`, its database's busy timeout set to the cursor's.
  ServerCursor& UsedCursor(int32_t id);
};

using RequestHandler = EngineReply (*)(RequestContext& ctx, std::string_view payload);

namespace request_handlers {

// One declaration per handler named in the list (NotSupported repeats, which a function
// declaration may).
#define VANTERA_DECLARE_HANDLER(constant, id, name, owner, encoding, handler) \
  EngineReply handler(RequestContext& ctx, std::string_view payload);
VANTERA_REQUESTS(VANTERA_DECLARE_HANDLER)
#undef VANTERA_DECLARE_HANDLER

// Pieces the handlers share.
inline constexpr uint32_t kNotSupported = 12289;  // Capability not supported.
inline constexpr uint8_t kOpenReadWrite = 2;
inline constexpr uint8_t kShareShared = 1;

inline EngineReply Ok(Bytes data = {}) {
  return {0, std::move(data)};
}

}  // namespace request_handlers

// The handler of a request id of the list; nullptr for an id the protocol does not have.
RequestHandler FindRequestHandler(uint32_t message_id);

}  // namespace vantera
