// Handlers of a database's transaction requests.
#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"

namespace vantera::request_handlers {

namespace {

// Commits or rolls back, then releases the record locks held to the transaction's end
// once none is left, also when the commit or rollback failed after ending it.
template <typename End>
void EndTransaction(ServerDatabase& db, End end) {
  try {
    end();
  } catch (...) {
    db.TransactionEnded();
    throw;
  }
  db.TransactionEnded();
}

}  // namespace

EngineReply TransactionStart(RequestContext& ctx, std::string_view payload) {
  TransactionStartRequest r = TransactionStartRequest::Decode(payload);
  ctx.session.Database(r.database_id).store().TransactionStart();
  return Ok();
}

EngineReply TransactionStartWith(RequestContext& ctx, std::string_view payload) {
  TransactionStartWithRequest r = TransactionStartWithRequest::Decode(payload);
  ServerDatabase& db = ctx.session.Database(r.database_id);
  for (int32_t c : r.cursor_ids)
    if (&ctx.session.Cursor(c).database() != &db)
      throw EnxBaseException(9990);
  db.store().TransactionStart();
  return Ok();
}

EngineReply TransactionCommit(RequestContext& ctx, std::string_view payload) {
  ServerDatabase& db = ctx.session.Database(ObjectRequest::Decode(payload).id);
  EndTransaction(db, [&db] { db.store().TransactionCommit(); });
  return Ok();
}

EngineReply TransactionRollback(RequestContext& ctx, std::string_view payload) {
  ServerDatabase& db = ctx.session.Database(ObjectRequest::Decode(payload).id);
  EndTransaction(db, [&db] { db.store().TransactionRollback(); });
  return Ok();
}

EngineReply TransactionLevel(RequestContext& ctx, std::string_view payload) {
  int level = ctx.session.Database(ObjectRequest::Decode(payload).id).store().TransactionLevel();
  if (level == 0)
    throw EnxBaseException(10257);  // No user transaction is currently in progress.
  return Ok(EncodeInt32Reply(level));
}

}  // namespace vantera::request_handlers
