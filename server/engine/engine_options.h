// What the server's administrator sets: aliases and their data folders, the string type
// of the workstation's tables, and the limits that keep one client from exhausting it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbclient/nxsdFieldTypes.h"

namespace vantera {

struct AliasFolder {
  std::string name;    // compared without regard to case
  std::string folder;  // absolute path of the data folder
};

struct EngineOptions {
  std::vector<AliasFolder> aliases;
  // The type of the text fields of the workstation's tables in new data folders.
  TnxFieldType string_type = nxtShortString;
  int64_t max_blob_size = 64 * 1024 * 1024;
  size_t max_databases_per_session = 64;
  size_t max_cursors_per_session = 1024;
  int max_busy_wait_ms = 30000;  // a timeout of a request never makes SQLite wait longer
};

}  // namespace vantera
