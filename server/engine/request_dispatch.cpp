// ServerEngine::Handle: the handler table made from protocol/request_list.h, in the list's
// order, and the lookup of a request's handler by its id.
#include "protocol/nxRequests.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"

namespace vantera {

namespace {

constexpr uint32_t kUnknownMessage = 15522;  // Message is unrecognized.

struct HandlerEntry {
  uint16_t id;
  RequestHandler handler;
};

#define VANTERA_HANDLER_ENTRY(constant, id, name, owner, encoding, handler) \
  {nxmsg::constant, &request_handlers::handler},
constexpr HandlerEntry kHandlers[] = {VANTERA_REQUESTS(VANTERA_HANDLER_ENTRY)};
#undef VANTERA_HANDLER_ENTRY

}  // namespace

RequestHandler FindRequestHandler(uint32_t message_id) {
  for (const HandlerEntry& e : kHandlers)
    if (e.id == message_id)
      return e.handler;
  return nullptr;
}

ServerCursor& RequestContext::UsedCursor(int32_t id) {
  ServerCursor& c = session.Cursor(id);
  c.database().UseTimeout(c.timeout());
  return c;
}

namespace request_handlers {

// Requests of statements and tasks, and alias administration: that belongs to the server's
// options, not to its clients.
EngineReply NotSupported(RequestContext&, std::string_view) {
  return {kNotSupported, {}};
}

}  // namespace request_handlers

EngineReply ServerEngine::Handle(EngineSession& s, uint32_t message_id, std::string_view payload) {
  RequestHandler handler = FindRequestHandler(message_id);
  if (!handler)
    return {kUnknownMessage, {}};
  RequestContext ctx{*this, s, options_, folders_, faults_, next_id_};
  return handler(ctx, payload);
}

}  // namespace vantera
