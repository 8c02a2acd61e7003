// Arbitrary request payloads into the server engine's dispatcher, in process.
//
// Each input is a short series of requests on a session that already has a database, a
// cursor on ASSORMI and one blob open. One request is:
//   u8  which: index into the request table (0xFF: a raw u16 message id follows)
//   u8  flags: bit 0 puts the cursor id into the payload's first 4 bytes, bit 1 the
//       database id, bit 2 puts the blob number at bytes 4..11 (so that the fuzzer
//       reaches past the handle checks)
//   u16 payload length (cut to what remains), then the payload.
// Nothing may crash, read out of bounds or leak; every request must be answered.
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz/demo_engine.h"
#include "protocol/nxRequests.h"

using namespace vantera;

namespace {

struct Setup {
  Setup() : demo("dispatcher", Options()) {}
  static EngineOptions Options() {
    EngineOptions options;
    options.max_blob_size = 1 << 20;
    options.max_cursors_per_session = 16;
    return options;
  }
  DemoEngine demo;
  ServerEngine* engine = &demo.engine();
  uint32_t next_session = 1;
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void PatchId(Bytes* payload, size_t at, uint64_t value, size_t width) {
  if (payload->size() < at + width)
    payload->resize(at + width, '\0');
  for (size_t i = 0; i < width; ++i)
    (*payload)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

// The session with its database, cursor and blob, opened once and renewed every 256
// inputs (so that objects the inputs open stay few) or when an input closed them.
struct Objects {
  uint32_t session = 0;
  int32_t db_id = 0;
  int32_t cursor = 0;
  int64_t blob = 0;
  int uses = 0;
};

void Renew(Setup& s, Objects& o) {
  if (o.session != 0)
    s.engine->CloseSession(o.session);
  o = Objects{};
  o.session = s.next_session++;
  s.engine->OpenSession(o.session);
  DatabaseOpenRequest open;
  open.keyword = "Name";
  open.alias = "Tarvola";
  EngineReply db = s.engine->Dispatch(o.session, nxmsg::kDatabaseOpen, open.Encode());
  if (db.code != 0)
    abort();
  o.db_id = DecodeInt32Reply(db.data);
  TableOpenRequest topen;
  topen.database_id = o.db_id;
  topen.table_name = "ASSORMI";
  EngineReply t = s.engine->Dispatch(o.session, nxmsg::kTableOpen, topen.Encode());
  if (t.code != 0)
    abort();
  o.cursor = TableOpenReply::Decode(t.data).cursor_id;
  EngineReply b =
      s.engine->Dispatch(o.session, nxmsg::kBlobCreate, ObjectRequest{o.cursor}.Encode());
  o.blob = b.code == 0 ? DecodeInt64Reply(b.data) : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = TheSetup();
  static Objects o;
  if (o.session == 0 || ++o.uses >= 256 ||
      s.engine->Dispatch(o.session, nxmsg::kCursorGetIndexId, ObjectRequest{o.cursor}.Encode())
              .code != 0 ||
      s.engine->Dispatch(o.session, nxmsg::kTransactionLevel, ObjectRequest{o.db_id}.Encode())
              .code == 9990)
    Renew(s, o);
  uint32_t session = o.session;
  int32_t db_id = o.db_id;
  int32_t cursor = o.cursor;
  int64_t blob = o.blob;

  size_t table_size = 0;
  const RequestInfo* table = nxRequestTable(&table_size);
  size_t pos = 0;
  for (int n = 0; n < 16 && pos + 4 <= size; ++n) {
    uint32_t id = 0;
    uint8_t which = data[pos];
    uint8_t flags = data[pos + 1];
    size_t len = data[pos + 2] | (static_cast<size_t>(data[pos + 3]) << 8);
    pos += 4;
    if (which == 0xFF) {
      if (pos + 2 > size)
        break;
      id = data[pos] | (static_cast<uint32_t>(data[pos + 1]) << 8);
      pos += 2;
    } else {
      id = table[which % table_size].id;
    }
    len = std::min(len, size - pos);
    Bytes payload(reinterpret_cast<const char*>(data + pos), len);
    pos += len;
    const RequestInfo* info = nxFindRequest(id);
    bool tagged = info && info->tagged;
    if (flags & 1) {
      if (tagged)
        payload = "\x04" + std::string(4, '\0') + payload;  // Int with tag 4
      PatchId(&payload, tagged ? 1 : 0, static_cast<uint32_t>(cursor), 4);
    } else if (flags & 2) {
      if (tagged)
        payload = "\x04" + std::string(4, '\0') + payload;
      PatchId(&payload, tagged ? 1 : 0, static_cast<uint32_t>(db_id), 4);
    }
    if (flags & 4)
      PatchId(&payload, 4, static_cast<uint64_t>(blob), 8);
    EngineReply reply = s.engine->Dispatch(session, id, payload);
    if (reply.code == 0 && reply.data.size() > (2u << 20))
      abort();  // a reply may never outgrow the blob limit
  }
  return 0;
}
