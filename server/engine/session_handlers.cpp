// Handlers of the session's requests: aliases, opening a database, the session's timeout.
#include <memory>
#include <vector>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_database.h"

namespace vantera::request_handlers {

EngineReply AliasList(RequestContext& ctx, std::string_view payload) {
  DecodeEmpty(payload);
  std::vector<AliasEntry> list;
  for (const AliasFolder& a : ctx.options.aliases)
    list.push_back({a.name, a.folder});
  return Ok(EncodeAliasListReply(list));
}

EngineReply AliasGetPath(RequestContext& ctx, std::string_view payload) {
  NamesRequest r = NamesRequest::Decode(payload, false, 1);
  return Ok(EncodeShortStringReply(ctx.engine.ResolveFolder("Name", r.names[0])));
}

EngineReply DatabaseOpen(RequestContext& ctx, std::string_view payload) {
  DatabaseOpenRequest r = DatabaseOpenRequest::Decode(payload);
  std::string folder = ctx.engine.ResolveFolder(r.keyword, r.alias);
  if (ctx.session.DatabaseCount() >= ctx.options.max_databases_per_session)
    throw EnxBaseException(9473);  // Insufficient memory for this operation.
  uint32_t id = ctx.NewId();
  ctx.session.AddDatabase(std::make_unique<ServerDatabase>(
      id, ctx.session.id(), folder, r.open_mode != kOpenReadWrite, r.share_mode != kShareShared,
      r.timeout, ctx.folders, ctx.options, ctx.faults));
  return Ok(EncodeInt32Reply(static_cast<int32_t>(id)));
}

EngineReply SessionSetTimeout(RequestContext& ctx, std::string_view payload) {
  ctx.session.timeout = SessionSetTimeoutRequest::Decode(payload).timeout;
  return Ok();
}

}  // namespace vantera::request_handlers
