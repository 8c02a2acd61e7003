// Record locks decided by PostgreSQL between the kantadb-server processes that serve one
// schema: a session-level advisory lock per record, held by one connection of this
// process for all its sessions (a lock belongs to a session, which may reach the record
// through several database objects). A process that ends, however it ends, ends its
// connection, and the database releases its locks.
//
// The key of a record is two 32-bit numbers made from the schema name, the table and the
// row: two records that happen to share a key refuse each other (never the other way, a
// lock granted twice).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/engine/engine_options.h"
#include "server/engine/pg_connection.h"
#include "server/engine/storage.h"

namespace vantera {

class PgRecordLocks final : public SharedRecordLocks {
 public:
  // Connects at the first lock.
  PgRecordLocks(const PgConnectionInfo& info, const std::string& schema);

  bool TryLock(int64_t table, int64_t row) override;
  void Unlock(int64_t table, int64_t row) noexcept override;
  bool HeldElsewhere(int64_t table, int64_t row) override;
  uint64_t Generation() const override { return conn_.Epoch(); }

 private:
  std::vector<PgParam> Key(int64_t table, int64_t row) const;

  uint32_t schema_hash_;
  PgConnection conn_;
};

}  // namespace vantera
