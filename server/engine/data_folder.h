// Preparing an alias's location for serving: the workstation's three tables in a new data
// folder or schema and the removal of blobs that no record refers to (left by clients that
// never posted).
#pragma once

#include <string>

#include "protocol/nxsdFieldTypes.h"
#include "server/engine/engine_options.h"
#include "server/engine/storage.h"

namespace vantera {

struct FolderReport {
  bool created_tables = false;
  long long orphan_blobs_removed = 0;
};

// Creates the folder when missing (its parent must exist); 10018 when it cannot.
void MakeDataFolder(const std::string& folder);

// Creates the folder when missing and the workstation's tables when it has no tables.
// With `remove_orphans` also deletes the blobs that no record refers to, except those of a
// store that is still open (in this or another process): at server start.
FolderReport PrepareDataFolder(const std::string& folder, TnxFieldType string_type,
                               bool remove_orphans = true);

// The workstation's tables when the store has no tables; with `remove_orphans` the blobs
// that no record refers to, except those of a store that is still open.
FolderReport PrepareStore(Storage& store, TnxFieldType string_type, bool remove_orphans);

// PrepareDataFolder or, for PostgreSQL, PrepareStore on the schema `location` (made when
// missing), with the options' string type.
FolderReport PrepareLocation(const EngineOptions& options, const std::string& location,
                             bool remove_orphans = true);

}  // namespace vantera
