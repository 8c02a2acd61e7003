// What the engine needs from the place where an alias's tables live: one store is one
// connection to it (SqliteStore: a data folder's SQLite file; PgStore: a schema of a
// PostgreSQL database), used by one thread at a time.
//
// What every store keeps: a catalog of tables (name unique without regard to case, the
// dictionary stream as sent, the number of indexes); each table's records as images with
// one sort key per index, ordered bytewise and then by row number; row numbers that are
// never reused, so a stale bookmark never finds another record; blobs numbered per store
// location (never reused either), owned by the record that refers to them or by nobody
// while only the cursor that made them knows them.
//
// Every change goes through a Write: outside a transaction of the client it is a
// transaction of its own, inside one a savepoint, so a failed request leaves nothing
// behind. Every failure of the underlying database becomes EnxBaseException with a code of
// the error table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"

namespace vantera {

// Replaceable failure points for tests of the SQLite store. BeforeWrite returns 0 to let a
// writing statement run, or an SQLite result code that the statement is then taken to
// have returned.
class StoreFaults {
 public:
  virtual ~StoreFaults() = default;
  virtual int BeforeWrite() = 0;
};

struct StoredTable {
  int64_t id = 0;
  std::string name;
  Bytes dictionary;
  int index_count = 0;
};

// One end of a key range as a sort key: lower ends are inclusive, upper ends exclusive.
struct KeyBound {
  bool present = false;
  Bytes key;
};

// A place in an index: the sort key and the row number of a record (which may since have
// been deleted).
struct IndexPlace {
  Bytes key;
  int64_t row = 0;
};

struct FoundRecord {
  int64_t row = 0;
  Bytes key;
  Bytes image;
};

// The numbers a table hands out next.
struct TableCounters {
  int64_t next_row = 1;
  int64_t next_autoinc = 1;
};

struct StoredBlob {
  int64_t id = 0;
  int64_t owner_row = 0;
};

// Where stores report what an administrator must know (a full disk). Set once at start-up,
// before any store exists; without it nothing is reported.
void SetStoreFailureLog(std::function<void(const std::string&)> log);
void ReportStoreFailure(const std::string& line);

// Writes `data` at `offset` into a blob of `total` bytes kept in chunks of `chunk_size`:
// for every chunk that [offset, offset + size) covers, the chunk's new bytes go to `put`;
// a chunk the write covers only in part is read first through `read` (which throws when a
// chunk before the blob's end is missing). The caller checks 0 <= offset <= total.
void WriteChunks(int64_t offset, std::string_view data, int64_t total, int64_t chunk_size,
                 const std::function<Bytes(int64_t n)>& read,
                 const std::function<void(int64_t n, const Bytes& chunk)>& put);

class Storage {
 public:
  // Blob bytes are kept in chunks of this size: a write touches only the chunks it covers.
  static constexpr int64_t kBlobChunk = 64 * 1024;

  virtual ~Storage() = default;

  virtual bool read_only() const = 0;
  // A change waits at most this long for another writer.
  virtual void SetBusyTimeout(int milliseconds) = 0;
  // Orphan blobs older than `grace_seconds` are swept at most every `interval_seconds`.
  virtual void SetOrphanSweep(int64_t grace_seconds, int64_t interval_seconds) = 0;

  // ---- Transactions of the client (nested ones are savepoints) ----
  virtual int TransactionLevel() const = 0;
  virtual void TransactionStart() = 0;
  virtual void TransactionCommit() = 0;    // 10257 when none is active
  virtual void TransactionRollback() = 0;  // 10257 when none is active

  // ---- Catalog ----
  virtual std::vector<std::string> TableNames() = 0;
  virtual std::optional<StoredTable> FindTable(std::string_view name) = 0;
  // 13060 when a table of that name (any case) exists.
  virtual void CreateTable(std::string_view name, const Bytes& dictionary,
                           const std::vector<bool>& unique_indexes) = 0;
  // Makes other processes' catalog changes wait until this change ends (inside a Write);
  // a store that serializes its writers anyway does nothing.
  virtual void LockCatalog() {}
  virtual int64_t AllocateRow(int64_t table) = 0;
  virtual int64_t AllocateAutoInc(int64_t table) = 0;

  // ---- Records ----
  virtual std::optional<Bytes> ReadRow(int64_t table, int64_t row) = 0;
  // The sort key of `row` in index `index`, or nothing when the row is gone.
  virtual std::optional<Bytes> RowKey(int64_t table, int index, int64_t row) = 0;
  // The next record after `from` (or the first when null) in index order, or the prior
  // one before `from` (or the last), within [lower, upper).
  virtual std::optional<FoundRecord> Step(int64_t table, int index, const KeyBound& lower,
                                          const KeyBound& upper, const IndexPlace* from,
                                          bool forward, bool with_image = true) = 0;
  // As Step with the image, for a client that goes on to read the record's blobs: a store
  // may fetch them with the record and serve the next reads of them from what it fetched
  // (until its next Step or write).
  virtual std::optional<FoundRecord> StepToRead(int64_t table, int index, const KeyBound& lower,
                                                const KeyBound& upper, const IndexPlace* from,
                                                bool forward) {
    return Step(table, index, lower, upper, from, forward, true);
  }
  // The records within [lower, upper) of index `index` (all records when neither is given).
  virtual int64_t Count(int64_t table, int index, const KeyBound& lower, const KeyBound& upper) = 0;
  // 9729 when a unique index already holds one of the keys.
  virtual void InsertRow(int64_t table, int64_t row, const Bytes& image,
                         const std::vector<Bytes>& keys) = 0;
  virtual void UpdateRow(int64_t table, int64_t row, const Bytes& image,
                         const std::vector<Bytes>& keys) = 0;
  virtual void DeleteRow(int64_t table, int64_t row) = 0;
  virtual void DeleteAllRows(int64_t table) = 0;

  // ---- Blobs (a blob belongs to one table) ----
  virtual int64_t CreateBlob(int64_t table) = 0;
  virtual std::optional<int64_t> BlobLength(int64_t table, int64_t blob) = 0;
  // Up to `length` bytes from `offset` and the blob's whole length in `total`; nothing
  // when the blob is gone.
  virtual std::optional<Bytes> ReadBlob(int64_t table, int64_t blob, int64_t offset, int64_t length,
                                        int64_t* total) = 0;
  // The blob's new content replaces [offset, offset + data.size()); offset <= length.
  virtual void WriteBlob(int64_t table, int64_t blob, int64_t offset, std::string_view data) = 0;
  virtual void TruncateBlob(int64_t table, int64_t blob, int64_t length) = 0;
  // The row that refers to the blob (0 for none), or nothing when the blob is gone.
  virtual std::optional<int64_t> BlobOwner(int64_t table, int64_t blob) = 0;
  virtual void SetBlobOwner(int64_t table, int64_t blob, int64_t row) = 0;
  // Deletes the blobs owned by `row` except those in `keep`.
  virtual void DeleteBlobsOfRow(int64_t table, int64_t row, const std::vector<int64_t>& keep) = 0;
  virtual void DeleteBlob(int64_t table, int64_t blob) = 0;
  // Deletes the blobs that no record refers to, created at least `grace_seconds` ago by a
  // store that is gone (left by clients that never posted); returns how many.
  virtual int64_t DeleteOrphanBlobs(int64_t grace_seconds) = 0;

  // ---- Copying a whole store (inside a Write of the target) ----
  virtual TableCounters Counters(int64_t table) = 0;
  // Row numbers below counters.next_row are never handed out again.
  virtual void SetCounters(int64_t table, const TableCounters& counters) = 0;
  virtual std::vector<StoredBlob> BlobsOf(int64_t table) = 0;
  // An empty blob of exactly that number; later new blobs get higher numbers.
  virtual void PutBlob(int64_t table, const StoredBlob& blob) = 0;
  // The lowest number a new blob of this location may get: above every one handed out,
  // those of blobs since deleted included.
  virtual int64_t NextBlob() = 0;
  // New blobs get `next` or higher from now on (the counter never goes back).
  virtual void SetNextBlob(int64_t next) = 0;

  // ---- One change as a unit ----
  class Write {
   public:
    explicit Write(Storage& store);
    ~Write();  // undoes the change unless Commit() ran
    void Commit();
    Write(const Write&) = delete;
    Write& operator=(const Write&) = delete;

   private:
    Storage& store_;
    bool done_ = false;
  };

 protected:
  // A transaction (outside the client's) or a savepoint (inside it) for one Write.
  virtual void BeginChange() = 0;
  virtual void CommitChange() = 0;
  // Undoes what the change did; cannot fail (the database's own rollback stays in charge).
  virtual void UndoChange() noexcept = 0;
};

// Record locks as the database itself decides them, for a location that several server
// processes share. The in-process bookkeeping (FolderState) asks before it grants a lock
// that no session of this process holds, tells when the last of them gives it up, and
// asks before an edit of a record that no session of this process holds.
// All calls come under the caller's mutex.
class SharedRecordLocks {
 public:
  virtual ~SharedRecordLocks() = default;
  // False when another process holds the record; throws when the database cannot be asked.
  virtual bool TryLock(int64_t table, int64_t row) = 0;
  // Gives up a lock that TryLock took; a failure ends the connection, which releases all.
  virtual void Unlock(int64_t table, int64_t row) noexcept = 0;
  // True when another process holds the record.
  virtual bool HeldElsewhere(int64_t table, int64_t row) = 0;
  // Counts the connections to the database: when it changes, every lock taken before
  // is gone (the database released them with the old connection).
  virtual uint64_t Generation() const = 0;
};

}  // namespace vantera
