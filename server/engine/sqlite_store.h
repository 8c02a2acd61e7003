// The server's storage: one SQLite database (WAL) per data folder.
//
// What is stored (file "kantadb.sqlite" in the folder):
//   catalog(id, name, upper_name, dictionary, index_count, next_row, next_autoinc)
//       one row per table; upper_name is the Windows-1252 upper case of the name, so table
//       names are unique without regard to case; the dictionary stream is kept as sent.
//   r<id>(row INTEGER PRIMARY KEY, image BLOB, k0 BLOB, k1 BLOB, ...)
//       the table's records as record images; k<i> is the sort key of index i, made so
//       that SQLite's byte order on it is the index's order (sort_key.h). Row numbers are
//       handed out from catalog.next_row and never reused, so a stale bookmark never
//       finds another record.
//   blobs(id INTEGER PRIMARY KEY AUTOINCREMENT, table_id, owner_row, data BLOB, created,
//         creator_pid, creator_store)
//       blob numbers are never reused either; owner_row is the record that refers to the
//       blob (0 while only the cursor that created it knows it); created is the creation
//       time (seconds since 1970), creator_pid and creator_store name the process and the
//       store object that made it, so that a blob still in flight is never swept.
//   blob_chunks(blob, n, data)
//       the bytes of a blob in chunks of kBlobChunk bytes: chunk n holds [n * kBlobChunk,
//       (n + 1) * kBlobChunk); every chunk but the last is full and an empty blob has none.
//       A write touches only the chunks it covers, so a blob written in pieces costs time
//       in proportion to its size.
//   user_version 1 marks the chunked layout. A folder of layout 0 keeps a blob's bytes in
//       blobs.data; its first writable open moves them into chunks (one transaction), and a
//       read-only store reads them where they are.
//
// Invariants:
//   1. Every change goes through Write(): outside a transaction of the caller each change
//      is a transaction of its own (BEGIN IMMEDIATE .. COMMIT), inside one a savepoint,
//      so a failed request leaves nothing behind.
//   2. Every SQLite failure becomes EnxBaseException with a code of the error table.
//   3. Before each writing statement the fault hook (if any) may make it fail: tests use
//      it to simulate SQLITE_BUSY and failing disks.
//   4. A full disk is a write failure (9218) whichever statement meets it; the first one a
//      store meets is reported to the failure log with the folder, until a write succeeds.
//   5. The first change of a write transaction sweeps, at most once per sweep interval,
//      the blobs that no record refers to, that are older than the grace period and whose
//      creator (a store of this process, or another process) is gone.
//
// A store is one connection; it is used by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"
#include "server/engine/storage.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vantera {

class SqliteStore final : public Storage {
 public:
  // Opens (creating when missing and not read-only) the database of `folder`.
  // Throws EnxBaseException 10018 when the folder does not exist, 9992 when the file
  // cannot be opened, 8962 when it exists but is empty (0 bytes, no write-ahead log):
  // only a missing file is a new database.
  SqliteStore(const std::string& folder, bool read_only, StoreFaults* faults = nullptr,
              bool durable = true);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  static std::string FileName(const std::string& folder);

  void SetBusyTimeout(int milliseconds) override;
  void SetOrphanSweep(int64_t grace_seconds, int64_t interval_seconds) override;
  bool read_only() const override { return read_only_; }

  int TransactionLevel() const override { return level_; }
  void TransactionStart() override;
  void TransactionCommit() override;
  void TransactionRollback() override;

  std::vector<std::string> TableNames() override;
  std::optional<StoredTable> FindTable(std::string_view name) override;
  void CreateTable(std::string_view name, const Bytes& dictionary,
                   const std::vector<bool>& unique_indexes) override;
  int64_t AllocateRow(int64_t table) override;
  int64_t AllocateAutoInc(int64_t table) override;

  std::optional<Bytes> ReadRow(int64_t table, int64_t row) override;
  std::optional<Bytes> RowKey(int64_t table, int index, int64_t row) override;
  std::optional<FoundRecord> Step(int64_t table, int index, const KeyBound& lower,
                                  const KeyBound& upper, const IndexPlace* from, bool forward,
                                  bool with_image = true) override;
  int64_t Count(int64_t table, int index, const KeyBound& lower, const KeyBound& upper) override;
  void InsertRow(int64_t table, int64_t row, const Bytes& image,
                 const std::vector<Bytes>& keys) override;
  void UpdateRow(int64_t table, int64_t row, const Bytes& image,
                 const std::vector<Bytes>& keys) override;
  void DeleteRow(int64_t table, int64_t row) override;
  void DeleteAllRows(int64_t table) override;

  int64_t CreateBlob(int64_t table) override;
  std::optional<int64_t> BlobLength(int64_t table, int64_t blob) override;
  std::optional<Bytes> ReadBlob(int64_t table, int64_t blob, int64_t offset, int64_t length,
                                int64_t* total) override;
  void WriteBlob(int64_t table, int64_t blob, int64_t offset, std::string_view data) override;
  void TruncateBlob(int64_t table, int64_t blob, int64_t length) override;
  std::optional<int64_t> BlobOwner(int64_t table, int64_t blob) override;
  void SetBlobOwner(int64_t table, int64_t blob, int64_t row) override;
  void DeleteBlobsOfRow(int64_t table, int64_t row, const std::vector<int64_t>& keep) override;
  void DeleteBlob(int64_t table, int64_t blob) override;
  int64_t DeleteOrphanBlobs(int64_t grace_seconds = 0) override;

  TableCounters Counters(int64_t table) override;
  void SetCounters(int64_t table, const TableCounters& counters) override;
  std::vector<StoredBlob> BlobsOf(int64_t table) override;
  void PutBlob(int64_t table, const StoredBlob& blob) override;
  int64_t NextBlob() override;
  void SetNextBlob(int64_t next) override;

  // Runs one statement without results (for pragmas and schema work).
  void Exec(const std::string& sql, bool is_write);

 protected:
  void BeginChange() override;
  void CommitChange() override;
  void UndoChange() noexcept override;

 private:
  class Stmt;
  sqlite3_stmt* Prepare(const std::string& sql);
  // Steps a statement; returns true for a row, false when done; throws on errors.
  bool StepStmt(sqlite3_stmt* st, bool is_write);
  [[noreturn]] void Fail(int rc, bool is_write, bool injected = false);
  void EnsureWritable();
  static std::string RowsTable(int64_t table);
  // BEGIN IMMEDIATE of a write transaction, then the orphan sweep when it is due.
  void BeginWrite();
  void SweepIfDue();
  int64_t SweepOrphans(int64_t grace_seconds);
  void UpgradeLayout();
  // The length of a blob of layout 1, or nothing when the table has no such blob.
  std::optional<int64_t> ChunkedLength(int64_t table, int64_t blob);
  void CloseConnection();

  std::string folder_;
  sqlite3* db_ = nullptr;
  bool read_only_ = false;
  StoreFaults* faults_ = nullptr;
  int level_ = 0;  // client transaction nesting
  std::map<std::string, sqlite3_stmt*> cache_;
  bool chunked_ = true;  // layout 1 (see above)
  int64_t serial_ = 0;   // names this store among the live ones of the process
  int64_t orphan_grace_s_ = 600;
  int64_t sweep_interval_s_ = 60;
  int64_t next_sweep_ = 0;
  bool disk_full_reported_ = false;
};

// Maps an SQLite result code onto a code of the error table.
uint32_t StoreErrorCode(int sqlite_code, bool is_write);

}  // namespace vantera
