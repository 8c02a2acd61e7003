#include "server/engine/sqlite_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "core/win1252.h"
#include "dbconn/nxllException.h"

namespace vantera {

namespace {

constexpr size_t kStatementCacheLimit = 256;

[[noreturn]] void Throw(uint32_t code) {
  throw EnxBaseException(code);
}

}  // namespace

uint32_t StoreErrorCode(int sqlite_code, bool is_write) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return 10249;  // Lock time out.
    case SQLITE_CONSTRAINT:
      return 9729;  // Key violation.
    case SQLITE_FULL:
      return 9479;  // Table is full.
    case SQLITE_READONLY:
      return 10501;  // Database is read only.
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return 8962;  // Corrupt file - other than header.
    case SQLITE_NOMEM:
      return 9473;  // Insufficient memory for this operation.
    case SQLITE_TOOBIG:
      return 15490;  // BLOB size exceeds maximum size.
    case SQLITE_CANTOPEN:
      return 9992;  // Cannot open file.
    default:
      return is_write ? 9218 : 9217;  // Write failure. / Read failure.
  }
}

std::string SqliteStore::FileName(const std::string& folder) {
  return folder + "/kantadb.sqlite";
}

std::string SqliteStore::RowsTable(int64_t table) {
  return "r" + std::to_string(table);
}

SqliteStore::SqliteStore(const std::string& folder, bool read_only, StoreFaults* faults)
    : read_only_(read_only), faults_(faults) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    Throw(10018);  // The alias references a directory that does not exist.
  int flags = SQLITE_OPEN_NOMUTEX |
              (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  int rc = sqlite3_open_v2(FileName(folder).c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    Throw(9992);
  }
  sqlite3_extended_result_codes(db_, 1);
  SetBusyTimeout(5000);
  try {
    if (!read_only) {
      Exec("PRAGMA journal_mode=WAL", true);
      Exec("PRAGMA synchronous=FULL", true);
      Exec(
          "CREATE TABLE IF NOT EXISTS catalog(id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
          "upper_name BLOB NOT NULL UNIQUE, dictionary BLOB NOT NULL, index_count INTEGER "
          "NOT NULL, next_row INTEGER NOT NULL DEFAULT 1, next_autoinc INTEGER NOT NULL "
          "DEFAULT 1)",
          true);
      Exec(
          "CREATE TABLE IF NOT EXISTS blobs(id INTEGER PRIMARY KEY AUTOINCREMENT, table_id "
          "INTEGER NOT NULL, owner_row INTEGER NOT NULL DEFAULT 0, data BLOB NOT NULL)",
          true);
      Exec("CREATE INDEX IF NOT EXISTS blobs_owner ON blobs(table_id, owner_row)", true);
    }
  } catch (...) {
    for (auto& [sql, st2] : cache_)
      sqlite3_finalize(st2);
    cache_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

SqliteStore::~SqliteStore() {
  for (auto& [sql, st] : cache_)
    sqlite3_finalize(st);
  if (db_ && !sqlite3_get_autocommit(db_))
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

void SqliteStore::SetBusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(db_, std::clamp(milliseconds, 0, 60000));
}

[[noreturn]] void SqliteStore::Fail(int rc, bool is_write) {
  // Some failures end the whole transaction inside SQLite; keep the nesting in step.
  if (level_ > 0 && sqlite3_get_autocommit(db_))
    level_ = 0;
  Throw(StoreErrorCode(rc, is_write));
}

sqlite3_stmt* SqliteStore::Prepare(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  if (cache_.size() >= kStatementCacheLimit) {
    for (auto& [text, st] : cache_)
      sqlite3_finalize(st);
    cache_.clear();
  }
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK)
    Fail(rc, false);
  cache_.emplace(sql, st);
  return st;
}

bool SqliteStore::StepStmt(sqlite3_stmt* st, bool is_write) {
  if (is_write && faults_) {
    int injected = faults_->BeforeWrite();
    if (injected != SQLITE_OK) {
      sqlite3_reset(st);
      Fail(injected, true);
    }
  }
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW)
    return true;
  if (rc == SQLITE_DONE) {
    if (is_write)
      sqlite3_reset(st);
    return false;
  }
  sqlite3_reset(st);
  Fail(rc, is_write);
}

void SqliteStore::Exec(const std::string& sql, bool is_write) {
  sqlite3_stmt* st = Prepare(sql);
  while (StepStmt(st, is_write)) {
  }
  sqlite3_reset(st);
}

void SqliteStore::EnsureWritable() {
  if (read_only_)
    Throw(10501);  // Database is read only.
}

// ---- Transactions ----

void SqliteStore::TransactionStart() {
  EnsureWritable();
  if (level_ == 0)
    Exec("BEGIN IMMEDIATE", true);
  else
    Exec("SAVEPOINT tx" + std::to_string(level_), true);
  ++level_;
}

void SqliteStore::TransactionCommit() {
  if (level_ == 0)
    Throw(10257);  // No user transaction is currently in progress.
  if (level_ == 1)
    Exec("COMMIT", true);
  else
    Exec("RELEASE tx" + std::to_string(level_ - 1), true);
  --level_;
}

void SqliteStore::TransactionRollback() {
  if (level_ == 0)
    Throw(10257);
  if (level_ == 1) {
    level_ = 0;
    if (!sqlite3_get_autocommit(db_))
      Exec("ROLLBACK", true);
    return;
  }
  std::string name = "tx" + std::to_string(level_ - 1);
  --level_;
  Exec("ROLLBACK TO " + name, true);
  Exec("RELEASE " + name, true);
}

SqliteStore::Write::Write(SqliteStore& store) : store_(store) {
  store_.EnsureWritable();
  if (store_.level_ == 0)
    store_.Exec("BEGIN IMMEDIATE", true);
  else
    store_.Exec("SAVEPOINT w", true);
}

void SqliteStore::Write::Commit() {
  if (store_.level_ == 0)
    store_.Exec("COMMIT", true);
  else
    store_.Exec("RELEASE w", true);
  done_ = true;
}

SqliteStore::Write::~Write() {
  if (done_)
    return;
  // Undo what this change did; failures here cannot be reported and leave SQLite's own
  // rollback in charge.
  if (store_.level_ == 0) {
    if (!sqlite3_get_autocommit(store_.db_))
      sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
  } else if (!sqlite3_get_autocommit(store_.db_)) {
    sqlite3_exec(store_.db_, "ROLLBACK TO w; RELEASE w", nullptr, nullptr, nullptr);
  } else {
    store_.level_ = 0;  // SQLite ended the client's transaction itself
  }
}

// ---- Catalog ----

std::vector<std::string> SqliteStore::TableNames() {
  std::vector<std::string> names;
  sqlite3_stmt* st = Prepare("SELECT name FROM catalog ORDER BY upper_name");
  while (StepStmt(st, false)) {
    auto p = static_cast<const char*>(sqlite3_column_blob(st, 0));
    names.emplace_back(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, 0)));
  }
  return names;
}

std::optional<StoredTable> SqliteStore::FindTable(std::string_view name) {
  std::string upper = Win1252Upper(name);
  sqlite3_stmt* st =
      Prepare("SELECT id, name, dictionary, index_count FROM catalog WHERE upper_name = ?1");
  sqlite3_bind_blob(st, 1, upper.data(), static_cast<int>(upper.size()), SQLITE_TRANSIENT);
  if (!StepStmt(st, false))
    return std::nullopt;
  StoredTable t;
  t.id = sqlite3_column_int64(st, 0);
  auto n = static_cast<const char*>(sqlite3_column_blob(st, 1));
  t.name.assign(n ? n : "", static_cast<size_t>(sqlite3_column_bytes(st, 1)));
  auto d = static_cast<const char*>(sqlite3_column_blob(st, 2));
  t.dictionary.assign(d ? d : "", static_cast<size_t>(sqlite3_column_bytes(st, 2)));
  t.index_count = sqlite3_column_int(st, 3);
  sqlite3_reset(st);
  return t;
}

void SqliteStore::CreateTable(std::string_view name, const Bytes& dictionary,
                              const std::vector<bool>& unique_indexes) {
  if (FindTable(name))
    Throw(13060);  // Table already exists.
  std::string upper = Win1252Upper(name);
  sqlite3_stmt* st = Prepare(
      "INSERT INTO catalog(name, upper_name, dictionary, index_count) VALUES(?1, ?2, ?3, ?4)");
  sqlite3_bind_blob(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(st, 2, upper.data(), static_cast<int>(upper.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(st, 3, dictionary.data(), static_cast<int>(dictionary.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 4, static_cast<int>(unique_indexes.size()));
  StepStmt(st, true);
  int64_t id = sqlite3_last_insert_rowid(db_);
  std::string rows = RowsTable(id);
  std::string sql = "CREATE TABLE " + rows + "(row INTEGER PRIMARY KEY, image BLOB NOT NULL";
  for (size_t i = 0; i < unique_indexes.size(); ++i)
    sql += ", k" + std::to_string(i) + " BLOB NOT NULL";
  sql += ")";
  Exec(sql, true);
  for (size_t i = 0; i < unique_indexes.size(); ++i) {
    std::string k = "k" + std::to_string(i);
    Exec(std::string("CREATE ") + (unique_indexes[i] ? "UNIQUE " : "") + "INDEX " + rows + "_" + k +
             " ON " + rows + "(" + k + ")",
         true);
  }
}

int64_t SqliteStore::AllocateRow(int64_t table) {
  sqlite3_stmt* st =
      Prepare("UPDATE catalog SET next_row = next_row + 1 WHERE id = ?1 RETURNING next_row - 1");
  sqlite3_bind_int64(st, 1, table);
  if (!StepStmt(st, true))
    Throw(10024);  // Table does not exist.
  int64_t row = sqlite3_column_int64(st, 0);
  while (StepStmt(st, true)) {
  }
  return row;
}

int64_t SqliteStore::AllocateAutoInc(int64_t table) {
  sqlite3_stmt* st = Prepare(
      "UPDATE catalog SET next_autoinc = next_autoinc + 1 WHERE id = ?1 "
      "RETURNING next_autoinc - 1");
  sqlite3_bind_int64(st, 1, table);
  if (!StepStmt(st, true))
    Throw(10024);
  int64_t v = sqlite3_column_int64(st, 0);
  while (StepStmt(st, true)) {
  }
  return v;
}

// ---- Records ----

namespace {
void BindBytes(sqlite3_stmt* st, int i, std::string_view b) {
  // A zero-length blob must still be a blob, not NULL.
  static const char kEmpty = 0;
  sqlite3_bind_blob(st, i, b.empty() ? &kEmpty : b.data(), static_cast<int>(b.size()),
                    SQLITE_TRANSIENT);
}
Bytes ColumnBytes(sqlite3_stmt* st, int i) {
  auto p = static_cast<const char*>(sqlite3_column_blob(st, i));
  return p ? Bytes(p, static_cast<size_t>(sqlite3_column_bytes(st, i))) : Bytes();
}
}  // namespace

std::optional<Bytes> SqliteStore::ReadRow(int64_t table, int64_t row) {
  sqlite3_stmt* st = Prepare("SELECT image FROM " + RowsTable(table) + " WHERE row = ?1");
  sqlite3_bind_int64(st, 1, row);
  if (!StepStmt(st, false))
    return std::nullopt;
  Bytes image = ColumnBytes(st, 0);
  sqlite3_reset(st);
  return image;
}

std::optional<Bytes> SqliteStore::RowKey(int64_t table, int index, int64_t row) {
  sqlite3_stmt* st =
      Prepare("SELECT k" + std::to_string(index) + " FROM " + RowsTable(table) + " WHERE row = ?1");
  sqlite3_bind_int64(st, 1, row);
  if (!StepStmt(st, false))
    return std::nullopt;
  Bytes key = ColumnBytes(st, 0);
  sqlite3_reset(st);
  return key;
}

std::optional<FoundRecord> SqliteStore::Step(int64_t table, int index, const KeyBound& lower,
                                             const KeyBound& upper, const IndexPlace* from,
                                             bool forward, bool with_image) {
  std::string k = "k" + std::to_string(index);
  std::string sql =
      "SELECT row, " + k + (with_image ? ", image" : "") + " FROM " + RowsTable(table) + " WHERE 1";
  if (lower.present)
    sql += " AND " + k + " >= ?1";
  if (upper.present)
    sql += " AND " + k + " < ?2";
  if (from)
    sql += " AND (" + k + ", row) " + (forward ? ">" : "<") + " (?3, ?4)";
  sql += " ORDER BY " + k + (forward ? ", row" : " DESC, row DESC") + " LIMIT 1";
  sqlite3_stmt* st = Prepare(sql);
  if (lower.present)
    BindBytes(st, 1, lower.key);
  if (upper.present)
    BindBytes(st, 2, upper.key);
  if (from) {
    BindBytes(st, 3, from->key);
    sqlite3_bind_int64(st, 4, from->row);
  }
  if (!StepStmt(st, false))
    return std::nullopt;
  FoundRecord f;
  f.row = sqlite3_column_int64(st, 0);
  f.key = ColumnBytes(st, 1);
  if (with_image)
    f.image = ColumnBytes(st, 2);
  sqlite3_reset(st);
  return f;
}

int64_t SqliteStore::Count(int64_t table, int index, const KeyBound& lower, const KeyBound& upper) {
  std::string k = "k" + std::to_string(index);
  std::string sql = "SELECT count(*) FROM " + RowsTable(table) + " WHERE 1";
  if (lower.present)
    sql += " AND " + k + " >= ?1";
  if (upper.present)
    sql += " AND " + k + " < ?2";
  sqlite3_stmt* st = Prepare(sql);
  if (lower.present)
    BindBytes(st, 1, lower.key);
  if (upper.present)
    BindBytes(st, 2, upper.key);
  StepStmt(st, false);
  int64_t n = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return n;
}

void SqliteStore::InsertRow(int64_t table, int64_t row, const Bytes& image,
                            const std::vector<Bytes>& keys) {
  std::string sql = "INSERT INTO " + RowsTable(table) + "(row, image";
  std::string values = ") VALUES(?1, ?2";
  for (size_t i = 0; i < keys.size(); ++i) {
    sql += ", k" + std::to_string(i);
    values += ", ?" + std::to_string(i + 3);
  }
  sqlite3_stmt* st = Prepare(sql + values + ")");
  sqlite3_bind_int64(st, 1, row);
  BindBytes(st, 2, image);
  for (size_t i = 0; i < keys.size(); ++i)
    BindBytes(st, static_cast<int>(i + 3), keys[i]);
  StepStmt(st, true);
}

void SqliteStore::UpdateRow(int64_t table, int64_t row, const Bytes& image,
                            const std::vector<Bytes>& keys) {
  std::string sql = "UPDATE " + RowsTable(table) + " SET image = ?2";
  for (size_t i = 0; i < keys.size(); ++i)
    sql += ", k" + std::to_string(i) + " = ?" + std::to_string(i + 3);
  sqlite3_stmt* st = Prepare(sql + " WHERE row = ?1");
  sqlite3_bind_int64(st, 1, row);
  BindBytes(st, 2, image);
  for (size_t i = 0; i < keys.size(); ++i)
    BindBytes(st, static_cast<int>(i + 3), keys[i]);
  StepStmt(st, true);
}

void SqliteStore::DeleteRow(int64_t table, int64_t row) {
  sqlite3_stmt* st = Prepare("DELETE FROM " + RowsTable(table) + " WHERE row = ?1");
  sqlite3_bind_int64(st, 1, row);
  StepStmt(st, true);
}

void SqliteStore::DeleteAllRows(int64_t table) {
  Exec("DELETE FROM " + RowsTable(table), true);
  sqlite3_stmt* st = Prepare("DELETE FROM blobs WHERE table_id = ?1");
  sqlite3_bind_int64(st, 1, table);
  StepStmt(st, true);
}

// ---- Blobs ----

int64_t SqliteStore::CreateBlob(int64_t table) {
  sqlite3_stmt* st = Prepare("INSERT INTO blobs(table_id, data) VALUES(?1, x'')");
  sqlite3_bind_int64(st, 1, table);
  StepStmt(st, true);
  return sqlite3_last_insert_rowid(db_);
}

std::optional<int64_t> SqliteStore::BlobLength(int64_t table, int64_t blob) {
  sqlite3_stmt* st = Prepare("SELECT length(data) FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  if (!StepStmt(st, false))
    return std::nullopt;
  int64_t n = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return n;
}

Bytes SqliteStore::ReadBlob(int64_t table, int64_t blob, int64_t offset, int64_t length) {
  sqlite3_stmt* st =
      Prepare("SELECT substr(data, ?3, ?4) FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  sqlite3_bind_int64(st, 3, offset + 1);
  sqlite3_bind_int64(st, 4, length);
  if (!StepStmt(st, false))
    return Bytes();
  Bytes b = ColumnBytes(st, 0);
  sqlite3_reset(st);
  return b;
}

void SqliteStore::WriteBlob(int64_t table, int64_t blob, int64_t offset, std::string_view data) {
  sqlite3_stmt* st = Prepare("SELECT data FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  if (!StepStmt(st, false))
    Throw(9990);
  Bytes content = ColumnBytes(st, 0);
  sqlite3_reset(st);
  auto off = static_cast<size_t>(offset);
  if (off > content.size())
    Throw(9998);  // Invalid offset into the BLOB.
  if (off + data.size() > content.size())
    content.resize(off + data.size());
  content.replace(off, data.size(), data);
  sqlite3_stmt* up = Prepare("UPDATE blobs SET data = ?2 WHERE id = ?1");
  sqlite3_bind_int64(up, 1, blob);
  BindBytes(up, 2, content);
  StepStmt(up, true);
}

void SqliteStore::TruncateBlob(int64_t table, int64_t blob, int64_t length) {
  sqlite3_stmt* st = Prepare(
      "UPDATE blobs SET data = substr(data, 1, ?3) WHERE id = ?1 AND table_id = ?2 "
      "AND length(data) >= ?3");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  sqlite3_bind_int64(st, 3, length);
  StepStmt(st, true);
  if (sqlite3_changes(db_) != 1)
    Throw(9998);
}

std::optional<int64_t> SqliteStore::BlobOwner(int64_t table, int64_t blob) {
  sqlite3_stmt* st = Prepare("SELECT owner_row FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  if (!StepStmt(st, false))
    return std::nullopt;
  int64_t owner = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return owner;
}

void SqliteStore::SetBlobOwner(int64_t table, int64_t blob, int64_t row) {
  sqlite3_stmt* st = Prepare("UPDATE blobs SET owner_row = ?3 WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  sqlite3_bind_int64(st, 3, row);
  StepStmt(st, true);
}

void SqliteStore::DeleteBlobsOfRow(int64_t table, int64_t row, const std::vector<int64_t>& keep) {
  std::vector<int64_t> owned;
  sqlite3_stmt* st = Prepare("SELECT id FROM blobs WHERE table_id = ?1 AND owner_row = ?2");
  sqlite3_bind_int64(st, 1, table);
  sqlite3_bind_int64(st, 2, row);
  while (StepStmt(st, false))
    owned.push_back(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  for (int64_t id : owned)
    if (std::find(keep.begin(), keep.end(), id) == keep.end())
      DeleteBlob(table, id);
}

void SqliteStore::DeleteBlob(int64_t table, int64_t blob) {
  sqlite3_stmt* st = Prepare("DELETE FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  StepStmt(st, true);
}

int64_t SqliteStore::DeleteOrphanBlobs() {
  Write w(*this);
  Exec("DELETE FROM blobs WHERE owner_row = 0", true);
  int64_t n = sqlite3_changes(db_);
  w.Commit();
  return n;
}

}  // namespace vantera
