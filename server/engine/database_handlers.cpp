// Handlers of a database's requests other than transactions: tables, timeout, closing.
#include <memory>

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"

namespace vantera::request_handlers {

EngineReply TableCreate(RequestContext& ctx, std::string_view payload) {
  TableCreateRequest r = TableCreateRequest::Decode(payload);
  ctx.session.Database(r.database_id).CreateTable(r.table_name, r.dictionary);
  return Ok();
}

EngineReply TableExists(RequestContext& ctx, std::string_view payload) {
  NamesRequest r = NamesRequest::Decode(payload, true, 1);
  return Ok(EncodeByteReply(ctx.session.Database(r.id).TableExists(r.names[0]) ? 1 : 0));
}

EngineReply TableGetDictionary(RequestContext& ctx, std::string_view payload) {
  NamesRequest r = NamesRequest::Decode(payload, true, 1);
  return Ok(ctx.session.Database(r.id).Table(r.names[0])->dictionary);
}

EngineReply TableList(RequestContext& ctx, std::string_view payload) {
  ServerDatabase& db = ctx.session.Database(ObjectRequest::Decode(payload).id);
  return Ok(EncodeTableListReply(db.store().TableNames()));
}

EngineReply TableOpen(RequestContext& ctx, std::string_view payload) {
  TableOpenRequest r = TableOpenRequest::Decode(payload);
  ServerDatabase& db = ctx.session.Database(r.database_id);
  if (ctx.session.CursorCount() >= ctx.options.max_cursors_per_session)
    throw EnxBaseException(9473);
  auto table = db.Table(r.table_name);
  if (r.open_mode == kOpenReadWrite && db.store().read_only())
    throw EnxBaseException(10501);  // Database is read only.
  uint32_t id = ctx.NewId();
  auto cursor = std::make_unique<ServerCursor>(id, db, table, r.open_mode != kOpenReadWrite,
                                               r.share_mode != kShareShared, r.timeout);
  TableOpenReply reply;
  reply.cursor_id = static_cast<int32_t>(id);
  reply.index_number = cursor->index();
  reply.dictionary = table->dictionary;
  ctx.session.AddCursor(std::move(cursor));
  return Ok(reply.Encode());
}

EngineReply DatabaseSetTimeout(RequestContext& ctx, std::string_view payload) {
  ObjectInt32Request r = ObjectInt32Request::Decode(payload);
  ServerDatabase& db = ctx.session.Database(r.id);
  db.set_timeout(r.value);
  db.UseTimeout(r.value);
  return Ok();
}

EngineReply DatabaseClose(RequestContext& ctx, std::string_view payload) {
  ctx.session.CloseDatabase(ObjectRequest::Decode(payload).id);
  return Ok();
}

}  // namespace vantera::request_handlers
