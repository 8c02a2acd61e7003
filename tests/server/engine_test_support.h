// Helpers for tests that drive the server engine in process with the request codecs that
// the client uses: a private data folder, a session, and typed request calls.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/nxRequests.h"
#include "protocol/nxsdDataDictionary.h"
#include "server/engine/data_folder.h"
#include "server/engine/server_engine.h"

namespace vantera::testing {

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "kantadb-test-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
      throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Options with the alias "Tarvola" on `folder`.
inline EngineOptions OptionsFor(const std::string& folder,
                                TnxFieldType string_type = nxtShortString) {
  EngineOptions o;
  o.aliases.push_back({"Tarvola", folder});
  o.string_type = string_type;
  return o;
}

struct OpenCursor {
  int32_t id = 0;
  int32_t index = 0;
  std::shared_ptr<TnxDataDictionary> dict;
  int32_t RecLen() const { return dict->RecordLength(); }
};

// One session of the engine, speaking in requests.
class TestClient {
 public:
  TestClient(ServerEngine& engine, uint32_t session) : engine_(engine), session_(session) {
    engine_.OpenSession(session_);
  }
  ~TestClient() { engine_.CloseSession(session_); }

  EngineReply Call(uint32_t id, std::string_view payload) {
    return engine_.Dispatch(session_, id, payload);
  }

  int32_t OpenDatabase(const std::string& alias = "Tarvola", uint8_t open_mode = 2,
                       uint8_t share_mode = 1, const std::string& keyword = "Name") {
    DatabaseOpenRequest r;
    r.keyword = keyword;
    r.alias = alias;
    r.open_mode = open_mode;
    r.share_mode = share_mode;
    r.timeout = 2000;
    EngineReply reply = Call(nxmsg::kDatabaseOpen, r.Encode());
    last_code = reply.code;
    return reply.code == 0 ? DecodeInt32Reply(reply.data) : 0;
  }

  OpenCursor OpenTable(int32_t db, const std::string& table, uint8_t open_mode = 2,
                       uint8_t share_mode = 1) {
    TableOpenRequest r;
    r.database_id = db;
    r.table_name = table;
    r.open_mode = open_mode;
    r.share_mode = share_mode;
    r.timeout = 2000;
    EngineReply reply = Call(nxmsg::kTableOpen, r.Encode());
    last_code = reply.code;
    OpenCursor c;
    if (reply.code != 0)
      return c;
    TableOpenReply t = TableOpenReply::Decode(reply.data);
    c.id = t.cursor_id;
    c.index = t.index_number;
    c.dict = std::make_shared<TnxDataDictionary>();
    c.dict->ReadFromBytes(t.dictionary);
    return c;
  }

  uint32_t SwitchIndex(const OpenCursor& c, const std::string& name, bool keep = false) {
    CursorSwitchToIndexRequest r;
    r.cursor_id = c.id;
    r.index_name = name;
    r.index_number = -1;
    r.keep_position = keep ? 1 : 0;
    return Call(nxmsg::kCursorSwitchToIndex, r.Encode()).code;
  }

  uint32_t Simple(uint32_t id, int32_t object) {
    ObjectRequest r;
    r.id = object;
    return Call(id, r.Encode()).code;
  }

  EngineReply Get(uint32_t id, const OpenCursor& c, uint8_t lock_mode = 0) {
    RecordGetRequest r;
    r.cursor_id = c.id;
    r.lock_mode = lock_mode;
    r.record_length = static_cast<uint16_t>(c.RecLen());
    r.bookmark_size = static_cast<uint16_t>(c.dict->BookmarkSize(c.index));
    return Call(id, r.Encode());
  }

  uint32_t Insert(const OpenCursor& c, const Bytes& image, int32_t lock_mode = 0) {
    RecordWriteRequest r;
    r.cursor_id = c.id;
    r.lock_mode = lock_mode;
    r.record = image;
    r.bookmark_size = c.dict->BookmarkSize(c.index);
    return Call(nxmsg::kRecordInsert, r.Encode(nxmsg::kRecordInsert)).code;
  }

  uint32_t Modify(const OpenCursor& c, const Bytes& image) {
    RecordWriteRequest r;
    r.cursor_id = c.id;
    r.release_lock = true;
    r.record = image;
    r.bookmark_size = c.dict->BookmarkSize(c.index);
    return Call(nxmsg::kRecordModify, r.Encode(nxmsg::kRecordModify)).code;
  }

  uint32_t SetRange(const OpenCursor& c, const RangeEnd& start, const RangeEnd& end) {
    CursorSetRangeRequest r;
    r.cursor_id = c.id;
    r.start = start;
    r.end = end;
    return Call(nxmsg::kCursorSetRange, r.Encode()).code;
  }

  EngineReply GetForKey(const OpenCursor& c, const Bytes& key, int32_t fields, int32_t partial,
                        bool first = true) {
    RecordGetForKeyRequest r;
    r.cursor_id = c.id;
    r.field_count = fields;
    r.partial_length = partial;
    r.first_call = first ? 1 : 0;
    r.record_length = static_cast<uint16_t>(c.RecLen());
    r.key = key;
    return Call(nxmsg::kRecordGetForKey, r.Encode());
  }

  Bytes Bookmark(const OpenCursor& c) {
    ObjectInt32Request r;
    r.id = c.id;
    r.value = c.dict->BookmarkSize(c.index);
    EngineReply reply = Call(nxmsg::kCursorGetBookmark, r.Encode());
    last_code = reply.code;
    return reply.data;
  }

  int32_t Count(const OpenCursor& c) {
    ObjectRequest r;
    r.id = c.id;
    EngineReply reply = Call(nxmsg::kCursorRecordCount, r.Encode());
    last_code = reply.code;
    return reply.code == 0 ? DecodeInt32Reply(reply.data) : -1;
  }

  uint32_t last_code = 0;

 private:
  ServerEngine& engine_;
  uint32_t session_;
};

// Record images by field name: text fields take Windows-1252 bytes in the field's own
// string type; 32-bit integers; blob numbers.
inline void SetText(const TnxDataDictionary& d, Bytes* rec, const std::string& field,
                    std::string_view text) {
  int f = d.FieldNumber(field);
  const TnxFieldDescriptor& fd = d.Field(f);
  Bytes v(static_cast<size_t>(fd.length), '\0');
  if (fd.type == nxtShortString) {
    size_t n = std::min<size_t>(text.size(), static_cast<size_t>(fd.length - 1));
    v[0] = static_cast<char>(n);
    v.replace(1, n, text.substr(0, n));
  } else {
    size_t n = std::min<size_t>(text.size(), static_cast<size_t>(fd.length - 1));
    v.replace(0, n, text.substr(0, n));
  }
  d.SetFieldBytes(std::span<char>(rec->data(), rec->size()), f, v);
}

inline void SetInt32(const TnxDataDictionary& d, Bytes* rec, const std::string& field,
                     int32_t value) {
  Bytes v;
  PutFixed32(&v, static_cast<uint32_t>(value));
  d.SetFieldBytes(std::span<char>(rec->data(), rec->size()), d.FieldNumber(field), v);
}

inline void SetInt64(const TnxDataDictionary& d, Bytes* rec, const std::string& field,
                     int64_t value) {
  Bytes v;
  PutFixed64(&v, static_cast<uint64_t>(value));
  d.SetFieldBytes(std::span<char>(rec->data(), rec->size()), d.FieldNumber(field), v);
}

inline std::string GetText(const TnxDataDictionary& d, std::string_view rec,
                           const std::string& field) {
  int f = d.FieldNumber(field);
  bool is_null = false;
  std::string_view v = d.GetFieldBytes(rec, f, &is_null);
  if (is_null)
    return {};
  if (d.Field(f).type == nxtShortString)
    return std::string(v.substr(1, static_cast<unsigned char>(v[0])));
  return std::string(v.substr(0, v.find('\0')));
}

inline int64_t GetInt64(const TnxDataDictionary& d, std::string_view rec,
                        const std::string& field) {
  std::string_view v = d.GetFieldBytes(rec, d.FieldNumber(field));
  return static_cast<int64_t>(DecodeFixed64(v.data()));
}

}  // namespace vantera::testing
