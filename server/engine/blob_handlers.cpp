// Handlers of a cursor's BLOB requests.
#include "protocol/nxRequests.h"
#include "server/engine/request_handlers.h"
#include "server/engine/server_cursor.h"

namespace vantera::request_handlers {

EngineReply BlobCreate(RequestContext& ctx, std::string_view payload) {
  return Ok(EncodeInt64Reply(ctx.UsedCursor(ObjectRequest::Decode(payload).id).BlobCreate()));
}

EngineReply BlobRelease(RequestContext& ctx, std::string_view payload) {
  BlobRequest r = BlobRequest::Decode(payload);
  ctx.UsedCursor(r.cursor_id).BlobRelease(r.blob);
  return Ok();
}

EngineReply BlobRead(RequestContext& ctx, std::string_view payload) {
  BlobReadRequest r = BlobReadRequest::Decode(payload);
  bool at_end = false;
  Bytes data = ctx.UsedCursor(r.cursor_id).BlobRead(r.blob, r.offset, r.length, &at_end);
  return {at_end ? 8711u : 0u, EncodeBlobReadReply(data)};  // 8711: End of BLOB.
}

EngineReply BlobWrite(RequestContext& ctx, std::string_view payload) {
  BlobWriteRequest r = BlobWriteRequest::Decode(payload);
  ctx.UsedCursor(r.cursor_id).BlobWrite(r.blob, r.offset, r.data);
  return Ok();
}

EngineReply BlobTruncate(RequestContext& ctx, std::string_view payload) {
  BlobTruncateRequest r = BlobTruncateRequest::Decode(payload);
  ctx.UsedCursor(r.cursor_id).BlobTruncate(r.blob, r.length);
  return Ok();
}

EngineReply BlobGetLength(RequestContext& ctx, std::string_view payload) {
  BlobRequest r = BlobRequest::Decode(payload);
  return Ok(EncodeInt32Reply(ctx.UsedCursor(r.cursor_id).BlobGetLength(r.blob)));
}

}  // namespace vantera::request_handlers
