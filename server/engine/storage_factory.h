// The store of an alias's location, of the kind the server was started with.
#pragma once

#include <memory>
#include <string>

#include "server/engine/engine_options.h"
#include "server/engine/storage.h"

namespace vantera {

// A connection to `location` (a data folder or a schema); throws the store's errors.
std::unique_ptr<Storage> OpenStorage(const EngineOptions& options, const std::string& location,
                                     bool read_only, StoreFaults* faults = nullptr);

// The record locks that the database decides between server processes, or null where one
// process owns the location (SQLite).
std::unique_ptr<SharedRecordLocks> OpenSharedRecordLocks(const EngineOptions& options,
                                                         const std::string& location);

}  // namespace vantera
