// kantadb-server killed with SIGKILL in the middle of a stream of inserts: after a restart
// every acknowledged record is there with its whole blob, and the database file is sound.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "protocol/nxRequests.h"
#include "server/engine/sqlite_store.h"
#include "server/engine_dispatcher.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/in_process_server.h"
#include "tests/server/remote_client.h"
#include "tests/server/server_process.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

Bytes Template(int n) {
  Bytes t(1024, '\0');
  for (size_t i = 0; i < t.size(); ++i)
    t[i] = static_cast<char>((static_cast<size_t>(n) * 31 + i) & 0xFF);
  return t;
}

struct Table {
  int32_t database = 0;
  int32_t cursor = 0;
  TnxDataDictionary dict;
};

// `timeout` is also how long a write waits for another client's transaction.
Table OpenAssormi(RemoteClient& c, int32_t timeout = 5000, const std::string& name = "ASSORMI") {
  DatabaseOpenRequest open;
  open.keyword = "Name";
  open.alias = "Tarvola";
  open.timeout = timeout;
  EngineReply db = c.Call(nxmsg::kDatabaseOpen, open.Encode());
  if (db.code != 0)
    throw std::runtime_error("DatabaseOpen " + std::to_string(db.code));
  TableOpenRequest topen;
  topen.database_id = DecodeInt32Reply(db.data);
  topen.table_name = name;
  topen.timeout = timeout;
  EngineReply t = c.Call(nxmsg::kTableOpen, topen.Encode());
  if (t.code != 0)
    throw std::runtime_error("TableOpen " + std::to_string(t.code));
  TableOpenReply reply = TableOpenReply::Decode(t.data);
  Table table;
  table.database = topen.database_id;
  table.cursor = reply.cursor_id;
  table.dict.ReadFromBytes(reply.dictionary);
  return table;
}

class Durability : public ::testing::TestWithParam<StorageKind> {
 protected:
  void SetUp() override { VANTERA_SKIP_UNAVAILABLE(storage_); }
  // The server's command line for the storage.
  std::vector<std::string> ServerArgs() const {
    if (storage_.kind() == StorageKind::kSqlite)
      return {"--data", storage_.folder().Sub("tarvola"), "--no-discovery"};
    return {"--storage", "postgresql", "--pg", storage_.conninfo(), "--no-discovery"};
  }
  TestStorage storage_{GetParam()};
};

TEST_P(Durability, AcknowledgedInsertsSurviveSigkill) {
  const std::string data = storage_.folder().Sub("tarvola");
  std::set<std::string> acknowledged;
  {
    ServerProcess server(ServerArgs());
    RemoteClient client(server.Port());
    Table t = OpenAssormi(client);
    std::atomic<int> count{0};
    std::thread killer([&] {
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (count < 40 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ::kill(server.Pid(), SIGKILL);
    });
    for (int n = 0; n < 100000; ++n) {
      EngineReply blob = client.Call(nxmsg::kBlobCreate, ObjectRequest{t.cursor}.Encode(), 2000);
      if (blob.code != 0)
        break;
      int64_t number = DecodeInt64Reply(blob.data);
      BlobWriteRequest w{t.cursor, number, 0, Template(n)};
      if (client.Call(nxmsg::kBlobWrite, w.Encode(), 2000).code != 0)
        break;
      Bytes rec = t.dict.NewRecord();
      SetText(t.dict, &rec, "AsNo", "1");
      SetText(t.dict, &rec, "KorttiLyh", "K" + std::to_string(n));
      SetInt64(t.dict, &rec, "Jalki", number);
      RecordWriteRequest insert;
      insert.cursor_id = t.cursor;
      insert.record = rec;
      if (client.Call(nxmsg::kRecordInsert, insert.Encode(nxmsg::kRecordInsert), 2000).code != 0)
        break;
      acknowledged.insert("K" + std::to_string(n));
      ++count;
    }
    killer.join();
  }
  ASSERT_GE(acknowledged.size(), 40u);

  ServerProcess again(ServerArgs());
  RemoteClient client(again.Port());
  Table t = OpenAssormi(client);
  std::set<std::string> found;
  for (size_t i = 0; i < acknowledged.size() + 10; ++i) {
    RecordGetRequest next{t.cursor, 0, static_cast<uint16_t>(t.dict.RecordLength()), 0};
    EngineReply r = client.Call(nxmsg::kRecordGetNext, next.Encode());
    if (r.code == 8706)
      break;
    ASSERT_EQ(r.code, 0u);
    std::string card = GetText(t.dict, r.data, "KorttiLyh");
    int n = std::stoi(card.substr(1));
    int64_t blob = GetInt64(t.dict, r.data, "Jalki");
    EngineReply piece =
        client.Call(nxmsg::kBlobRead, BlobReadRequest{t.cursor, blob, 0, 4096}.Encode());
    ASSERT_EQ(piece.code, 8711u) << card;
    EXPECT_EQ(DecodeBlobReadReply(piece.data), Template(n)) << card;
    found.insert(card);
  }
  for (const std::string& card : acknowledged)
    EXPECT_TRUE(found.count(card)) << card << " was acknowledged but is gone";
  EXPECT_LE(found.size(), acknowledged.size() + 1);  // at most the one in flight

  if (storage_.kind() != StorageKind::kSqlite)
    return;
  sqlite3* db = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(SqliteStore::FileName(data).c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace
}  // namespace vantera::testing

namespace vantera::testing {
namespace {

// Several workstations at once, each with its own session, database and cursor: every
// insert lands once, and a customer number taken by one is refused to the others.
TEST_P(Durability, SeveralClientsAtOnceEachGetTheirOwnSession) {
  ServerProcess server(ServerArgs());
  constexpr int kClients = 4, kEach = 30;
  std::atomic<int> failures{0}, refused{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      RemoteClient client(server.Port());
      Table t = OpenAssormi(client);
      for (int n = 0; n < kEach; ++n) {
        Bytes rec = t.dict.NewRecord();
        SetText(t.dict, &rec, "AsNo", std::to_string(c));
        SetText(t.dict, &rec, "KorttiLyh", "C" + std::to_string(c) + "-" + std::to_string(n));
        RecordWriteRequest insert;
        insert.cursor_id = t.cursor;
        insert.record = rec;
        if (client.Call(nxmsg::kRecordInsert, insert.Encode(nxmsg::kRecordInsert)).code != 0)
          ++failures;
        // The cursor stands on its own new record, whatever the others insert meanwhile.
        RecordGetRequest get{t.cursor, 0, static_cast<uint16_t>(t.dict.RecordLength()), 0};
        EngineReply r = client.Call(nxmsg::kRecordGet, get.Encode());
        if (r.code != 0 || GetText(t.dict, r.data, "KorttiLyh") !=
                               "C" + std::to_string(c) + "-" + std::to_string(n))
          ++failures;
      }
      // ASIAKAS has a unique customer number: only one client gets "1".
      DatabaseOpenRequest open;
      open.keyword = "Name";
      open.alias = "tarvola";
      EngineReply db = client.Call(nxmsg::kDatabaseOpen, open.Encode());
      TableOpenRequest topen;
      topen.database_id = DecodeInt32Reply(db.data);
      topen.table_name = "ASIAKAS";
      TableOpenReply a =
          TableOpenReply::Decode(client.Call(nxmsg::kTableOpen, topen.Encode()).data);
      TnxDataDictionary dict;
      dict.ReadFromBytes(a.dictionary);
      Bytes customer = dict.NewRecord();
      SetText(dict, &customer, "AsNo", "1");
      SetText(dict, &customer, "AsNimi", "Sama");
      RecordWriteRequest insert;
      insert.cursor_id = a.cursor_id;
      insert.record = customer;
      uint32_t code = client.Call(nxmsg::kRecordInsert, insert.Encode(nxmsg::kRecordInsert)).code;
      if (code == 9729)
        ++refused;
      else if (code != 0)
        ++failures;
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(refused, kClients - 1);
  RemoteClient client(server.Port());
  Table t = OpenAssormi(client);
  EngineReply count = client.Call(nxmsg::kCursorRecordCount, ObjectRequest{t.cursor}.Encode());
  ASSERT_EQ(count.code, 0u);
  EXPECT_EQ(DecodeInt32Reply(count.data), kClients * kEach);
}

}  // namespace
}  // namespace vantera::testing

namespace vantera::testing {
namespace {

// A workstation that announced no heartbeat dies inside a transaction with a customer
// written: while the transaction lives, another workstation's customer of the same number
// waits and times out (SQLite: the writer's lock; PostgreSQL: the uncommitted key); once
// the dead one's transport has been without a connection for the grace, the server rolls
// the transaction back and the other's insert goes through, the only customer there.
TEST_P(Durability, ATransactionOfAClientThatVanishedIsRolledBack) {
  storage_.Prepare();
  EngineDispatcher dispatcher(storage_.Options());
  InProcessTcpServer server(dispatcher, std::chrono::milliseconds(300));

  RemoteClient dying(server.Port(), 0);
  Table a = OpenAssormi(dying, 100, "ASIAKAS");
  ASSERT_EQ(
      dying.Call(nxmsg::kTransactionStart, TransactionStartRequest{a.database, 0, 0}.Encode()).code,
      0u);
  Bytes rec = a.dict.NewRecord();
  SetText(a.dict, &rec, "AsNo", "           1");
  SetText(a.dict, &rec, "AsNimi", "Nimi");
  RecordWriteRequest insert;
  insert.cursor_id = a.cursor;
  insert.record = rec;
  ASSERT_EQ(dying.Call(nxmsg::kRecordInsert, insert.Encode(nxmsg::kRecordInsert)).code, 0u);
  dying.Vanish();

  RemoteClient other(server.Port());
  Table b = OpenAssormi(other, 100, "ASIAKAS");
  RecordWriteRequest same;
  same.cursor_id = b.cursor;
  same.record = rec;
  const Bytes again = same.Encode(nxmsg::kRecordInsert);
  EXPECT_EQ(other.Call(nxmsg::kRecordInsert, again).code, 10249u);  // Lock time out.
  uint32_t code = 10249;
  for (int i = 0; i < 50 && code == 10249; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    code = other.Call(nxmsg::kRecordInsert, again).code;
  }
  ASSERT_EQ(code, 0u);
  EngineReply count = other.Call(nxmsg::kCursorRecordCount, ObjectRequest{b.cursor}.Encode());
  ASSERT_EQ(count.code, 0u);
  EXPECT_EQ(DecodeInt32Reply(count.data), 1);
  EXPECT_EQ(server.registry.TransportCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Storage, Durability, ::testing::ValuesIn(StorageKinds()),
                         [](const auto& p) { return StorageName(p.param); });

}  // namespace
}  // namespace vantera::testing
