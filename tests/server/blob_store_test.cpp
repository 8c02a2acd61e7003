// Blob bytes kept in chunks: pieces at any offset, reads across chunk ends, truncation, a
// folder of the older layout (bytes inside the blob row) still read and moved into chunks,
// and the sweep of blobs that no record refers to.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "server/engine/sqlite_store.h"
#include "server/engine/storage_factory.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

constexpr int64_t kChunk = SqliteStore::kBlobChunk;

std::string Pattern(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(gen());
  return s;
}

std::string ReadAll(Storage& store, int64_t blob) {
  int64_t total = 0;
  auto b = store.ReadBlob(1, blob, 0, 1 << 30, &total);
  EXPECT_TRUE(b.has_value());
  EXPECT_EQ(static_cast<int64_t>(b->size()), total);
  return b ? *b : std::string();
}

int64_t WriteInTransaction(Storage& store, int64_t blob, int64_t offset, std::string_view d) {
  Storage::Write w(store);
  store.WriteBlob(1, blob, offset, d);
  w.Commit();
  return blob;
}

void Sql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  std::string msg = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << msg;
}

int64_t SqlCount(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// Pieces of odd sizes at every kind of offset (inside a chunk, across chunk ends, over the
// end) give the same bytes as the same edits on a plain string.
class StoredBlobs : public ::testing::TestWithParam<StorageKind> {
 protected:
  void SetUp() override { VANTERA_SKIP_UNAVAILABLE(storage_); }
  // The chunks left of all blobs.
  int64_t ChunkCount() const {
    if (storage_.kind() == StorageKind::kSqlite)
      return SqlCount(SqliteStore::FileName(storage_.location()),
                      "SELECT count(*) FROM blob_chunks");
    return PgCluster::Number(storage_.conninfo(), "SELECT count(*) FROM tarvola.blob_chunks");
  }
  TestStorage storage_{GetParam()};
};

TEST_P(StoredBlobs, PiecesAtAnyOffsetMatchAPlainModel) {
  std::unique_ptr<Storage> opened = OpenStorage(storage_.Options(), storage_.location(), false);
  Storage& store = *opened;
  int64_t blob = 0;
  {
    Storage::Write w(store);
    blob = store.CreateBlob(1);
    w.Commit();
  }
  std::string model;
  EXPECT_EQ(store.BlobLength(1, blob), 0);
  EXPECT_EQ(ReadAll(store, blob), "");
  std::mt19937 gen(7);
  for (int step = 0; step < 60; ++step) {
    size_t size = gen() % (2 * kChunk + 17);
    size_t offset = model.empty() ? 0 : gen() % (model.size() + 1);
    if (step % 4 == 0)
      offset = model.size();  // appends, the way a client writes a blob
    std::string piece = Pattern(size, static_cast<unsigned>(step));
    WriteInTransaction(store, blob, static_cast<int64_t>(offset), piece);
    if (model.size() < offset + size)
      model.resize(offset + size);
    model.replace(offset, size, piece);
    ASSERT_EQ(store.BlobLength(1, blob), static_cast<int64_t>(model.size())) << step;
    if (step % 10 == 9) {
      size_t cut = gen() % (model.size() + 1);
      if (step == 19)
        cut = static_cast<size_t>(kChunk);  // exactly on a chunk end
      Storage::Write w(store);
      store.TruncateBlob(1, blob, static_cast<int64_t>(cut));
      w.Commit();
      model.resize(cut);
    }
  }
  EXPECT_EQ(ReadAll(store, blob), model);
  // Partial reads across chunk ends, and at the end.
  for (int64_t off : {int64_t{0}, kChunk - 3, kChunk, 2 * kChunk + 5}) {
    if (off >= static_cast<int64_t>(model.size()))
      continue;
    int64_t total = 0;
    auto part = store.ReadBlob(1, blob, off, 10, &total);
    ASSERT_TRUE(part);
    EXPECT_EQ(*part, model.substr(static_cast<size_t>(off), 10)) << off;
    EXPECT_EQ(total, static_cast<int64_t>(model.size()));
  }
  // A write beyond the end, or at a wrong table, is refused; the blob stays as it was.
  auto code_of = [&](auto f) -> uint32_t {
    try {
      f();
    } catch (const EnxBaseException& e) {
      return e.ErrorCode();
    }
    return 0;
  };
  EXPECT_EQ(code_of([&] { store.WriteBlob(1, blob, static_cast<int64_t>(model.size()) + 1, "x"); }),
            9998u);
  EXPECT_EQ(code_of([&] { store.WriteBlob(2, blob, 0, "x"); }), 9990u);
  EXPECT_EQ(code_of([&] { store.TruncateBlob(1, blob, static_cast<int64_t>(model.size()) + 1); }),
            9998u);
  EXPECT_EQ(ReadAll(store, blob), model);
  // Deleting the blob deletes its chunks.
  {
    Storage::Write w(store);
    store.DeleteBlob(1, blob);
    w.Commit();
  }
  EXPECT_FALSE(store.BlobLength(1, blob));
  EXPECT_EQ(ChunkCount(), 0);
}

// A folder written before blobs were chunked: its blob bytes sit in the blob row. A
// read-only store reads them there; the first writable open moves them into chunks.
TEST(BlobChunks, AFolderOfTheOlderLayoutStillOpensAndReads) {
  TempFolder folder;
  const std::string file = SqliteStore::FileName(folder.path());
  std::string big = Pattern(3 * kChunk + 100, 1);
  Sql(file,
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE catalog(id INTEGER PRIMARY KEY, name TEXT NOT NULL, upper_name BLOB NOT "
      "NULL UNIQUE, dictionary BLOB NOT NULL, index_count INTEGER NOT NULL, next_row INTEGER "
      "NOT NULL DEFAULT 1, next_autoinc INTEGER NOT NULL DEFAULT 1);"
      "CREATE TABLE blobs(id INTEGER PRIMARY KEY AUTOINCREMENT, table_id INTEGER NOT NULL, "
      "owner_row INTEGER NOT NULL DEFAULT 0, data BLOB NOT NULL);"
      "CREATE INDEX blobs_owner ON blobs(table_id, owner_row);"
      "INSERT INTO blobs(table_id, owner_row, data) VALUES(1, 7, x'0102030405');"
      "INSERT INTO blobs(table_id, owner_row, data) VALUES(1, 8, x'');"
      "INSERT INTO blobs(table_id, owner_row, data) VALUES(1, 0, x'AA');");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO blobs(table_id, owner_row, data) VALUES(1, 9, ?1)", -1, &st,
                       nullptr);
    sqlite3_bind_blob(st, 1, big.data(), static_cast<int>(big.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  {
    SqliteStore reader(folder.path(), true);
    EXPECT_EQ(ReadAll(reader, 1), std::string("\x01\x02\x03\x04\x05"));
    EXPECT_EQ(ReadAll(reader, 2), "");
    EXPECT_EQ(reader.BlobLength(1, 4), static_cast<int64_t>(big.size()));
    int64_t total = 0;
    EXPECT_EQ(reader.ReadBlob(1, 4, kChunk - 2, 4, &total), big.substr(kChunk - 2, 4));
  }
  {
    SqliteStore writer(folder.path(), false);
    EXPECT_EQ(ReadAll(writer, 1), std::string("\x01\x02\x03\x04\x05"));
    EXPECT_EQ(ReadAll(writer, 4), big);
    // The blob row's own bytes are now empty: everything is in chunks.
    EXPECT_EQ(SqlCount(file, "SELECT count(*) FROM blobs WHERE length(data) > 0"), 0);
    EXPECT_EQ(SqlCount(file, "SELECT count(*) FROM blob_chunks WHERE blob = 4"), 4);
    EXPECT_TRUE(writer.BlobLength(1, 3));
    // The first write sweeps the old orphan (no creator recorded); owned blobs stay.
    WriteInTransaction(writer, 1, 5, "\x06");
    EXPECT_EQ(ReadAll(writer, 1), std::string("\x01\x02\x03\x04\x05\x06"));
    EXPECT_FALSE(writer.BlobLength(1, 3));
    EXPECT_EQ(ReadAll(writer, 2), "");
    EXPECT_EQ(writer.DeleteOrphanBlobs(0), 0);
  }
  SqliteStore again(folder.path(), true);
  EXPECT_EQ(ReadAll(again, 4), big);
}

// Sets a blob's creator by hand: what another process's store would have written.
void SetCreator(const std::string& file, int64_t blob, int64_t pid, int64_t age_seconds) {
  Sql(file, "UPDATE blobs SET creator_pid = " + std::to_string(pid) + ", creator_store = 1, " +
                "created = strftime('%s','now') - " + std::to_string(age_seconds) +
                " WHERE id = " + std::to_string(blob));
}

pid_t DeadPid() {
  pid_t child = ::fork();
  if (child == 0)
    ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;  // reaped: no process has this number now (until it is reused)
}

// The next write transaction after the sweep interval removes blobs that no record refers
// to once they are older than the grace period, but never those whose creator still
// lives: an open store of this process, or another running process.
TEST(OrphanBlobs, TheNextWriteSweepsThemButNeverOnesInFlight) {
  TempFolder folder;
  const std::string file = SqliteStore::FileName(folder.path());
  SqliteStore sweeper(folder.path(), false);
  auto create = [](SqliteStore& s) {
    SqliteStore::Write w(s);
    int64_t b = s.CreateBlob(1);
    s.WriteBlob(1, b, 0, "template");
    w.Commit();
    return b;
  };
  auto live_store = std::make_unique<SqliteStore>(folder.path(), false);
  int64_t in_flight = create(*live_store);  // its cursor may still post it
  int64_t cancelled = 0;
  {
    SqliteStore gone(folder.path(), false);
    cancelled = create(gone);  // the session closed without posting
  }
  int64_t posted = create(sweeper);
  {
    SqliteStore::Write w(sweeper);
    sweeper.SetBlobOwner(1, posted, 42);
    w.Commit();
  }
  int64_t other_live = create(sweeper);
  int64_t other_dead = create(sweeper);
  int64_t young = create(sweeper);
  SetCreator(file, other_live, ::getppid(), 3600);  // a process that runs
  SetCreator(file, other_dead, DeadPid(), 3600);
  SetCreator(file, young, DeadPid(), 5);
  SetCreator(file, cancelled, ::getpid(), 3600);
  Sql(file, "UPDATE blobs SET created = created - 3600 WHERE id IN (" + std::to_string(in_flight) +
                ", " + std::to_string(posted) + ")");
  sweeper.SetOrphanSweep(60, 0);
  // Reads do not sweep.
  EXPECT_TRUE(sweeper.BlobLength(1, cancelled));
  {
    SqliteStore::Write w(sweeper);  // any change: here a new table's row number
    sweeper.CreateBlob(2);
    w.Commit();
  }
  EXPECT_FALSE(sweeper.BlobLength(1, cancelled));
  EXPECT_FALSE(sweeper.BlobLength(1, other_dead));
  EXPECT_TRUE(sweeper.BlobLength(1, in_flight));
  EXPECT_TRUE(sweeper.BlobLength(1, posted));
  EXPECT_TRUE(sweeper.BlobLength(1, other_live));
  EXPECT_TRUE(sweeper.BlobLength(1, young));
  EXPECT_EQ(SqlCount(file, "SELECT count(*) FROM blob_chunks WHERE blob IN (" +
                               std::to_string(cancelled) + ", " + std::to_string(other_dead) + ")"),
            0);
  // When its store closes, the blob in flight is an orphan like the others.
  live_store.reset();
  {
    SqliteStore::Write w(sweeper);
    sweeper.CreateBlob(2);
    w.Commit();
  }
  EXPECT_FALSE(sweeper.BlobLength(1, in_flight));
  EXPECT_TRUE(sweeper.BlobLength(1, posted));
  // Within the interval nothing more is swept.
  sweeper.SetOrphanSweep(60, 3600);
  {
    SqliteStore::Write w(sweeper);
    sweeper.CreateBlob(2);
    w.Commit();
  }
  EXPECT_TRUE(sweeper.BlobLength(1, young));
  Sql(file, "UPDATE blobs SET created = created - 3600 WHERE id = " + std::to_string(young));
  {
    SqliteStore::Write w(sweeper);
    sweeper.CreateBlob(2);
    w.Commit();
  }
  EXPECT_TRUE(sweeper.BlobLength(1, young));
}

// On PostgreSQL the creator of a blob is the database connection of the store that made
// it, seen by every front-end: a blob of another connection that is alive stays; one
// whose connection ended without a word (its front-end killed: here its backend
// terminated) is swept by the next write of any other store, and so is one whose store
// closed.
TEST(OrphanBlobsOnPostgresql, ACreatorIsAliveWhileItsConnectionIs) {
  TestStorage storage(StorageKind::kPostgresql);
  VANTERA_SKIP_UNAVAILABLE(storage);
  EngineOptions options = storage.Options();
  auto open = [&] { return OpenStorage(options, storage.location(), false); };
  auto create = [](Storage& s) {
    Storage::Write w(s);
    int64_t b = s.CreateBlob(1);
    s.WriteBlob(1, b, 0, "template");
    w.Commit();
    return b;
  };
  auto write_once = [](Storage& s) {
    Storage::Write w(s);
    s.CreateBlob(2);
    w.Commit();
  };
  std::unique_ptr<Storage> sweeper = open();
  sweeper->SetOrphanSweep(0, 0);
  std::unique_ptr<Storage> alive = open();
  std::unique_ptr<Storage> killed = open();
  int64_t in_flight = create(*alive);
  int64_t of_killed = create(*killed);
  int64_t of_closed = 0;
  {
    std::unique_ptr<Storage> closed = open();
    of_closed = create(*closed);
  }
  const int64_t killed_pid =
      PgCluster::Number(storage.conninfo(), "SELECT creator_pid FROM tarvola.blobs WHERE id = " +
                                                std::to_string(of_killed));
  ASSERT_GT(killed_pid, 0);
  EXPECT_EQ(PgCluster::Number(storage.conninfo(),
                              "SELECT creator_pid FROM tarvola.blobs WHERE "
                              "id = " +
                                  std::to_string(of_closed)),
            0);  // given up by its store at once
  write_once(*sweeper);
  EXPECT_TRUE(sweeper->BlobLength(1, in_flight));
  EXPECT_TRUE(sweeper->BlobLength(1, of_killed));
  EXPECT_FALSE(sweeper->BlobLength(1, of_closed));

  ASSERT_EQ(PgCluster::Number(storage.conninfo(), "SELECT pg_terminate_backend(" +
                                                      std::to_string(killed_pid) + ", 10000)::int"),
            1);
  write_once(*sweeper);
  EXPECT_FALSE(sweeper->BlobLength(1, of_killed));
  EXPECT_TRUE(sweeper->BlobLength(1, in_flight));
  EXPECT_EQ(PgCluster::Number(storage.conninfo(),
                              "SELECT count(*) FROM tarvola.blob_chunks "
                              "WHERE blob = " +
                                  std::to_string(of_killed)),
            0);
  // The store whose connection was ended finds out at its next request and connects anew.
  uint32_t lost = 0;
  try {
    killed->BlobLength(1, in_flight);
  } catch (const EnxBaseException& e) {
    lost = e.ErrorCode();
  }
  EXPECT_EQ(lost, 9217u);  // Read failure.
  EXPECT_TRUE(killed->BlobLength(1, in_flight));
}

// Through the engine: the blob of an append whose session ended without posting goes with
// another session's next write; the blob of a session still appending stays and posts.
TEST_P(StoredBlobs, ACancelledAppendsBlobGoesWithTheNextWriteOfAnotherSession) {
  storage_.Prepare();
  EngineOptions options = storage_.Options();
  options.orphan_blob_grace_s = 0;
  options.orphan_sweep_interval_s = 0;
  ServerEngine engine(options);
  auto new_blob = [](TestClient& c, const OpenCursor& s, const std::string& bytes) {
    int64_t b = DecodeInt64Reply(c.Call(nxmsg::kBlobCreate, ObjectRequest{s.id}.Encode()).data);
    EXPECT_EQ(c.Call(nxmsg::kBlobWrite, BlobWriteRequest{s.id, b, 0, bytes}.Encode()).code, 0u);
    return b;
  };
  auto record = [](const OpenCursor& s, const std::string& card, int64_t blob) {
    Bytes rec = s.dict->NewRecord();
    SetText(*s.dict, &rec, "AsNo", "           1001");
    SetText(*s.dict, &rec, "KorttiLyh", card);
    if (blob)
      SetInt64(*s.dict, &rec, "Jalki", blob);
    return rec;
  };
  int64_t cancelled = 0;
  {
    TestClient gone(engine, 1);
    OpenCursor s = gone.OpenTable(gone.OpenDatabase(), "ASSORMI");
    cancelled = new_blob(gone, s, "peruttu");
  }  // the session ends without posting
  TestClient other(engine, 3);
  OpenCursor s3 = other.OpenTable(other.OpenDatabase(), "ASSORMI");
  auto length_code = [&](int64_t blob) {
    return other.Call(nxmsg::kBlobGetLength, BlobRequest{s3.id, blob}.Encode()).code;
  };
  EXPECT_EQ(length_code(cancelled), 0u);  // reads leave it
  // The next write of any session (here a blob of an append that goes on) removes it.
  TestClient appending(engine, 2);
  OpenCursor s2 = appending.OpenTable(appending.OpenDatabase(), "ASSORMI");
  int64_t in_flight = new_blob(appending, s2, "kesken");
  EXPECT_EQ(length_code(cancelled), 9990u);  // gone
  // Writes of other sessions leave the blob in flight.
  ASSERT_EQ(other.Insert(s3, record(s3, "K3", 0)), 0u);
  EXPECT_EQ(length_code(in_flight), 0u);
  ASSERT_EQ(appending.Insert(s2, record(s2, "K2", in_flight)), 0u);
  EngineReply read = other.Call(nxmsg::kBlobRead, BlobReadRequest{s3.id, in_flight, 0, 6}.Encode());
  ASSERT_EQ(read.code, 0u);
  EXPECT_EQ(DecodeBlobReadReply(read.data), "kesken");
  EXPECT_EQ(other.Count(s3), 2);
}

// A stepped-to record's blobs read right after the step (which some stores answer from what
// they fetched with the record): the bytes the session has written since, another record's
// blob, a blob of several chunks, the session's own changes inside a transaction and the
// state from before it after a rollback.
TEST_P(StoredBlobs, BlobsReadAfterAStepShowTheSessionsOwnChanges) {
  storage_.Prepare();
  ServerEngine engine(storage_.Options());
  TestClient c(engine, 1);
  int32_t db = c.OpenDatabase();
  OpenCursor s = c.OpenTable(db, "ASSORMI");
  auto length = [&](int64_t blob) {
    EngineReply r = c.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blob}.Encode());
    EXPECT_EQ(r.code, 0u) << blob;
    return r.code == 0 ? DecodeInt32Reply(r.data) : -1;
  };
  auto read = [&](int64_t blob, int32_t offset, size_t n) {
    EngineReply r = c.Call(nxmsg::kBlobRead,
                           BlobReadRequest{s.id, blob, offset, static_cast<int32_t>(n)}.Encode());
    EXPECT_EQ(r.code, 0u) << blob;
    return r.code == 0 ? Bytes(DecodeBlobReadReply(r.data)) : Bytes();
  };
  auto write = [&](int64_t blob, int32_t offset, const std::string& d) {
    return c.Call(nxmsg::kBlobWrite, BlobWriteRequest{s.id, blob, offset, d}.Encode()).code;
  };
  auto truncate = [&](int64_t blob, int32_t n) {
    return c.Call(nxmsg::kBlobTruncate, BlobTruncateRequest{s.id, blob, n}.Encode()).code;
  };
  auto step = [&](uint32_t request) {
    EngineReply r = c.Get(request, s);
    EXPECT_EQ(r.code, 0u);
    return r.code == 0 ? GetInt64(*s.dict, r.data, "Jalki") : int64_t{-1};
  };
  const std::string big = Pattern(static_cast<size_t>(2 * kChunk + 100), 3);
  const std::vector<std::string> contents = {"alpha", big, "gamma"};
  std::vector<int64_t> blobs;
  for (size_t i = 0; i < contents.size(); ++i) {
    int64_t b = DecodeInt64Reply(c.Call(nxmsg::kBlobCreate, ObjectRequest{s.id}.Encode()).data);
    ASSERT_EQ(write(b, 0, contents[i]), 0u);
    Bytes rec = s.dict->NewRecord();
    SetText(*s.dict, &rec, "AsNo", std::to_string(i + 1));
    SetText(*s.dict, &rec, "KorttiLyh", "K1");
    SetInt64(*s.dict, &rec, "Jalki", b);
    ASSERT_EQ(c.Insert(s, rec), 0u);
    blobs.push_back(b);
  }
  ASSERT_EQ(c.Simple(nxmsg::kCursorSetToBegin, s.id), 0u);
  ASSERT_EQ(step(nxmsg::kRecordGetNext), blobs[0]);
  EXPECT_EQ(length(blobs[0]), 5);
  EXPECT_EQ(read(blobs[0], 0, 5), "alpha");
  // Other records' blobs, one of them of three chunks.
  EXPECT_EQ(read(blobs[2], 0, 5), "gamma");
  EXPECT_EQ(length(blobs[1]), static_cast<int32_t>(big.size()));
  EXPECT_EQ(read(blobs[1], kChunk - 3, 10), big.substr(static_cast<size_t>(kChunk - 3), 10));
  EXPECT_EQ(read(blobs[0], 1, 3), "lph");
  // Written after the step.
  ASSERT_EQ(write(blobs[0], 5, "-beta"), 0u);
  EXPECT_EQ(length(blobs[0]), 10);
  EXPECT_EQ(read(blobs[0], 0, 10), "alpha-beta");
  ASSERT_EQ(step(nxmsg::kRecordGetNext), blobs[1]);
  EXPECT_EQ(length(blobs[1]), static_cast<int32_t>(big.size()));
  EXPECT_EQ(read(blobs[1], 0, big.size()), big);
  EXPECT_EQ(read(blobs[1], 2 * kChunk, 100), big.substr(static_cast<size_t>(2 * kChunk)));
  // Inside a transaction the session's changes show, also after a step that read them; a
  // rollback takes them away again.
  ASSERT_EQ(c.Call(nxmsg::kTransactionStart, TransactionStartRequest{db, 0, 0}.Encode()).code, 0u);
  ASSERT_EQ(step(nxmsg::kRecordGetNext), blobs[2]);
  EXPECT_EQ(read(blobs[2], 0, 5), "gamma");
  ASSERT_EQ(truncate(blobs[2], 2), 0u);
  EXPECT_EQ(length(blobs[2]), 2);
  EXPECT_EQ(read(blobs[2], 0, 2), "ga");
  ASSERT_EQ(write(blobs[2], 2, "MMA!"), 0u);
  ASSERT_EQ(step(nxmsg::kRecordGetPrior), blobs[1]);
  ASSERT_EQ(step(nxmsg::kRecordGetNext), blobs[2]);
  EXPECT_EQ(length(blobs[2]), 6);
  EXPECT_EQ(read(blobs[2], 0, 6), "gaMMA!");
  ASSERT_EQ(c.Simple(nxmsg::kTransactionRollback, db), 0u);
  EXPECT_EQ(length(blobs[2]), 5);
  EXPECT_EQ(read(blobs[2], 0, 5), "gamma");
  ASSERT_EQ(step(nxmsg::kRecordGetPrior), blobs[1]);
  ASSERT_EQ(step(nxmsg::kRecordGetPrior), blobs[0]);
  EXPECT_EQ(read(blobs[0], 0, 10), "alpha-beta");
  // A blob the record gave up (deleted with the record's change) is gone after the step.
  Bytes rec = s.dict->NewRecord();
  SetText(*s.dict, &rec, "AsNo", "1");
  SetText(*s.dict, &rec, "KorttiLyh", "K1");
  ASSERT_EQ(c.Get(nxmsg::kRecordGet, s, 2).code, 0u);
  ASSERT_EQ(c.Modify(s, rec), 0u);
  EXPECT_EQ(c.Call(nxmsg::kBlobGetLength, BlobRequest{s.id, blobs[0]}.Encode()).code, 9990u);
}

INSTANTIATE_TEST_SUITE_P(Storage, StoredBlobs, ::testing::ValuesIn(StorageKinds()),
                         [](const auto& p) { return StorageName(p.param); });

}  // namespace
}  // namespace vantera::testing
