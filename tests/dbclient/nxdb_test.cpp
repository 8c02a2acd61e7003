#include "dbclient/nxdb.h"

#include <gtest/gtest.h>

#include "protocol/nxllException.h"
#include "protocol/nxsdDescriptors.h"
#include "protocol/workstation_tables.h"
#include "tests/dbclient/fake_table_server.h"

namespace vantera {
namespace {

using testing::FakeTableServer;
using testing::RecordingTransport;

// The session, database and one table of the workstation over a fake server.
struct CursorFixture : ::testing::Test {
  RecordingTransport transport;
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};
  std::unique_ptr<FakeTableServer> server;
  std::unique_ptr<TnxTable> table;

  void SetUp() override {
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Vantera");
    Serve(AssormiDictionary(nxtShortString));
    table = MakeTable("TblAsSormi", "ASSORMI");
  }
  void TearDown() override {
    table.reset();
    session.Close();  // the database first, while the fake server still answers
    server.reset();
  }

  void Serve(TnxDataDictionary dict) {
    server.reset();
    server = std::make_unique<FakeTableServer>(transport, std::move(dict));
  }
  std::unique_ptr<TnxTable> MakeTable(const char* name, const char* table_name) {
    auto t = std::make_unique<TnxTable>(name);
    t->SetDatabase(&database);
    t->SetTableName(table_name);
    return t;
  }
  // Adds an ASSORMI row.
  void AddRow(const char* as_no, const char* kortti, int32_t maara, int64_t blob = 0) {
    Bytes row = server->NewRow();
    server->SetText(row, "AsNo", as_no);
    server->SetText(row, "KorttiLyh", kortti);
    server->SetInt(row, "Maara", maara);
    if (blob)
      server->SetBlob(row, "Jalki", blob);
    server->rows.push_back(row);
  }
  // Opens the table and forgets the requests made so far.
  void OpenTable(TnxTable& t) {
    t.Open();
    transport.ClearRecord();
  }
  std::string Seq(size_t from = 0) const { return transport.Sequence(from); }
  std::vector<std::string> Walk(TnxTable& t, const char* field) {
    std::vector<std::string> out;
    for (int guard = 0; !t.Eof() && guard < 100; ++guard) {
      out.push_back(t.FieldByName(field).AsString());
      t.Next();
    }
    return out;
  }
};

TEST_F(CursorFixture, OpensOnItsIndexInTheRequestOrder) {
  table->SetIndexFieldNames("KorttiLyh");
  AddRow("1", "K1", 5);
  table->Open();
  EXPECT_EQ(Seq(), "DatabaseOpen TableOpen CursorSwitchToIndex CursorSetToBegin");
  auto open = TableOpenRequest::Decode(transport.requests[1].payload);
  EXPECT_EQ(open.database_id, FakeTableServer::kDatabaseId);
  EXPECT_EQ(open.table_name, "ASSORMI");
  EXPECT_EQ(open.open_mode, 2);
  EXPECT_EQ(open.share_mode, 1);
  EXPECT_EQ(open.timeout, 10000);
  EXPECT_EQ(
      transport.requests[2].payload,
      (CursorSwitchToIndexRequest{FakeTableServer::kCursorId, "ixKorttiLyh", -1, 1}.Encode()));
  transport.ClearRecord();
  EXPECT_EQ(table->FieldByName("KorttiLyh").AsString(), "K1");
  EXPECT_EQ(Seq(), "RecordGetNext CursorGetBookmark");
  auto get = RecordGetRequest::Decode(transport.requests[0].payload);
  EXPECT_EQ(get.lock_mode, 0);
  EXPECT_EQ(get.record_length, server->Dictionary().RecordLength());
  EXPECT_EQ(get.bookmark_size, server->Dictionary().BookmarkSize(1));
  EXPECT_TRUE(session.Active());
  EXPECT_TRUE(database.Active());

  // A new session timeout goes to the session, then to the database and its cursor.
  transport.ClearRecord();
  session.SetTimeout(5000);
  EXPECT_EQ(Seq(), "SessionSetTimeout DatabaseSetTimeout CursorSetTimeout");
  EXPECT_EQ(transport.requests[2].payload,
            (ObjectInt32Request{FakeTableServer::kCursorId, 5000}.Encode()));
  session.SetTimeout(5000);
  EXPECT_EQ(transport.requests.size(), 3u);

  // Closing sends CursorClose; the properties stay.
  transport.ClearRecord();
  table->Close();
  EXPECT_EQ(Seq(), "CursorClose");
  EXPECT_EQ(transport.requests[0].message_id, 0x03FFu);
  EXPECT_EQ(table->IndexFieldNames(), "KorttiLyh");
  database.Close();
  EXPECT_EQ(transport.requests.back().message_id, 0x21FFu);
}

TEST_F(CursorFixture, ChoosesTheIndexByFieldNames) {
  TnxDataDictionary d;
  d.AddField("AsNo", nxtShortString, 15);
  d.AddField("KorttiLyh", nxtShortString, 16);
  d.AddField("Maara", nxtInt32);
  auto key = std::make_unique<TnxCompKeyDescriptor>();
  auto field = std::make_unique<TnxTextKeyFieldDescriptor>();
  field->field_number = 0;
  field->ascending = false;
  key->key_fields.push_back(std::move(field));
  d.AddIndex("ixDesc", std::move(key), true);
  d.AddCompositeIndex("ixAsNoKortti", {"AsNo", "KorttiLyh"}, true);
  d.AddCompositeIndex("ixAsNo", {"AsNo"}, true);
  Serve(std::move(d));
  auto switched_to = [&]() {
    for (const auto& r : transport.requests)
      if (r.message_id == nxmsg::kCursorSwitchToIndex)
        return CursorSwitchToIndexRequest::Decode(r.payload).index_name;
    return std::string();
  };
  for (const char* names : {"AsNo", "asno"}) {
    transport.ClearRecord();
    table->SetIndexFieldNames(names);
    table->Open();
    EXPECT_EQ(switched_to(), "ixAsNo") << names;
    table->Close();
  }
  transport.ClearRecord();
  table->SetIndexFieldNames("AsNo;KorttiLyh");
  table->Open();
  EXPECT_EQ(switched_to(), "ixAsNoKortti");
  table->Close();

  table->SetIndexFieldNames("Maara");
  try {
    table->Open();
    FAIL() << "opened without an index";
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: TblAsSormi: No index for fields 'Maara' [no error code]");
  }
  EXPECT_FALSE(table->Active());
  table->SetIndexName("ixNone");
  try {
    table->Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 9997u);
  }
}

TEST_F(CursorFixture, FindByKeyFoundAndNotFound) {
  AddRow("2", "K2", 2);
  AddRow("1", "K1", 1);
  table->SetIndexFieldNames("AsNo");
  OpenTable(*table);
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "1");
  transport.ClearRecord();

  // Not found: false, no exception, the table stays on its record.
  EXPECT_FALSE(table->FindByKey({std::string("9")}));
  EXPECT_EQ(Seq(), "RecordGetForKey");
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "1");
  // The next operation puts the server cursor back on it by bookmark.
  transport.ClearRecord();
  table->Next();
  EXPECT_EQ(Seq(), "CursorSetToBookmark RecordGetNext CursorGetBookmark");
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "2");

  // Found: one RecordGetForKey with the key image, then the re-read.
  transport.ClearRecord();
  EXPECT_TRUE(table->FindByKey({std::string("1")}));
  EXPECT_EQ(Seq(), "RecordGetForKey RecordGet CursorGetBookmark");
  auto q = RecordGetForKeyRequest::Decode(transport.requests[0].payload);
  EXPECT_EQ(q.field_count, 1);
  EXPECT_EQ(q.partial_length, 0);
  EXPECT_EQ(q.first_call, 1);
  Bytes expected = server->NewRow();
  server->SetText(expected, "AsNo", "1");
  EXPECT_EQ(q.key, expected);
  EXPECT_EQ(table->FieldByName("Maara").AsInteger(), 1);

  // A table on its sequential index refuses key operations.
  table->Close();
  table->SetIndexName("Sequential Access Index");
  OpenTable(*table);
  EXPECT_THROW(table->FindByKey({std::string("1")}), EnxDatabaseError);
}

TEST_F(CursorFixture, RangesSendOnlyWhatChanges) {
  AddRow("1", "A", 1);
  AddRow("2", "B", 2);
  AddRow("3", "B", 3);
  AddRow("4", "C", 4);
  AddRow("5", "BZ", 5);
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);

  // Dropping without a range sends no range request.
  table->DropKeyRange();
  EXPECT_EQ(Seq(), "RecordGetNext CursorGetBookmark");  // the owed first row only
  transport.ClearRecord();

  table->SetRangeBounds({std::string("B")}, {std::string("B")});
  EXPECT_EQ(Seq(), "CursorSetRange CursorSetToBegin");
  auto range = CursorSetRangeRequest::Decode(transport.requests[0].payload);
  EXPECT_EQ(range.start.field_count, 1);
  EXPECT_TRUE(range.start.inclusive);
  EXPECT_EQ(range.start.key.size(), static_cast<size_t>(server->Dictionary().RecordLength()));
  EXPECT_EQ(range.start.key, range.end.key);
  EXPECT_FALSE(table->Eof());
  EXPECT_EQ(Seq(), "CursorSetRange CursorSetToBegin RecordGetNext CursorGetBookmark");
  EXPECT_EQ(Walk(*table, "AsNo"), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(table->RecordCount(), 2);
  EXPECT_TRUE(table->Eof());

  transport.ClearRecord();
  table->SetRangeBounds({std::string("B")}, {std::string("B")});
  EXPECT_TRUE(transport.requests.empty());

  // A range without records: Eof at once.
  table->SetRangeBounds({std::string("X")}, {std::string("X")});
  EXPECT_TRUE(table->Eof());
  EXPECT_TRUE(table->IsEmpty());

  // Prefix range: prefix + "\0" .. prefix + "\xFF" takes the longer keys with the prefix.
  table->SetRangeBounds({std::string("B\0", 2)}, {std::string("B\xFF")});
  EXPECT_EQ(Walk(*table, "AsNo"), (std::vector<std::string>{"5"}));

  // Range built field by field.
  table->EditRangeLow();
  table->FieldByName("KorttiLyh").SetAsString("A");
  EXPECT_THROW(table->FieldByName("Maara").SetAsInteger(1), EnxDatabaseError);
  table->EditRangeHigh();
  table->FieldByName("KorttiLyh").SetAsString("B");
  table->ApplyKeyRange();
  EXPECT_EQ(Walk(*table, "AsNo"), (std::vector<std::string>{"1", "2", "3"}));

  transport.ClearRecord();
  table->DropKeyRange();
  EXPECT_EQ(Seq(), "CursorSetToBookmark CursorResetRange RecordGet CursorGetBookmark");
  EXPECT_FALSE(table->RangeInForce());
  table->First();
  EXPECT_EQ(Walk(*table, "AsNo"), (std::vector<std::string>{"1", "2", "3", "5", "4"}));
}

TEST_F(CursorFixture, SwitchingTheIndexOnAnOpenTable) {
  AddRow("2", "A", 1);
  AddRow("1", "B", 2);
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "2");
  transport.ClearRecord();
  table->SetIndexFieldNames("AsNo");
  EXPECT_EQ(Seq(), "CursorSwitchToIndex RecordGet CursorGetBookmark");
  EXPECT_EQ(transport.requests[0].payload,
            (CursorSwitchToIndexRequest{FakeTableServer::kCursorId, "ixAsNo", -1, 1}.Encode()));
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "2");  // the active record is kept
  EXPECT_EQ(table->IndexName(), "");

  // 8706 (after the last record): sent once more without keeping the position.
  transport.ClearRecord();
  transport.Answer(nxmsg::kCursorSwitchToIndex, 8706);
  table->SetIndexFieldNames("KorttiLyh");
  EXPECT_EQ(Seq(),
            "CursorSwitchToIndex CursorSwitchToIndex RecordGet RecordGetNext "
            "CursorGetBookmark");
  EXPECT_EQ(CursorSwitchToIndexRequest::Decode(transport.requests[1].payload).keep_position, 0);
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "2");
  EXPECT_EQ(table->CurrentIndexName(), "ixKorttiLyh");
}

TEST_F(CursorFixture, FingerprintSaveAppendsWithItsBlob) {
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);
  table->Append();
  EXPECT_TRUE(transport.requests.empty());
  table->FieldByName("AsNo").SetAsString("          12345");
  table->FieldByName("KorttiLyh").SetAsString("K1");
  table->FieldByName("Maara").SetAsInteger(0);
  EXPECT_TRUE(transport.requests.empty());
  Bytes templ(1200, '\x5A');
  TMemoryStream source(templ);
  source.SetPosition(7);  // loaded from the beginning whatever the position
  table->FieldByName("Jalki").LoadFromStream(source);
  EXPECT_EQ(Seq(), "BlobCreate BlobWrite");
  EXPECT_EQ(BlobWriteRequest::Decode(transport.requests[1].payload).offset, 0);
  table->Post();
  EXPECT_EQ(Seq(),
            "BlobCreate BlobWrite CursorSetToEnd BlobRelease RecordInsert RecordGet "
            "CursorGetBookmark");
  EXPECT_EQ(BlobRequest::Decode(transport.requests[3].payload).blob, 100);
  ASSERT_EQ(server->rows.size(), 1u);
  EXPECT_EQ(server->blobs[100], templ);
  EXPECT_EQ(table->DataSetState(), TnxDataSetState::Browse);
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "          12345");

  // Saving it back: BlobGetLength and one BlobRead for the whole blob.
  transport.ClearRecord();
  TMemoryStream target;
  table->FieldByName("Jalki").SaveToStream(target);
  EXPECT_EQ(target.Data(), templ);
  EXPECT_EQ(Seq(), "BlobGetLength BlobRead");
  EXPECT_EQ(transport.requests[1].payload, (BlobReadRequest{21, 100, 0, 1200}.Encode()));
}

TEST_F(CursorFixture, BlobReadsInOneRequestUpTo61440AndNullBlobsSendNothing) {
  server->blobs[55] = Bytes(61440, 'j');
  AddRow("1", "A", 1, 55);
  AddRow("2", "B", 1);
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);
  table->First();
  TMemoryStream target;
  table->FieldByName("Jalki").SaveToStream(target);
  EXPECT_EQ(target.Data().size(), 61440u);
  transport.ClearRecord();
  table->Next();
  transport.ClearRecord();
  TMemoryStream empty;
  table->FieldByName("Jalki").SaveToStream(empty);
  EXPECT_TRUE(empty.Data().empty());
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_TRUE(table->FieldByName("Jalki").IsNull());
  // Blob streams for writing need an editing dataset.
  TMemoryStream source("x");
  EXPECT_THROW(table->FieldByName("Jalki").LoadFromStream(source), EnxDatabaseError);
}

TEST_F(CursorFixture, CachedBlobPostRunsInATransaction) {
  server->blobs[55] = "old template";
  AddRow("1", "A", 1, 55);
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);
  table->FieldByName("AsNo").AsString();
  transport.ClearRecord();
  table->Edit();
  EXPECT_EQ(Seq(), "RecordGet");
  EXPECT_EQ(RecordGetRequest::Decode(transport.requests[0].payload).lock_mode, 2);
  TMemoryStream source("new template!");
  table->FieldByName("Jalki").LoadFromStream(source);
  EXPECT_EQ(Seq(), "RecordGet");  // the cache takes the bytes
  table->Post();
  EXPECT_EQ(Seq(1),
            "TransactionLevel TransactionStart BlobWrite BlobTruncate BlobRelease "
            "RecordModify TransactionCommit RecordGet CursorGetBookmark");
  EXPECT_EQ(transport.requests[3].payload, (BlobWriteRequest{21, 55, 0, "new template!"}.Encode()));
  EXPECT_EQ(transport.requests[4].payload, (BlobTruncateRequest{21, 55, 13}.Encode()));
  EXPECT_EQ(server->blobs[55], "new template!");
}

TEST_F(CursorFixture, FailedCachedBlobPostRollsBackAndRestoresBlobNumbers) {
  AddRow("1", "A", 1);  // no blob yet
  table->SetIndexFieldNames("KorttiLyh");
  OpenTable(*table);
  table->Edit();
  TMemoryStream source("template");
  table->FieldByName("Jalki").LoadFromStream(source);
  transport.ClearRecord();
  server->fail_id = nxmsg::kRecordModify;
  server->fail_code = 10241;
  try {
    table->Post();
    FAIL() << "post succeeded";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 10241u);
    EXPECT_STREQ(e.what(), "KantaDB: TblAsSormi: Record locked by another user. [$2801/10241]");
  }
  EXPECT_EQ(Seq(),
            "TransactionLevel TransactionStart BlobCreate BlobWrite BlobTruncate "
            "BlobRelease RecordModify TransactionRollback");
  EXPECT_EQ(table->DataSetState(), TnxDataSetState::Edit);
  EXPECT_TRUE(table->FieldByName("Jalki").IsNull());  // the blob this post created is gone
  EXPECT_EQ(server->transaction_level, -1);
  // The cache survives the failure: a second post writes it again.
  server->fail_id = 0;
  table->Post();
  EXPECT_EQ(server->blobs[101], "template");
  EXPECT_FALSE(table->FieldByName("Jalki").IsNull());
}

TEST_F(CursorFixture, ReadOnlyRetryAndRequiredFields) {
  transport.Answer(nxmsg::kTableOpen, 10763);
  table->Open();
  EXPECT_EQ(Seq(), "DatabaseOpen TableOpen TableOpen CursorSwitchToIndex CursorSetToBegin");
  EXPECT_EQ(TableOpenRequest::Decode(transport.requests[1].payload).open_mode, 2);
  EXPECT_EQ(TableOpenRequest::Decode(transport.requests[2].payload).open_mode, 0);
  EXPECT_TRUE(table->ReadOnly());
  try {
    table->Append();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: TblAsSormi: Cannot modify a read-only dataset [no error code]");
  }
  EXPECT_THROW(table->Edit(), EnxDatabaseError);
  try {
    table->SetReadOnly(false);
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: TblAsSormi: Cannot perform this operation on an open "
                 "dataset [no error code]");
  }
  table->Close();

  // A read-only refusal of a table that was already read-only is raised.
  transport.Answer(nxmsg::kTableOpen, 10763);
  EXPECT_THROW(table->Open(), EnxDatabaseError);
  EXPECT_FALSE(table->Active());

  table->SetReadOnly(false);
  OpenTable(*table);
  EXPECT_THROW(table->FieldByName("Maara").SetAsInteger(1), EnxDatabaseError);
  table->Append();
  transport.ClearRecord();
  table->FieldByName("Maara").SetAsInteger(1);
  try {
    table->Post();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: TblAsSormi: Field 'AsNo' must have a value [no error code]");
  }
  EXPECT_TRUE(transport.requests.empty());
  EXPECT_EQ(table->DataSetState(), TnxDataSetState::Insert);
  EXPECT_EQ(table->FieldByName("Maara").AsInteger(), 1);
  table->Cancel();
  EXPECT_EQ(table->DataSetState(), TnxDataSetState::Browse);
  EXPECT_TRUE(server->rows.empty());
}

TEST_F(CursorFixture, DeclaredFieldsAreBoundByNameAndKind) {
  table->DeclareField("AsNo", DatasetFieldKind::String);
  table->DeclareField("Maara", DatasetFieldKind::Integer);
  table->DeclareField("Aika", DatasetFieldKind::DateTime);
  table->DeclareField("Jalki", DatasetFieldKind::Blob);
  table->Open();
  EXPECT_EQ(table->FieldByName("AsNo").Size(), 15);
  table->Close();
  auto bad = MakeTable("TblBad", "ASSORMI");
  bad->DeclareField("Nimi", DatasetFieldKind::String);
  try {
    bad->Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: TblBad: Field 'Nimi' not found [no error code]");
  }
  auto mismatch = MakeTable("TblBad2", "ASSORMI");
  mismatch->DeclareField("Maara", DatasetFieldKind::String);
  try {
    mismatch->Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: TblBad2: Type mismatch for field 'Maara', expecting: "
                 "String actual: Integer [no error code]");
  }
}

TEST_F(CursorFixture, MasterAndDetail) {
  AddRow("1", "A", 10);
  AddRow("2", "B", 20);
  AddRow("2", "C", 21);
  auto master = MakeTable("TblMaster", "ASSORMI");
  master->SetIndexFieldNames("KorttiLyh");
  table->SetIndexFieldNames("AsNo");
  table->SetMasterSource(master.get());
  table->SetMasterFields("AsNo");
  master->Open();
  table->Open();
  EXPECT_EQ(Walk(*table, "Maara"), (std::vector<std::string>{"10"}));
  master->Next();
  table->First();
  EXPECT_EQ(Walk(*table, "Maara"), (std::vector<std::string>{"20", "21"}));
  // A new detail record gets the master's value.
  table->Append();
  EXPECT_EQ(table->FieldByName("AsNo").AsString(), "2");
  table->Cancel();
  // The master closing drops the detail's range.
  master->Close();
  EXPECT_FALSE(table->RangeInForce());
  // Circular links are refused.
  try {
    master->SetMasterSource(table.get());
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: TblMaster: Circular data link with data source "
                 "[TblAsSormi] [no error code]");
  }
  table->SetMasterSource(nullptr);
}

TEST_F(CursorFixture, ErrorsOnTheSendingComponent) {
  AddRow("1", "A", 1);
  OpenTable(*table);
  transport.lost = true;
  try {
    table->First();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: TblAsSormi: Lost communication with network server. [$2C0C/11276]");
  }
  EXPECT_TRUE(table->Active());
  EXPECT_NO_THROW(table->Close());
  EXPECT_NO_THROW(database.Close());
  transport.lost = false;

  TnxDatabase orphan("nxOrphan");
  try {
    orphan.Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: nxOrphan: No owning session [no error code]");
  }
  orphan.SetSession(&session);
  try {
    orphan.Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: nxOrphan: AliasName or AliasPath must be specified [no error code]");
  }
  orphan.SetAliasPath("  C:  ");
  EXPECT_EQ(orphan.AliasPath(), "C:\\");
  orphan.SetAliasPath(" D:\\data\\ ");
  EXPECT_EQ(orphan.AliasPath(), "D:\\data");
  orphan.SetAliasName("  Vantera ");
  EXPECT_EQ(orphan.AliasName(), "Vantera");
  EXPECT_EQ(orphan.AliasPath(), "");

  TnxSession lonely("nxLonely");
  try {
    lonely.Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: nxLonely: The session is not connected to a server "
                 "engine. [$3C69/15465]");
  }
}

TEST(SessionLogin, RefusedLoginBeepsOnceAndRaises) {
  RecordingTransport transport;
  TnxRemoteServerEngine engine;
  TnxSession session("nxSession");
  engine.SetTransport(&transport);
  session.SetServerEngine(&engine);
  int beeps = 0;
  nxSetBeepHandler([&] { ++beeps; });
  transport.login_result = 10036;
  try {
    session.Open();
    FAIL();
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: nxSession: Unknown user name or password. [$2734/10036]");
  }
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(transport.logins.size(), 1u);
  EXPECT_FALSE(session.Active());

  // With a handler that supplies new credentials, the login is retried.
  int asked = 0;
  session.OnLogin = [&](TnxSession&, std::string& user, std::string& password) {
    ++asked;
    user = "admin";
    password = "secret";
    transport.login_result = asked < 2 ? 10036 : 0;
    return true;
  };
  session.Open();
  EXPECT_TRUE(session.Active());
  EXPECT_EQ(transport.logins.back(), "admin/secret");
  nxSetBeepHandler(nullptr);
}

}  // namespace
}  // namespace vantera
