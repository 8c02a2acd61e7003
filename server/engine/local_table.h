// One table of a data folder or schema, reached through the engine in this process: what the
// import, export and demo-data commands use, so that they store records through the same
// checks (keys, required fields, blobs) as a client of the server.
//
// Several processes may use one folder at once (SQLite WAL); record locks of a running
// server are not seen here, so a command never changes existing records.
#pragma once

#include <memory>
#include <string>

#include "core/coding.h"
#include "protocol/nxsdDataDictionary.h"
#include "server/engine/server_engine.h"

namespace vantera {

class LocalTable {
 public:
  // Opens `table` of the folder; throws EnxBaseException (10024 for a missing table).
  LocalTable(const std::string& folder, const std::string& table, bool writable);
  // The same in the storage of `storage` (its kind and connection; its aliases unused).
  LocalTable(const EngineOptions& storage, const std::string& location, const std::string& table,
             bool writable);
  ~LocalTable();
  LocalTable(const LocalTable&) = delete;
  LocalTable& operator=(const LocalTable&) = delete;

  const TnxDataDictionary& dict() const { return dict_; }
  Bytes NewRecord() const { return dict_.NewRecord(); }

  // Each throws EnxBaseException with the engine's code on failure.
  void Begin();
  void Commit();
  void Rollback();
  void Insert(const Bytes& image);
  int64_t CreateBlob(std::string_view content);
  // Visits the records in the order of the default index: the first call starts at the
  // beginning. False at the end.
  bool Next(Bytes* image);
  int32_t Count();

 private:
  EngineReply Call(uint32_t id, std::string_view payload, bool check = true);

  std::unique_ptr<ServerEngine> engine_;
  int32_t db_ = 0;
  int32_t cursor_ = 0;
  int32_t index_ = 0;
  TnxDataDictionary dict_;
};

}  // namespace vantera
