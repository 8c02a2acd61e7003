#include "server/engine/pg_record_locks.h"

#include <new>

#include "protocol/nxllException.h"

namespace vantera {

namespace {

uint32_t Fnv1a(std::string_view text) {
  uint32_t h = 2166136261u;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

constexpr const char* kTry = "SELECT pg_try_advisory_lock($1::integer, $2::integer)";
constexpr const char* kRelease = "SELECT pg_advisory_unlock($1::integer, $2::integer)";

}  // namespace

PgRecordLocks::PgRecordLocks(const PgConnectionInfo& info, const std::string& schema)
    : schema_hash_(Fnv1a(schema)), conn_(info, nullptr) {}

std::vector<PgParam> PgRecordLocks::Key(int64_t table, int64_t row) const {
  uint32_t high = schema_hash_ ^ (static_cast<uint32_t>(table) * 2654435761u) ^
                  static_cast<uint32_t>(static_cast<uint64_t>(row) >> 32);
  // Both halves as signed 32-bit values, the advisory lock functions' argument type.
  return {PgInt(static_cast<int32_t>(high)),
          PgInt(static_cast<int32_t>(static_cast<uint32_t>(row)))};
}

bool PgRecordLocks::TryLock(int64_t table, int64_t row) {
  return conn_.Run(kTry, Key(table, row), false).Int(0, 0) != 0;
}

void PgRecordLocks::Unlock(int64_t table, int64_t row) noexcept {
  if (!conn_.Connected())
    return;  // the locks went with the connection
  try {
    conn_.Run(kRelease, Key(table, row), false);
  } catch (const EnxBaseException&) {
    // Ending the connection releases every lock it held, this one with them.
    conn_.Close();
  } catch (const std::bad_alloc&) {
    conn_.Close();
  }
}

bool PgRecordLocks::HeldElsewhere(int64_t table, int64_t row) {
  std::vector<PgParam> key = Key(table, row);
  if (conn_.Run(kTry, key, false).Int(0, 0) == 0)
    return true;
  conn_.Run(kRelease, key, false);
  return false;
}

}  // namespace vantera
