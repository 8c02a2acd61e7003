#include "server/engine/sqlite_store.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <random>
#include <set>

#include "core/win1252.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

constexpr size_t kStatementCacheLimit = 256;

[[noreturn]] void Throw(uint32_t code) {
  throw EnxBaseException(code);
}

// The stores of this process that are open, by serial: a blob whose creator is among them
// may still be posted and is never swept.
std::mutex& LiveMutex() {
  static std::mutex mu;
  return mu;
}
std::set<int64_t>& LiveStores() {
  static std::set<int64_t> live;
  return live;
}
// Serials start at a random base, so that blobs left by an earlier run of a server that
// happens to get the same process id (a container's first process) never look like ours.
int64_t SerialBase() {
  std::random_device rd;
  uint64_t r = (static_cast<uint64_t>(rd()) << 32) ^ rd();
  return static_cast<int64_t>(r >> 2) + 1;
}
std::atomic<int64_t> next_serial{SerialBase()};

bool CreatorAlive(int64_t pid, int64_t serial) {
  if (pid <= 0)
    return false;
  if (pid == ::getpid()) {
    std::lock_guard lock(LiveMutex());
    return LiveStores().count(serial) > 0;
  }
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

off_t FileSize(const std::string& path, bool* exists) {
  struct stat st {};
  *exists = ::stat(path.c_str(), &st) == 0;
  return *exists ? st.st_size : 0;
}

constexpr int kLayoutChunked = 1;

}  // namespace

uint32_t StoreErrorCode(int sqlite_code, bool is_write) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return 10249;  // Lock time out.
    case SQLITE_CONSTRAINT:
      return 9729;  // Key violation.
    case SQLITE_FULL:
      return 9218;  // Write failure. (the disk or the database's size limit is full)
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

SqliteStore::SqliteStore(const std::string& folder, bool read_only, StoreFaults* faults,
                         bool durable)
    : folder_(folder), read_only_(read_only), faults_(faults) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    Throw(10018);  // The alias references a directory that does not exist.
  // Only a missing file is a new database: an empty one is a damaged database (a copy cut
  // short, a full disk at its creation), and taking it as new would hide every record.
  const std::string file = FileName(folder);
  bool existed = false;
  bool wal_exists = false;
  off_t size = FileSize(file, &existed);
  if (existed && size == 0 && FileSize(file + "-wal", &wal_exists) == 0)
    throw EnxBaseException("The database file " + file +
                               " is empty (0 bytes): not a database. A new database is made "
                               "only where the file is missing.",
                           8962);  // Corrupt file - other than header.
  int flags = SQLITE_OPEN_NOMUTEX |
              (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
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
      Exec(durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", true);
      Exec(
          "CREATE TABLE IF NOT EXISTS catalog(id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
          "upper_name BLOB NOT NULL UNIQUE, dictionary BLOB NOT NULL, index_count INTEGER "
          "NOT NULL, next_row INTEGER NOT NULL DEFAULT 1, next_autoinc INTEGER NOT NULL "
          "DEFAULT 1)",
          true);
      Exec(
          "CREATE TABLE IF NOT EXISTS blobs(id INTEGER PRIMARY KEY AUTOINCREMENT, table_id "
          "INTEGER NOT NULL, owner_row INTEGER NOT NULL DEFAULT 0, data BLOB NOT NULL, "
          "created INTEGER, creator_pid INTEGER, creator_store INTEGER)",
          true);
      Exec("CREATE INDEX IF NOT EXISTS blobs_owner ON blobs(table_id, owner_row)", true);
    }
    sqlite3_stmt* v = Prepare("PRAGMA user_version");
    int layout = StepStmt(v, false) ? sqlite3_column_int(v, 0) : 0;
    sqlite3_reset(v);
    if (layout < kLayoutChunked && !read_only)
      UpgradeLayout();
    else
      chunked_ = layout >= kLayoutChunked;
  } catch (...) {
    CloseConnection();
    // A file this constructor made and could not fill is not left behind as an empty one.
    bool now_exists = false;
    if (!existed && FileSize(file, &now_exists) == 0 && now_exists) {
      ::unlink(file.c_str());
      ::unlink((file + "-wal").c_str());
      ::unlink((file + "-shm").c_str());
    }
    throw;
  }
  serial_ = next_serial++;
  std::lock_guard lock(LiveMutex());
  LiveStores().insert(serial_);
}

// Layout 0 to 1: the creator columns, the chunk table and the bytes of every blob moved
// into chunks, in one transaction.
void SqliteStore::UpgradeLayout() {
  Exec("BEGIN IMMEDIATE", true);
  try {
    std::set<std::string> columns;
    sqlite3_stmt* info = Prepare("PRAGMA table_info(blobs)");
    while (StepStmt(info, false)) {
      auto p = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
      columns.insert(p ? p : "");
    }
    for (const char* c : {"created", "creator_pid", "creator_store"})
      if (!columns.count(c))
        Exec(std::string("ALTER TABLE blobs ADD COLUMN ") + c + " INTEGER", true);
    Exec(
        "CREATE TABLE IF NOT EXISTS blob_chunks(blob INTEGER NOT NULL, n INTEGER NOT NULL, "
        "data BLOB NOT NULL, PRIMARY KEY(blob, n))",
        true);
    Exec(
        "CREATE TRIGGER IF NOT EXISTS blobs_chunks_go AFTER DELETE ON blobs BEGIN "
        "DELETE FROM blob_chunks WHERE blob = old.id; END",
        true);
    Exec("CREATE INDEX IF NOT EXISTS blobs_free ON blobs(owner_row, created)", true);
    std::vector<int64_t> filled;
    sqlite3_stmt* st = Prepare("SELECT id FROM blobs WHERE length(data) > 0");
    while (StepStmt(st, false))
      filled.push_back(sqlite3_column_int64(st, 0));
    sqlite3_reset(st);
    chunked_ = true;
    for (int64_t id : filled) {
      sqlite3_stmt* get = Prepare("SELECT data FROM blobs WHERE id = ?1");
      sqlite3_bind_int64(get, 1, id);
      StepStmt(get, false);
      auto p = static_cast<const char*>(sqlite3_column_blob(get, 0));
      std::string content(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(get, 0)));
      sqlite3_reset(get);
      for (size_t off = 0, n = 0; off < content.size(); off += kBlobChunk, ++n) {
        sqlite3_stmt* put = Prepare("INSERT INTO blob_chunks(blob, n, data) VALUES(?1, ?2, ?3)");
        sqlite3_bind_int64(put, 1, id);
        sqlite3_bind_int64(put, 2, static_cast<int64_t>(n));
        std::string_view piece = std::string_view(content).substr(off, kBlobChunk);
        sqlite3_bind_blob(put, 3, piece.data(), static_cast<int>(piece.size()), SQLITE_TRANSIENT);
        StepStmt(put, true);
      }
      sqlite3_stmt* clear = Prepare("UPDATE blobs SET data = x'' WHERE id = ?1");
      sqlite3_bind_int64(clear, 1, id);
      StepStmt(clear, true);
    }
    Exec("PRAGMA user_version = " + std::to_string(kLayoutChunked), true);
    Exec("COMMIT", true);
  } catch (...) {
    chunked_ = false;
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void SqliteStore::CloseConnection() {
  for (auto& [sql, st] : cache_)
    sqlite3_finalize(st);
  cache_.clear();
  if (db_ && !sqlite3_get_autocommit(db_))
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
  db_ = nullptr;
}

SqliteStore::~SqliteStore() {
  CloseConnection();
  std::lock_guard lock(LiveMutex());
  LiveStores().erase(serial_);
}

void SqliteStore::SetOrphanSweep(int64_t grace_seconds, int64_t interval_seconds) {
  orphan_grace_s_ = std::max<int64_t>(0, grace_seconds);
  sweep_interval_s_ = std::max<int64_t>(0, interval_seconds);
  next_sweep_ = 0;
}

void SqliteStore::SetBusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(db_, std::clamp(milliseconds, 0, 60000));
}

[[noreturn]] void SqliteStore::Fail(int rc, bool is_write, bool injected) {
  // Some failures end the whole transaction inside SQLite; keep the nesting in step.
  if (level_ > 0 && sqlite3_get_autocommit(db_))
    level_ = 0;
  // A full disk can meet any statement (a read that grows the shared-memory index, the
  // write-ahead log of a commit) and is reported by SQLite as SQLITE_FULL or as an I/O
  // error of errno ENOSPC: it is a write failure either way.
  bool disk_full = (rc & 0xFF) == SQLITE_FULL || (!injected && (rc & 0xFF) == SQLITE_IOERR &&
                                                  sqlite3_system_errno(db_) == ENOSPC);
  if (!disk_full)
    Throw(StoreErrorCode(rc, is_write));
  if (!disk_full_reported_) {
    disk_full_reported_ = true;
    ReportStoreFailure(
        "disk full: data folder " + folder_ + ": " +
        (injected ? std::string(sqlite3_errstr(rc)) : std::string(sqlite3_errmsg(db_))) +
        "; changes fail with 9218 until space is freed");
  }
  Throw(9218);  // Write failure.
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
      Fail(injected, true, true);
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

void SqliteStore::BeginWrite() {
  Exec("BEGIN IMMEDIATE", true);
  try {
    SweepIfDue();
  } catch (...) {
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void SqliteStore::TransactionStart() {
  EnsureWritable();
  if (level_ == 0)
    BeginWrite();
  else
    Exec("SAVEPOINT tx" + std::to_string(level_), true);
  ++level_;
}

void SqliteStore::TransactionCommit() {
  if (level_ == 0)
    Throw(10257);  // No user transaction is currently in progress.
  if (level_ == 1) {
    Exec("COMMIT", true);
    disk_full_reported_ = false;
  } else {
    Exec("RELEASE tx" + std::to_string(level_ - 1), true);
  }
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

void SqliteStore::BeginChange() {
  EnsureWritable();
  if (level_ == 0)
    BeginWrite();
  else
    Exec("SAVEPOINT w", true);
}

void SqliteStore::CommitChange() {
  if (level_ == 0) {
    Exec("COMMIT", true);
    disk_full_reported_ = false;
  } else {
    Exec("RELEASE w", true);
  }
}

void SqliteStore::UndoChange() noexcept {
  // Failures here cannot be reported and leave SQLite's own rollback in charge.
  if (level_ == 0) {
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  } else if (!sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK TO w; RELEASE w", nullptr, nullptr, nullptr);
  } else {
    level_ = 0;  // SQLite ended the client's transaction itself
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
  // From a place, first the records with the same key beyond its row (an index range on
  // the key's rows), then those beyond its key: each is a seek in the index, where one
  // query with a row-value comparison would scan from the range's start.
  std::string k = "k" + std::to_string(index);
  std::string columns =
      "SELECT row, " + k + (with_image ? ", image" : "") + " FROM " + RowsTable(table) + " WHERE ";
  auto run = [&](sqlite3_stmt* st) -> std::optional<FoundRecord> {
    if (!StepStmt(st, false))
      return std::nullopt;
    FoundRecord f;
    f.row = sqlite3_column_int64(st, 0);
    f.key = ColumnBytes(st, 1);
    if (with_image)
      f.image = ColumnBytes(st, 2);
    sqlite3_reset(st);
    return f;
  };
  bool same_key_in_range = from && (!lower.present || from->key >= lower.key) &&
                           (!upper.present || from->key < upper.key);
  if (same_key_in_range) {
    sqlite3_stmt* st = Prepare(columns + k + " = ?1 AND row " + (forward ? ">" : "<") +
                               " ?2 ORDER BY row" + (forward ? "" : " DESC") + " LIMIT 1");
    BindBytes(st, 1, from->key);
    sqlite3_bind_int64(st, 2, from->row);
    if (auto found = run(st))
      return found;
  }
  std::string sql = columns + "1";
  if (lower.present)
    sql += " AND " + k + " >= ?1";
  if (upper.present)
    sql += " AND " + k + " < ?2";
  if (from)
    sql += " AND " + k + (forward ? " > ?3" : " < ?3");
  sql += " ORDER BY " + k + (forward ? ", row" : " DESC, row DESC") + " LIMIT 1";
  sqlite3_stmt* st = Prepare(sql);
  if (lower.present)
    BindBytes(st, 1, lower.key);
  if (upper.present)
    BindBytes(st, 2, upper.key);
  if (from)
    BindBytes(st, 3, from->key);
  return run(st);
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
  sqlite3_stmt* st = Prepare(
      "INSERT INTO blobs(table_id, data, created, creator_pid, creator_store) "
      "VALUES(?1, x'', ?2, ?3, ?4)");
  sqlite3_bind_int64(st, 1, table);
  sqlite3_bind_int64(st, 2, static_cast<int64_t>(std::time(nullptr)));
  sqlite3_bind_int64(st, 3, static_cast<int64_t>(::getpid()));
  sqlite3_bind_int64(st, 4, serial_);
  StepStmt(st, true);
  return sqlite3_last_insert_rowid(db_);
}

std::optional<int64_t> SqliteStore::ChunkedLength(int64_t table, int64_t blob) {
  // One seek in each table: the blob's row, and its last chunk.
  sqlite3_stmt* st = Prepare(
      "SELECT (SELECT n * " + std::to_string(kBlobChunk) +
      " + length(data) FROM blob_chunks WHERE blob = ?1 ORDER BY n DESC LIMIT 1) FROM blobs "
      "WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  if (!StepStmt(st, false))
    return std::nullopt;
  int64_t n = sqlite3_column_int64(st, 0);  // NULL (no chunks) reads as 0
  sqlite3_reset(st);
  return n;
}

std::optional<int64_t> SqliteStore::BlobLength(int64_t table, int64_t blob) {
  if (chunked_)
    return ChunkedLength(table, blob);
  sqlite3_stmt* st = Prepare("SELECT length(data) FROM blobs WHERE id = ?1 AND table_id = ?2");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, table);
  if (!StepStmt(st, false))
    return std::nullopt;
  int64_t n = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return n;
}

std::optional<Bytes> SqliteStore::ReadBlob(int64_t table, int64_t blob, int64_t offset,
                                           int64_t length, int64_t* total) {
  if (!chunked_) {
    sqlite3_stmt* st = Prepare(
        "SELECT length(data), substr(data, ?3, ?4) FROM blobs WHERE id = ?1 AND table_id = ?2");
    sqlite3_bind_int64(st, 1, blob);
    sqlite3_bind_int64(st, 2, table);
    sqlite3_bind_int64(st, 3, offset + 1);
    sqlite3_bind_int64(st, 4, length);
    if (!StepStmt(st, false))
      return std::nullopt;
    *total = sqlite3_column_int64(st, 0);
    Bytes b = ColumnBytes(st, 1);
    sqlite3_reset(st);
    return b;
  }
  auto length_now = ChunkedLength(table, blob);
  if (!length_now)
    return std::nullopt;
  *total = *length_now;
  Bytes out;
  if (offset < 0 || length <= 0 || offset >= *total)
    return out;
  int64_t end = std::min(*total, offset + length);
  out.reserve(static_cast<size_t>(end - offset));
  sqlite3_stmt* st =
      Prepare("SELECT n, data FROM blob_chunks WHERE blob = ?1 AND n BETWEEN ?2 AND ?3 ORDER BY n");
  sqlite3_bind_int64(st, 1, blob);
  sqlite3_bind_int64(st, 2, offset / kBlobChunk);
  sqlite3_bind_int64(st, 3, (end - 1) / kBlobChunk);
  while (StepStmt(st, false)) {
    int64_t start = sqlite3_column_int64(st, 0) * kBlobChunk;
    auto p = static_cast<const char*>(sqlite3_column_blob(st, 1));
    int64_t size = sqlite3_column_bytes(st, 1);
    int64_t from = std::max(offset, start) - start;
    int64_t to = std::min(end, start + size) - start;
    if (p && to > from)
      out.append(p + from, static_cast<size_t>(to - from));
  }
  sqlite3_reset(st);
  return out;
}

void SqliteStore::WriteBlob(int64_t table, int64_t blob, int64_t offset, std::string_view data) {
  EnsureWritable();
  auto length_now = ChunkedLength(table, blob);
  if (!length_now)
    Throw(9990);
  int64_t total = *length_now;
  if (offset < 0 || offset > total)
    Throw(9998);  // Invalid offset into the BLOB.
  // Only the chunks that [offset, offset + size) covers are read and written again.
  WriteChunks(
      offset, data, total, kBlobChunk,
      [&](int64_t n) {
        sqlite3_stmt* get = Prepare("SELECT data FROM blob_chunks WHERE blob = ?1 AND n = ?2");
        sqlite3_bind_int64(get, 1, blob);
        sqlite3_bind_int64(get, 2, n);
        if (!StepStmt(get, false))
          Throw(8962);  // a chunk before the blob's end is missing
        Bytes chunk = ColumnBytes(get, 0);
        sqlite3_reset(get);
        return chunk;
      },
      [&](int64_t n, const Bytes& chunk) {
        sqlite3_stmt* put =
            Prepare("INSERT OR REPLACE INTO blob_chunks(blob, n, data) VALUES(?1, ?2, ?3)");
        sqlite3_bind_int64(put, 1, blob);
        sqlite3_bind_int64(put, 2, n);
        BindBytes(put, 3, chunk);
        StepStmt(put, true);
      });
}

void SqliteStore::TruncateBlob(int64_t table, int64_t blob, int64_t length) {
  EnsureWritable();
  auto length_now = ChunkedLength(table, blob);
  if (!length_now || length < 0 || length > *length_now)
    Throw(9998);
  int64_t kept = length / kBlobChunk;  // chunks [0, kept) stay whole
  sqlite3_stmt* del = Prepare("DELETE FROM blob_chunks WHERE blob = ?1 AND n > ?2");
  sqlite3_bind_int64(del, 1, blob);
  sqlite3_bind_int64(del, 2, kept);
  StepStmt(del, true);
  if (length % kBlobChunk == 0) {
    sqlite3_stmt* last = Prepare("DELETE FROM blob_chunks WHERE blob = ?1 AND n = ?2");
    sqlite3_bind_int64(last, 1, blob);
    sqlite3_bind_int64(last, 2, kept);
    StepStmt(last, true);
  } else {
    sqlite3_stmt* cut =
        Prepare("UPDATE blob_chunks SET data = substr(data, 1, ?3) WHERE blob = ?1 AND n = ?2");
    sqlite3_bind_int64(cut, 1, blob);
    sqlite3_bind_int64(cut, 2, kept);
    sqlite3_bind_int64(cut, 3, length % kBlobChunk);
    StepStmt(cut, true);
  }
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

// ---- Orphan blobs ----

int64_t SqliteStore::SweepOrphans(int64_t grace_seconds) {
  struct Candidate {
    int64_t id, pid, store;
  };
  std::vector<Candidate> found;
  sqlite3_stmt* st = Prepare(
      "SELECT id, creator_pid, creator_store FROM blobs WHERE owner_row = 0 AND "
      "(created IS NULL OR created <= ?1)");
  sqlite3_bind_int64(st, 1, static_cast<int64_t>(std::time(nullptr)) - grace_seconds);
  while (StepStmt(st, false))
    found.push_back(
        {sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1), sqlite3_column_int64(st, 2)});
  sqlite3_reset(st);
  int64_t removed = 0;
  for (const Candidate& c : found) {
    if (CreatorAlive(c.pid, c.store))
      continue;  // its cursor may still post it
    sqlite3_stmt* del = Prepare("DELETE FROM blobs WHERE id = ?1 AND owner_row = 0");
    sqlite3_bind_int64(del, 1, c.id);
    StepStmt(del, true);
    removed += sqlite3_changes(db_);
  }
  return removed;
}

void SqliteStore::SweepIfDue() {
  if (!chunked_)
    return;
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (now < next_sweep_)
    return;
  next_sweep_ = now + sweep_interval_s_;
  SweepOrphans(orphan_grace_s_);
}

int64_t SqliteStore::DeleteOrphanBlobs(int64_t grace_seconds) {
  next_sweep_ = static_cast<int64_t>(std::time(nullptr)) + sweep_interval_s_;
  Write w(*this);
  int64_t n = SweepOrphans(grace_seconds);
  w.Commit();
  return n;
}

// ---- Copying ----

TableCounters SqliteStore::Counters(int64_t table) {
  sqlite3_stmt* st = Prepare("SELECT next_row, next_autoinc FROM catalog WHERE id = ?1");
  sqlite3_bind_int64(st, 1, table);
  if (!StepStmt(st, false))
    Throw(10024);
  TableCounters c{sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)};
  sqlite3_reset(st);
  return c;
}

void SqliteStore::SetCounters(int64_t table, const TableCounters& counters) {
  sqlite3_stmt* st = Prepare("UPDATE catalog SET next_row = ?2, next_autoinc = ?3 WHERE id = ?1");
  sqlite3_bind_int64(st, 1, table);
  sqlite3_bind_int64(st, 2, counters.next_row);
  sqlite3_bind_int64(st, 3, counters.next_autoinc);
  StepStmt(st, true);
}

std::vector<StoredBlob> SqliteStore::BlobsOf(int64_t table) {
  std::vector<StoredBlob> blobs;
  sqlite3_stmt* st = Prepare("SELECT id, owner_row FROM blobs WHERE table_id = ?1 ORDER BY id");
  sqlite3_bind_int64(st, 1, table);
  while (StepStmt(st, false))
    blobs.push_back({sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)});
  sqlite3_reset(st);
  return blobs;
}

void SqliteStore::PutBlob(int64_t table, const StoredBlob& blob) {
  EnsureWritable();
  sqlite3_stmt* st = Prepare(
      "INSERT INTO blobs(id, table_id, owner_row, data, created, creator_pid, creator_store) "
      "VALUES(?1, ?2, ?3, x'', ?4, 0, 0)");
  sqlite3_bind_int64(st, 1, blob.id);
  sqlite3_bind_int64(st, 2, table);
  sqlite3_bind_int64(st, 3, blob.owner_row);
  sqlite3_bind_int64(st, 4, static_cast<int64_t>(std::time(nullptr)));
  StepStmt(st, true);
}

// The blobs table counts with AUTOINCREMENT: sqlite_sequence keeps the highest number ever
// handed out (no row there before the first blob).
int64_t SqliteStore::NextBlob() {
  sqlite3_stmt* st = Prepare(
      "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'blobs'), 0), "
      "coalesce((SELECT max(id) FROM blobs), 0)) + 1");
  StepStmt(st, false);
  int64_t next = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return next;
}

void SqliteStore::SetNextBlob(int64_t next) {
  EnsureWritable();
  int64_t last = std::max(NextBlob(), next) - 1;
  sqlite3_stmt* st = Prepare("UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'blobs'");
  sqlite3_bind_int64(st, 1, last);
  StepStmt(st, true);
  if (sqlite3_changes(db_) == 0) {
    st = Prepare("INSERT INTO sqlite_sequence(name, seq) VALUES('blobs', ?1)");
    sqlite3_bind_int64(st, 1, last);
    StepStmt(st, true);
  }
}

}  // namespace vantera
