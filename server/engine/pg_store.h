// The server's storage in PostgreSQL: one schema per alias, shared by every kantadb-server
// process that serves the alias (each one a stateless front-end over the database).
//
// What is stored in the schema:
//   catalog(id, name, upper_name, dictionary, index_count, next_autoinc)
//       one row per table, as in the SQLite store (names and dictionaries as bytea: they
//       are Windows-1252 bytes).
//   r<id>(row, image, k0, k1, ...) and the sequence r<id>_row
//       the records; k<i> is the sort key of index i as bytea, which compares bytewise, with
//       a btree index on (k<i>, row) so that every step through an index is one seek (and a
//       unique index on k<i> for a unique one). Row numbers come from the sequence: never
//       reused, whichever process inserts.
//   blobs(id, table_id, owner_row, created, creator_pid, creator_start) and
//   blob_chunks(blob, n, data)
//       as in the SQLite store; the creator of a blob is the database connection (backend
//       process id and start time) of the store that made it, so that the orphan sweep of
//       any process leaves alone a blob whose creator is still connected.
//
// Transactions of the client are a transaction of the connection, nested ones savepoints;
// a Write outside them is a transaction of its own. A store whose connection is lost fails
// the request with a code (its transaction is gone) and connects anew for the next one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/engine/engine_options.h"
#include "server/engine/pg_connection.h"
#include "server/engine/storage.h"

namespace vantera {

class PgStore final : public Storage {
 public:
  // Connects to the schema `schema` (creating it and its tables when missing, unless
  // read-only). 10018 for a name that is not a plain lower-case identifier or a missing
  // schema of a read-only store, 9992 when the database cannot be reached.
  PgStore(const PgConnectionInfo& info, const std::string& schema, bool read_only);
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  // 10018 unless `schema` is 1 to 63 of a-z, 0-9 and _, not starting with a digit.
  static void CheckSchemaName(const std::string& schema);

  bool read_only() const override { return read_only_; }
  void SetBusyTimeout(int milliseconds) override;
  void SetOrphanSweep(int64_t grace_seconds, int64_t interval_seconds) override;

  int TransactionLevel() const override { return level_; }
  void TransactionStart() override;
  void TransactionCommit() override;
  void TransactionRollback() override;

  std::vector<std::string> TableNames() override;
  std::optional<StoredTable> FindTable(std::string_view name) override;
  void CreateTable(std::string_view name, const Bytes& dictionary,
                   const std::vector<bool>& unique_indexes) override;
  void LockCatalog() override;
  int64_t AllocateRow(int64_t table) override;
  int64_t AllocateAutoInc(int64_t table) override;

  std::optional<Bytes> ReadRow(int64_t table, int64_t row) override;
  std::optional<Bytes> RowKey(int64_t table, int index, int64_t row) override;
  std::optional<FoundRecord> Step(int64_t table, int index, const KeyBound& lower,
                                  const KeyBound& upper, const IndexPlace* from, bool forward,
                                  bool with_image = true) override;
  std::optional<FoundRecord> StepToRead(int64_t table, int index, const KeyBound& lower,
                                        const KeyBound& upper, const IndexPlace* from,
                                        bool forward) override;
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

 protected:
  void BeginChange() override;
  void CommitChange() override;
  void UndoChange() noexcept override;

 private:
  void Connected(PgConnection& c);
  void EnsureSchema(PgConnection& c);
  void EnsureWritable() const;
  void Begin();  // BEGIN, then the orphan sweep when it is due
  int64_t SweepOrphans(int64_t grace_seconds);
  static std::string RowsTable(int64_t table);
  PgResult Run(const std::string& sql, const std::vector<PgParam>& params, bool is_write) {
    if (is_write)
      fetched_.clear();
    return conn_.Run(sql, params, is_write);
  }
  std::optional<FoundRecord> Find(int64_t table, int index, const KeyBound& lower,
                                  const KeyBound& upper, const IndexPlace* from, bool forward,
                                  bool with_image, bool with_blobs);
  // A blob that the last Step fetched with its record, or null.
  struct FetchedBlob {
    int64_t table = 0;
    int64_t id = 0;
    int64_t length = 0;
    bool whole = false;  // `bytes` holds all of it (at most one chunk)
    Bytes bytes;
  };
  const FetchedBlob* Fetched(int64_t table, int64_t blob) const;

  std::string schema_;
  bool read_only_;
  int busy_timeout_ms_ = 5000;
  PgConnection conn_;
  int level_ = 0;  // client transaction nesting
  int64_t orphan_grace_s_ = 600;
  int64_t sweep_interval_s_ = 60;
  int64_t next_sweep_ = 0;
  // The blobs of the record that the last StepToRead found, as they were then; dropped on
  // the next Step and on every write and transaction boundary of this store, so that reads
  // inside a client's transaction always see its own writes.
  std::vector<FetchedBlob> fetched_;
};

}  // namespace vantera
