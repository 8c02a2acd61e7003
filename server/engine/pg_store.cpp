#include "server/engine/pg_store.h"

#include <algorithm>
#include <ctime>

#include "core/win1252.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

[[noreturn]] void Throw(uint32_t code) {
  throw EnxBaseException(code);
}

// Schema work of all processes on one database is taken in turn (two front-ends that start
// together both find the schema missing).
constexpr const char* kSchemaWorkLock = "SELECT pg_advisory_xact_lock(7361, 1)";

std::string Quoted(const std::string& identifier) {
  return "\"" + identifier + "\"";
}

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

void PgStore::CheckSchemaName(const std::string& schema) {
  bool ok = !schema.empty() && schema.size() <= 63 && !(schema[0] >= '0' && schema[0] <= '9') &&
            std::all_of(schema.begin(), schema.end(), [](char c) {
              return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
            });
  if (!ok)
    throw EnxBaseException("not a schema name (a-z, 0-9, _): " + schema, 10018);
}

std::string PgStore::RowsTable(int64_t table) {
  return "r" + std::to_string(table);
}

PgStore::PgStore(const PgConnectionInfo& info, const std::string& schema, bool read_only)
    : schema_(schema),
      read_only_(read_only),
      conn_(info, [this](PgConnection& c) { Connected(c); }) {
  CheckSchemaName(schema);
  // A lost connection takes the client's transaction with it.
  conn_.OnLost([this] { level_ = 0; });
  conn_.Ensure();
}

PgStore::~PgStore() {
  if (level_ > 0)
    conn_.TryCommand("ROLLBACK");
  // The blobs this store made and no record took are orphans from now on. The database
  // sees the connection end only a moment after it is closed; a store that dies without
  // this leaves its blobs to the liveness check of its backend.
  if (!read_only_)
    conn_.TryCommand(
        "UPDATE blobs SET creator_pid = 0 WHERE owner_row = 0 AND creator_pid = pg_backend_pid()");
}

void PgStore::Connected(PgConnection& c) {
  auto found = c.Run(
      "SELECT count(*) FROM pg_class k JOIN pg_namespace n ON n.oid = k.relnamespace "
      "WHERE n.nspname = $1 AND k.relname = 'blob_chunks'",
      {PgText(schema_)}, false);
  if (found.Int(0, 0) == 0) {
    if (read_only_)
      throw EnxBaseException("no schema " + schema_ + " in the database", 10018);
    EnsureSchema(c);
  }
  c.Command("SET search_path TO " + Quoted(schema_), false);
  c.Command("SET lock_timeout = " + std::to_string(busy_timeout_ms_), false);
  if (read_only_)
    c.Command("SET default_transaction_read_only = on", false);
}

void PgStore::EnsureSchema(PgConnection& c) {
  const std::string s = Quoted(schema_) + ".";
  c.Command("BEGIN", true);
  try {
    c.Command(kSchemaWorkLock, true);
    c.Command("CREATE SCHEMA IF NOT EXISTS " + Quoted(schema_), true);
    c.Command("CREATE TABLE IF NOT EXISTS " + s +
                  "catalog(id bigserial PRIMARY KEY, name bytea NOT NULL, upper_name bytea NOT "
                  "NULL UNIQUE, dictionary bytea NOT NULL, index_count integer NOT NULL, "
                  "next_autoinc bigint NOT NULL DEFAULT 1)",
              true);
    c.Command("CREATE TABLE IF NOT EXISTS " + s +
                  "blobs(id bigserial PRIMARY KEY, table_id bigint NOT NULL, owner_row bigint "
                  "NOT NULL DEFAULT 0, created bigint NOT NULL, creator_pid integer NOT NULL, "
                  "creator_start timestamptz)",
              true);
    c.Command("CREATE INDEX IF NOT EXISTS blobs_owner ON " + s + "blobs(table_id, owner_row)",
              true);
    c.Command("CREATE INDEX IF NOT EXISTS blobs_free ON " + s + "blobs(owner_row, created)", true);
    c.Command("CREATE TABLE IF NOT EXISTS " + s + "blob_chunks(blob bigint NOT NULL REFERENCES " +
                  s +
                  "blobs(id) ON DELETE CASCADE, n bigint NOT NULL, data bytea NOT NULL, "
                  "PRIMARY KEY(blob, n))",
              true);
    c.Command("COMMIT", true);
  } catch (...) {
    c.TryCommand("ROLLBACK");
    throw;
  }
}

void PgStore::SetBusyTimeout(int milliseconds) {
  // Requests set their cursor's timeout each time: only a change costs a round trip, and
  // a new connection takes the value in Connected().
  milliseconds = std::clamp(milliseconds, 1, 60000);
  if (milliseconds == busy_timeout_ms_)
    return;
  busy_timeout_ms_ = milliseconds;
  if (conn_.Connected())
    conn_.Command("SET lock_timeout = " + std::to_string(busy_timeout_ms_), false);
}

void PgStore::SetOrphanSweep(int64_t grace_seconds, int64_t interval_seconds) {
  orphan_grace_s_ = std::max<int64_t>(0, grace_seconds);
  sweep_interval_s_ = std::max<int64_t>(0, interval_seconds);
  next_sweep_ = 0;
}

void PgStore::EnsureWritable() const {
  if (read_only_)
    Throw(10501);  // Database is read only.
}

// ---- Transactions ----

void PgStore::Begin() {
  conn_.Command("BEGIN", true);
  try {
    if (Now() >= next_sweep_) {
      next_sweep_ = Now() + sweep_interval_s_;
      SweepOrphans(orphan_grace_s_);
    }
  } catch (...) {
    conn_.TryCommand("ROLLBACK");
    throw;
  }
}

void PgStore::TransactionStart() {
  fetched_.clear();
  EnsureWritable();
  if (level_ == 0)
    Begin();
  else
    conn_.Command("SAVEPOINT tx" + std::to_string(level_), true);
  ++level_;
}

void PgStore::TransactionCommit() {
  fetched_.clear();
  if (level_ == 0)
    Throw(10257);  // No user transaction is currently in progress.
  if (level_ == 1) {
    level_ = 0;  // a failed COMMIT ends the transaction too
    conn_.Command("COMMIT", true);
  } else {
    conn_.Command("RELEASE tx" + std::to_string(level_ - 1), true);
    --level_;
  }
}

void PgStore::TransactionRollback() {
  fetched_.clear();
  if (level_ == 0)
    Throw(10257);
  if (level_ == 1) {
    level_ = 0;
    conn_.Command("ROLLBACK", true);
    return;
  }
  std::string name = "tx" + std::to_string(level_ - 1);
  --level_;
  conn_.Command("ROLLBACK TO " + name, true);
  conn_.Command("RELEASE " + name, true);
}

void PgStore::BeginChange() {
  fetched_.clear();
  EnsureWritable();
  if (level_ == 0)
    Begin();
  else
    conn_.Command("SAVEPOINT w", true);
}

void PgStore::CommitChange() {
  fetched_.clear();
  conn_.Command(level_ == 0 ? "COMMIT" : "RELEASE w", true);
}

void PgStore::UndoChange() noexcept {
  fetched_.clear();
  if (level_ == 0) {
    conn_.TryCommand("ROLLBACK");
  } else if (!conn_.TryCommand("ROLLBACK TO w") || !conn_.TryCommand("RELEASE w")) {
    // The client's transaction cannot be kept: it ends here, as a lost one does.
    level_ = 0;
    conn_.TryCommand("ROLLBACK");
  }
}

// ---- Catalog ----

std::vector<std::string> PgStore::TableNames() {
  PgResult r = Run("SELECT name FROM catalog ORDER BY upper_name", {}, false);
  std::vector<std::string> names;
  for (int i = 0; i < r.Rows(); ++i)
    names.push_back(r.Data(i, 0));
  return names;
}

std::optional<StoredTable> PgStore::FindTable(std::string_view name) {
  PgResult r = Run("SELECT id, name, dictionary, index_count FROM catalog WHERE upper_name = $1",
                   {PgBytes(Win1252Upper(name))}, false);
  if (r.Rows() == 0)
    return std::nullopt;
  StoredTable t;
  t.id = r.Int(0, 0);
  t.name = r.Data(0, 1);
  t.dictionary = r.Data(0, 2);
  t.index_count = static_cast<int>(r.Int(0, 3));
  return t;
}

void PgStore::LockCatalog() {
  conn_.Command(kSchemaWorkLock, true);
}

void PgStore::CreateTable(std::string_view name, const Bytes& dictionary,
                          const std::vector<bool>& unique_indexes) {
  LockCatalog();
  if (FindTable(name))
    Throw(13060);  // Table already exists.
  PgResult r =
      Run("INSERT INTO catalog(name, upper_name, dictionary, index_count) VALUES($1, $2, $3, $4) "
          "RETURNING id",
          {PgBytes(name), PgBytes(Win1252Upper(name)), PgBytes(dictionary),
           PgInt(static_cast<int64_t>(unique_indexes.size()))},
          true);
  const std::string rows = RowsTable(r.Int(0, 0));
  std::string sql = "CREATE TABLE " + rows + "(row bigint PRIMARY KEY, image bytea NOT NULL";
  for (size_t i = 0; i < unique_indexes.size(); ++i)
    sql += ", k" + std::to_string(i) + " bytea NOT NULL";
  conn_.Command(sql + ")", true);
  conn_.Command("CREATE SEQUENCE " + rows + "_row", true);
  for (size_t i = 0; i < unique_indexes.size(); ++i) {
    std::string k = "k" + std::to_string(i);
    conn_.Command("CREATE INDEX " + rows + "_" + k + " ON " + rows + "(" + k + ", row)", true);
    if (unique_indexes[i])
      conn_.Command("CREATE UNIQUE INDEX " + rows + "_" + k + "_u ON " + rows + "(" + k + ")",
                    true);
  }
}

int64_t PgStore::AllocateRow(int64_t table) {
  PgResult r = Run("SELECT nextval('" + RowsTable(table) + "_row')", {}, true);
  return r.Int(0, 0);
}

int64_t PgStore::AllocateAutoInc(int64_t table) {
  PgResult r =
      Run("UPDATE catalog SET next_autoinc = next_autoinc + 1 WHERE id = $1 "
          "RETURNING next_autoinc - 1",
          {PgInt(table)}, true);
  if (r.Rows() == 0)
    Throw(10024);  // Table does not exist.
  return r.Int(0, 0);
}

// ---- Records ----

std::optional<Bytes> PgStore::ReadRow(int64_t table, int64_t row) {
  PgResult r =
      Run("SELECT image FROM " + RowsTable(table) + " WHERE row = $1", {PgInt(row)}, false);
  if (r.Rows() == 0)
    return std::nullopt;
  return r.Data(0, 0);
}

std::optional<Bytes> PgStore::RowKey(int64_t table, int index, int64_t row) {
  PgResult r =
      Run("SELECT k" + std::to_string(index) + " FROM " + RowsTable(table) + " WHERE row = $1",
          {PgInt(row)}, false);
  if (r.Rows() == 0)
    return std::nullopt;
  return r.Data(0, 0);
}

std::optional<FoundRecord> PgStore::Step(int64_t table, int index, const KeyBound& lower,
                                         const KeyBound& upper, const IndexPlace* from,
                                         bool forward, bool with_image) {
  fetched_.clear();
  return Find(table, index, lower, upper, from, forward, with_image, false);
}

std::optional<FoundRecord> PgStore::StepToRead(int64_t table, int index, const KeyBound& lower,
                                               const KeyBound& upper, const IndexPlace* from,
                                               bool forward) {
  fetched_.clear();
  return Find(table, index, lower, upper, from, forward, true, true);
}

std::optional<FoundRecord> PgStore::Find(int64_t table, int index, const KeyBound& lower,
                                         const KeyBound& upper, const IndexPlace* from,
                                         bool forward, bool with_image, bool with_blobs) {
  // As in the SQLite store: first the records of the same key beyond the place's row, then
  // those beyond its key; each one seek in the (k, row) index, both in one statement.
  const std::string k = "k" + std::to_string(index);
  const std::string order = " ORDER BY " + k + (forward ? ", row" : " DESC, row DESC");
  const std::string columns =
      "SELECT row, " + k + (with_image ? ", image" : "") + " FROM " + RowsTable(table) + " WHERE ";
  std::vector<PgParam> params;
  auto param = [&params](PgParam p) {
    params.push_back(std::move(p));
    return "$" + std::to_string(params.size());
  };
  std::string same_key;
  if (from && (!lower.present || from->key >= lower.key) &&
      (!upper.present || from->key < upper.key)) {
    std::string key = param(PgBytes(from->key));
    std::string row = param(PgInt(from->row));
    same_key = "(" + columns + k + " = " + key + " AND row " + (forward ? "> " : "< ") + row +
               order + " LIMIT 1) UNION ALL (";
  }
  std::string beyond = columns + "true";
  auto bound = [&](const char* op, const Bytes& key) {
    std::string p = param(PgBytes(key));
    beyond += " AND " + k + " " + op + " " + p;
  };
  if (lower.present)
    bound(">=", lower.key);
  if (upper.present)
    bound("<", upper.key);
  if (from)
    bound(forward ? ">" : "<", from->key);
  beyond += order + " LIMIT 1";
  std::string sql = same_key.empty() ? beyond : same_key + beyond + ")" + order + " LIMIT 1";
  if (with_blobs) {
    // The blobs the record owns, a row each: the length from the last chunk, and the bytes
    // when that chunk is the only one.
    std::string t = param(PgInt(table));
    sql = "WITH f AS (" + sql +
          ") SELECT f.*, b.id, c.n, length(c.data), CASE WHEN c.n = 0 THEN c.data END FROM f "
          "LEFT JOIN blobs b ON b.table_id = " +
          t +
          " AND b.owner_row = f.row LEFT JOIN LATERAL (SELECT n, data FROM blob_chunks WHERE "
          "blob = b.id ORDER BY n DESC LIMIT 1) c ON true ORDER BY b.id";
  }
  PgResult r = Run(sql, params, false);
  if (r.Rows() == 0)
    return std::nullopt;
  FoundRecord f;
  f.row = r.Int(0, 0);
  f.key = r.Data(0, 1);
  if (with_image)
    f.image = r.Data(0, 2);
  if (with_blobs) {
    for (int i = 0; i < r.Rows(); ++i) {
      if (r.IsNull(i, 3))
        continue;
      FetchedBlob blob;
      blob.table = table;
      blob.id = r.Int(i, 3);
      blob.whole = r.IsNull(i, 4) || r.Int(i, 4) == 0;
      if (!r.IsNull(i, 4))
        blob.length = r.Int(i, 4) * kBlobChunk + r.Int(i, 5);
      if (blob.whole)
        blob.bytes = r.Data(i, 6);
      fetched_.push_back(std::move(blob));
    }
  }
  return f;
}

int64_t PgStore::Count(int64_t table, int index, const KeyBound& lower, const KeyBound& upper) {
  const std::string k = "k" + std::to_string(index);
  std::string sql = "SELECT count(*) FROM " + RowsTable(table) + " WHERE true";
  std::vector<PgParam> params;
  if (lower.present) {
    params.push_back(PgBytes(lower.key));
    sql += " AND " + k + " >= $" + std::to_string(params.size());
  }
  if (upper.present) {
    params.push_back(PgBytes(upper.key));
    sql += " AND " + k + " < $" + std::to_string(params.size());
  }
  return Run(sql, params, false).Int(0, 0);
}

void PgStore::InsertRow(int64_t table, int64_t row, const Bytes& image,
                        const std::vector<Bytes>& keys) {
  std::string sql = "INSERT INTO " + RowsTable(table) + "(row, image";
  std::string values = ") VALUES($1, $2";
  std::vector<PgParam> params = {PgInt(row), PgBytes(image)};
  for (size_t i = 0; i < keys.size(); ++i) {
    sql += ", k" + std::to_string(i);
    values += ", $" + std::to_string(i + 3);
    params.push_back(PgBytes(keys[i]));
  }
  Run(sql + values + ")", params, true);
}

void PgStore::UpdateRow(int64_t table, int64_t row, const Bytes& image,
                        const std::vector<Bytes>& keys) {
  std::string sql = "UPDATE " + RowsTable(table) + " SET image = $2";
  std::vector<PgParam> params = {PgInt(row), PgBytes(image)};
  for (size_t i = 0; i < keys.size(); ++i) {
    sql += ", k" + std::to_string(i) + " = $" + std::to_string(i + 3);
    params.push_back(PgBytes(keys[i]));
  }
  Run(sql + " WHERE row = $1", params, true);
}

void PgStore::DeleteRow(int64_t table, int64_t row) {
  Run("DELETE FROM " + RowsTable(table) + " WHERE row = $1", {PgInt(row)}, true);
}

void PgStore::DeleteAllRows(int64_t table) {
  Run("DELETE FROM " + RowsTable(table), {}, true);
  Run("DELETE FROM blobs WHERE table_id = $1", {PgInt(table)}, true);
}

// ---- Blobs ----

int64_t PgStore::CreateBlob(int64_t table) {
  PgResult r =
      Run("INSERT INTO blobs(table_id, created, creator_pid, creator_start) VALUES($1, $2, "
          "pg_backend_pid(), (SELECT backend_start FROM pg_stat_activity WHERE pid = "
          "pg_backend_pid())) RETURNING id",
          {PgInt(table), PgInt(Now())}, true);
  return r.Int(0, 0);
}

const PgStore::FetchedBlob* PgStore::Fetched(int64_t table, int64_t blob) const {
  for (const FetchedBlob& f : fetched_)
    if (f.id == blob && f.table == table)
      return &f;
  return nullptr;
}

std::optional<int64_t> PgStore::BlobLength(int64_t table, int64_t blob) {
  if (const FetchedBlob* f = Fetched(table, blob))
    return f->length;
  PgResult r = Run("SELECT (SELECT n * " + std::to_string(kBlobChunk) +
                       " + length(data) FROM blob_chunks WHERE blob = $1 ORDER BY n DESC LIMIT 1) "
                       "FROM blobs WHERE id = $1 AND table_id = $2",
                   {PgInt(blob), PgInt(table)}, false);
  if (r.Rows() == 0)
    return std::nullopt;
  return r.Int(0, 0);  // NULL (no chunks) reads as 0
}

std::optional<Bytes> PgStore::ReadBlob(int64_t table, int64_t blob, int64_t offset, int64_t length,
                                       int64_t* total) {
  if (const FetchedBlob* f = Fetched(table, blob); f && f->whole) {
    *total = f->length;
    if (offset < 0 || length <= 0 || offset >= f->length)
      return Bytes();
    int64_t end = std::min(f->length, offset + length);
    return f->bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(end - offset));
  }
  if (offset < 0 || length <= 0) {
    auto length_now = BlobLength(table, blob);
    if (!length_now)
      return std::nullopt;
    *total = *length_now;
    return Bytes();
  }
  // The blob's length and the chunks that [offset, offset + length) covers, in one round
  // trip: a row per chunk, or one row without a chunk when none is there.
  PgResult r = Run("SELECT (SELECT n * " + std::to_string(kBlobChunk) +
                       " + length(data) FROM blob_chunks WHERE blob = $1 ORDER BY n DESC LIMIT 1), "
                       "c.n, c.data FROM blobs b LEFT JOIN blob_chunks c ON c.blob = b.id AND c.n "
                       "BETWEEN $3 AND $4 WHERE b.id = $1 AND b.table_id = $2 ORDER BY c.n",
                   {PgInt(blob), PgInt(table), PgInt(offset / kBlobChunk),
                    PgInt((offset + length - 1) / kBlobChunk)},
                   false);
  if (r.Rows() == 0)
    return std::nullopt;
  *total = r.Int(0, 0);  // NULL (no chunks) reads as 0
  Bytes out;
  if (offset >= *total)
    return out;
  int64_t end = std::min(*total, offset + length);
  out.reserve(static_cast<size_t>(end - offset));
  for (int i = 0; i < r.Rows(); ++i) {
    if (r.IsNull(i, 1))
      continue;
    int64_t start = r.Int(i, 1) * kBlobChunk;
    Bytes data = r.Data(i, 2);
    int64_t from = std::max(offset, start) - start;
    int64_t to = std::min(end, start + static_cast<int64_t>(data.size())) - start;
    if (to > from)
      out.append(data, static_cast<size_t>(from), static_cast<size_t>(to - from));
  }
  return out;
}

void PgStore::WriteBlob(int64_t table, int64_t blob, int64_t offset, std::string_view data) {
  EnsureWritable();
  fetched_.clear();
  auto length_now = BlobLength(table, blob);
  if (!length_now)
    Throw(9990);
  int64_t total = *length_now;
  if (offset < 0 || offset > total)
    Throw(9998);  // Invalid offset into the BLOB.
  // Only the chunks that [offset, offset + size) covers are read and written again.
  WriteChunks(
      offset, data, total, kBlobChunk,
      [&](int64_t n) {
        PgResult r = Run("SELECT data FROM blob_chunks WHERE blob = $1 AND n = $2",
                         {PgInt(blob), PgInt(n)}, false);
        if (r.Rows() == 0)
          Throw(8962);  // a chunk before the blob's end is missing
        return r.Data(0, 0);
      },
      [&](int64_t n, const Bytes& chunk) {
        Run("INSERT INTO blob_chunks(blob, n, data) VALUES($1, $2, $3) ON CONFLICT (blob, n) "
            "DO UPDATE SET data = excluded.data",
            {PgInt(blob), PgInt(n), PgBytes(chunk)}, true);
      });
}

void PgStore::TruncateBlob(int64_t table, int64_t blob, int64_t length) {
  EnsureWritable();
  fetched_.clear();
  auto length_now = BlobLength(table, blob);
  if (!length_now || length < 0 || length > *length_now)
    Throw(9998);
  int64_t kept = length / kBlobChunk;  // chunks [0, kept) stay whole
  Run("DELETE FROM blob_chunks WHERE blob = $1 AND n > $2", {PgInt(blob), PgInt(kept)}, true);
  if (length % kBlobChunk == 0)
    Run("DELETE FROM blob_chunks WHERE blob = $1 AND n = $2", {PgInt(blob), PgInt(kept)}, true);
  else
    Run("UPDATE blob_chunks SET data = substring(data FROM 1 FOR $3::integer) WHERE blob = $1 "
        "AND n = $2",
        {PgInt(blob), PgInt(kept), PgInt(length % kBlobChunk)}, true);
}

std::optional<int64_t> PgStore::BlobOwner(int64_t table, int64_t blob) {
  PgResult r = Run("SELECT owner_row FROM blobs WHERE id = $1 AND table_id = $2",
                   {PgInt(blob), PgInt(table)}, false);
  if (r.Rows() == 0)
    return std::nullopt;
  return r.Int(0, 0);
}

void PgStore::SetBlobOwner(int64_t table, int64_t blob, int64_t row) {
  Run("UPDATE blobs SET owner_row = $3 WHERE id = $1 AND table_id = $2",
      {PgInt(blob), PgInt(table), PgInt(row)}, true);
}

void PgStore::DeleteBlobsOfRow(int64_t table, int64_t row, const std::vector<int64_t>& keep) {
  PgResult r = Run("SELECT id FROM blobs WHERE table_id = $1 AND owner_row = $2",
                   {PgInt(table), PgInt(row)}, false);
  for (int i = 0; i < r.Rows(); ++i) {
    int64_t id = r.Int(i, 0);
    if (std::find(keep.begin(), keep.end(), id) == keep.end())
      DeleteBlob(table, id);
  }
}

void PgStore::DeleteBlob(int64_t table, int64_t blob) {
  Run("DELETE FROM blobs WHERE id = $1 AND table_id = $2", {PgInt(blob), PgInt(table)}, true);
}

// ---- Orphan blobs ----

int64_t PgStore::SweepOrphans(int64_t grace_seconds) {
  // A creator is alive while its backend (same process id, same start) is connected; a
  // blob being posted by another transaction is skipped, not waited for. Where the
  // database hides another role's start time, the process id alone keeps the blob.
  PgResult r =
      Run("DELETE FROM blobs WHERE owner_row = 0 AND id IN (SELECT b.id FROM blobs b WHERE "
          "b.owner_row = 0 AND b.created <= $1 AND NOT EXISTS (SELECT 1 FROM pg_stat_activity a "
          "WHERE a.pid = b.creator_pid AND (a.backend_start IS NULL OR b.creator_start IS NULL OR "
          "a.backend_start = b.creator_start)) FOR UPDATE OF b SKIP LOCKED)",
          {PgInt(Now() - grace_seconds)}, true);
  return r.Affected();
}

int64_t PgStore::DeleteOrphanBlobs(int64_t grace_seconds) {
  next_sweep_ = Now() + sweep_interval_s_;
  Write w(*this);
  int64_t n = SweepOrphans(grace_seconds);
  w.Commit();
  return n;
}

// ---- Copying ----

TableCounters PgStore::Counters(int64_t table) {
  PgResult r =
      Run("SELECT (SELECT CASE WHEN is_called THEN last_value + 1 ELSE last_value END FROM " +
              RowsTable(table) + "_row), next_autoinc FROM catalog WHERE id = $1",
          {PgInt(table)}, false);
  if (r.Rows() == 0)
    Throw(10024);
  return {r.Int(0, 0), r.Int(0, 1)};
}

void PgStore::SetCounters(int64_t table, const TableCounters& counters) {
  Run("SELECT setval('" + RowsTable(table) + "_row', $1, false)",
      {PgInt(std::max<int64_t>(1, counters.next_row))}, true);
  Run("UPDATE catalog SET next_autoinc = $2 WHERE id = $1",
      {PgInt(table), PgInt(counters.next_autoinc)}, true);
}

std::vector<StoredBlob> PgStore::BlobsOf(int64_t table) {
  PgResult r =
      Run("SELECT id, owner_row FROM blobs WHERE table_id = $1 ORDER BY id", {PgInt(table)}, false);
  std::vector<StoredBlob> blobs;
  for (int i = 0; i < r.Rows(); ++i)
    blobs.push_back({r.Int(i, 0), r.Int(i, 1)});
  return blobs;
}

void PgStore::PutBlob(int64_t table, const StoredBlob& blob) {
  EnsureWritable();
  Run("INSERT INTO blobs(id, table_id, owner_row, created, creator_pid) VALUES($1, $2, $3, $4, 0)",
      {PgInt(blob.id), PgInt(table), PgInt(blob.owner_row), PgInt(Now())}, true);
  Run("SELECT setval(pg_get_serial_sequence('blobs', 'id'), GREATEST($1, (SELECT last_value FROM "
      "blobs_id_seq)))",
      {PgInt(blob.id)}, true);
}

int64_t PgStore::NextBlob() {
  return Run("SELECT CASE WHEN is_called THEN last_value + 1 ELSE last_value END FROM "
             "blobs_id_seq",
             {}, false)
      .Int(0, 0);
}

void PgStore::SetNextBlob(int64_t next) {
  EnsureWritable();
  Run("SELECT setval('blobs_id_seq', GREATEST($1, (SELECT CASE WHEN is_called THEN last_value + 1 "
      "ELSE last_value END FROM blobs_id_seq)), false)",
      {PgInt(std::max<int64_t>(1, next))}, true);
}

}  // namespace vantera
