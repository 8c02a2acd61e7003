// What the server's administrator sets: aliases and their data folders, the string type
// of the workstation's tables, and the limits that keep one client from exhausting it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/nxsdFieldTypes.h"

namespace vantera {

struct AliasFolder {
  std::string name;  // compared without regard to case
  // SQLite: the absolute path of the data folder; PostgreSQL: the name of the schema.
  std::string folder;
};

enum class StorageKind { kSqlite, kPostgresql };

// Where the PostgreSQL store connects: a libpq connection string without a password, and
// the password file (libpq's format) when the password is not in PGPASSFILE.
struct PgConnectionInfo {
  std::string conninfo;
  std::string password_file;
};

struct EngineOptions {
  StorageKind storage = StorageKind::kSqlite;
  PgConnectionInfo pg;
  std::vector<AliasFolder> aliases;
  // The type of the text fields of the workstation's tables in new data folders.
  TnxFieldType string_type = nxtShortString;
  int64_t max_blob_size = 64 * 1024 * 1024;
  size_t max_databases_per_session = 64;
  size_t max_cursors_per_session = 1024;
  int max_busy_wait_ms = 30000;  // a timeout of a request never makes SQLite wait longer
  // Blobs that no record refers to (appends that were never posted) are removed by a later
  // write once they are this old and their creator's database is closed; the check runs
  // at most once per interval on each open database.
  int64_t orphan_blob_grace_s = 600;
  int64_t orphan_sweep_interval_s = 60;
  // Every commit reaches the disk before it is acknowledged. Only throw-away data (fuzzing)
  // turns this off.
  bool durable = true;
};

}  // namespace vantera
