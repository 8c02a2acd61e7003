#include "server/engine/storage_factory.h"

#include "server/engine/pg_record_locks.h"
#include "server/engine/pg_store.h"
#include "server/engine/sqlite_store.h"

namespace vantera {

std::unique_ptr<Storage> OpenStorage(const EngineOptions& options, const std::string& location,
                                     bool read_only, StoreFaults* faults) {
  if (options.storage == StorageKind::kPostgresql)
    return std::make_unique<PgStore>(options.pg, location, read_only);
  return std::make_unique<SqliteStore>(location, read_only, faults, options.durable);
}

std::unique_ptr<SharedRecordLocks> OpenSharedRecordLocks(const EngineOptions& options,
                                                         const std::string& location) {
  if (options.storage == StorageKind::kPostgresql)
    return std::make_unique<PgRecordLocks>(options.pg, location);
  return nullptr;
}

}  // namespace vantera
