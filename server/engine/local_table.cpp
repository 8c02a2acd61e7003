#include "server/engine/local_table.h"

#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {
constexpr uint32_t kSession = 1;
constexpr int32_t kTimeoutMs = 30000;
}  // namespace

LocalTable::LocalTable(const std::string& folder, const std::string& table, bool writable)
    : LocalTable(EngineOptions(), folder, table, writable) {}

LocalTable::LocalTable(const EngineOptions& storage, const std::string& location,
                       const std::string& table, bool writable) {
  EngineOptions options = storage;
  options.aliases.assign(1, {"local", location});
  engine_ = std::make_unique<ServerEngine>(std::move(options));
  engine_->OpenSession(kSession);
  DatabaseOpenRequest open;
  open.keyword = "Name";
  open.alias = "local";
  open.open_mode = writable ? 2 : 0;
  open.timeout = kTimeoutMs;
  db_ = DecodeInt32Reply(Call(nxmsg::kDatabaseOpen, open.Encode()).data);
  TableOpenRequest topen;
  topen.database_id = db_;
  topen.table_name = table;
  topen.open_mode = writable ? 2 : 0;
  topen.timeout = kTimeoutMs;
  TableOpenReply reply = TableOpenReply::Decode(Call(nxmsg::kTableOpen, topen.Encode()).data);
  cursor_ = reply.cursor_id;
  index_ = reply.index_number;
  dict_.ReadFromBytes(reply.dictionary);
}

LocalTable::~LocalTable() {
  engine_->CloseSession(kSession);
}

EngineReply LocalTable::Call(uint32_t id, std::string_view payload, bool check) {
  EngineReply reply = engine_->Dispatch(kSession, id, payload);
  if (check && reply.code != 0)
    throw EnxBaseException(reply.code);
  return reply;
}

void LocalTable::Begin() {
  Call(nxmsg::kTransactionStart, TransactionStartRequest{db_, 0, 0}.Encode());
}
void LocalTable::Commit() {
  Call(nxmsg::kTransactionCommit, ObjectRequest{db_}.Encode());
}
void LocalTable::Rollback() {
  Call(nxmsg::kTransactionRollback, ObjectRequest{db_}.Encode());
}

void LocalTable::Insert(const Bytes& image) {
  RecordWriteRequest r;
  r.cursor_id = cursor_;
  r.record = image;
  r.bookmark_size = dict_.BookmarkSize(index_);
  Call(nxmsg::kRecordInsert, r.Encode(nxmsg::kRecordInsert));
}

int64_t LocalTable::CreateBlob(std::string_view content) {
  int64_t blob = DecodeInt64Reply(Call(nxmsg::kBlobCreate, ObjectRequest{cursor_}.Encode()).data);
  BlobWriteRequest w{cursor_, blob, 0, Bytes(content)};
  Call(nxmsg::kBlobWrite, w.Encode());
  return blob;
}

bool LocalTable::Next(Bytes* image) {
  RecordGetRequest r{cursor_, 0, static_cast<uint16_t>(dict_.RecordLength()),
                     static_cast<uint16_t>(dict_.BookmarkSize(index_))};
  EngineReply reply = Call(nxmsg::kRecordGetNext, r.Encode(), false);
  if (reply.code == 8706)
    return false;
  if (reply.code != 0)
    throw EnxBaseException(reply.code);
  *image = std::move(reply.data);
  return true;
}

int32_t LocalTable::Count() {
  return DecodeInt32Reply(Call(nxmsg::kCursorRecordCount, ObjectRequest{cursor_}.Encode()).data);
}

}  // namespace vantera
