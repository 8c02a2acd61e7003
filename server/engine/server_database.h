// A database object of a session: one connection to the location of an alias, the
// client's transaction on it, and the table definitions read from its catalog.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine/engine_options.h"
#include "server/engine/folder_state.h"
#include "server/engine/storage.h"
#include "server/engine/table_schema.h"

namespace vantera {

struct TableDef {
  int64_t id = 0;
  std::string name;
  Bytes dictionary;  // the dictionary stream, as the table was created with
  TableSchema schema;
};

class ServerDatabase {
 public:
  // Throws 10253 when exclusive use conflicts, and the store's errors.
  ServerDatabase(uint32_t id, uint32_t session, const std::string& folder, bool read_only,
                 bool exclusive, int32_t timeout, FolderRegistry& registry,
                 const EngineOptions& options, StoreFaults* faults);
  ~ServerDatabase();
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  uint32_t id() const { return id_; }
  uint32_t session() const { return session_; }
  Storage& store() { return *store_; }
  FolderState& folder() { return *folder_; }
  const EngineOptions& options() const { return options_; }
  int32_t timeout() const { return timeout_; }
  void set_timeout(int32_t t) { timeout_ = t; }
  // Makes the store wait at most this long for another writer.
  void UseTimeout(int32_t milliseconds);

  // Record locks that a post or delete inside the client's transaction would release:
  // they stay until the transaction ends, so that no other session edits a version that
  // is not committed (and may still be rolled back).
  void ReleaseAtTransactionEnd(int64_t table, int64_t row, uint32_t cursor);
  // After a commit or rollback: releases those locks when no transaction is left.
  void TransactionEnded();

  // The table of that name (any case); 10024 when there is none.
  std::shared_ptr<const TableDef> Table(std::string_view name);
  bool TableExists(std::string_view name);
  // Checks the dictionary and creates the table; 13060 when it exists, 10039 for a bad
  // name, dictionary errors with their own codes.
  void CreateTable(std::string_view name, const Bytes& dictionary);

 private:
  uint32_t id_;
  uint32_t session_;
  bool exclusive_;
  int32_t timeout_;
  const EngineOptions& options_;
  std::shared_ptr<FolderState> folder_;
  std::unique_ptr<Storage> store_;
  std::map<int64_t, std::shared_ptr<const TableDef>> tables_;
  struct HeldLock {
    int64_t table;
    int64_t row;
    uint32_t cursor;
  };
  std::vector<HeldLock> held_to_transaction_end_;
};

}  // namespace vantera
