// The table cursor operations against the server's own database engine (SQLite storage),
// reached through an in-process transport.
#include <gtest/gtest.h>

#include "dbclient/nxdb.h"
#include "dbconn/nxllException.h"
#include "tests/dbclient/engine_transport.h"
#include "tests/server/engine_test_support.h"

namespace vantera {
namespace {

using testing::EngineTransport;
using testing::TempFolder;

class CursorOnEngine : public ::testing::TestWithParam<TnxFieldType> {
 protected:
  TempFolder folder;
  FolderReport prepared = PrepareDataFolder(folder.path(), GetParam());
  ServerEngine server{testing::OptionsFor(folder.path(), GetParam())};
  EngineTransport transport{server};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};

  void SetUp() override {
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
  }

  std::unique_ptr<TnxTable> Table(const char* name, const char* table, const char* index = "") {
    auto t = std::make_unique<TnxTable>(name);
    t->SetDatabase(&database);
    t->SetTableName(table);
    if (*index)
      t->SetIndexFieldNames(index);
    return t;
  }

  void AddFingerprint(TnxTable& t, const std::string& as_no, const std::string& kortti,
                      int32_t maara, const Bytes& templ = {}) {
    t.Append();
    t.FieldByName("AsNo").SetAsString(as_no);
    t.FieldByName("KorttiLyh").SetAsString(kortti);
    t.FieldByName("Maara").SetAsInteger(maara);
    if (!templ.empty()) {
      TMemoryStream s(templ);
      t.FieldByName("Jalki").LoadFromStream(s);
    }
    t.Post();
  }

  static std::vector<std::string> Walk(TnxTable& t, const char* field) {
    std::vector<std::string> out;
    for (int guard = 0; !t.Eof() && guard < 1000; ++guard) {
      out.push_back(t.FieldByName(field).AsString());
      t.Next();
    }
    return out;
  }
};

TEST_P(CursorOnEngine, IndexOrderRangesAndKeyLookup) {
  auto sormi = Table("TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  EXPECT_TRUE(sormi->Eof());
  AddFingerprint(*sormi, "              3", "K2", 1);
  AddFingerprint(*sormi, "              1", "K1", 2);
  AddFingerprint(*sormi, "              2", "K2", 3);
  AddFingerprint(*sormi, "              4", "K3", 4);
  AddFingerprint(*sormi, "              5", "K22", 5);
  sormi->First();
  EXPECT_EQ(Walk(*sormi, "Maara"), (std::vector<std::string>{"2", "1", "3", "5", "4"}));

  sormi->SetRangeBounds({std::string("K2")}, {std::string("K2")});
  EXPECT_EQ(Walk(*sormi, "Maara"), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(sormi->RecordCount(), 2);
  sormi->SetRangeBounds({std::string("K9")}, {std::string("K9")});
  EXPECT_TRUE(sormi->Eof());
  sormi->SetRangeBounds({std::string("K2\0", 3)}, {std::string("K2\xFF")});
  EXPECT_EQ(Walk(*sormi, "Maara"), (std::vector<std::string>{"1", "3", "5"}));
  sormi->DropKeyRange();
  sormi->First();
  EXPECT_EQ(Walk(*sormi, "Maara").size(), 5u);

  // Switching to "asno" keeps the active record and orders by AsNo.
  sormi->First();
  sormi->Next();  // Maara 1 (AsNo 3)
  sormi->SetIndexFieldNames("asno");
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 1);
  EXPECT_EQ(sormi->CurrentIndexName(), "ixAsNo");
  sormi->First();
  EXPECT_EQ(Walk(*sormi, "Maara"), (std::vector<std::string>{"2", "3", "1", "4", "5"}));

  EXPECT_TRUE(sormi->FindByKey({std::string("              4")}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  EXPECT_FALSE(sormi->FindByKey({std::string("              9")}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  sormi->Next();
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 5);

  // Edit and post rewrite the record; delete removes it.
  sormi->Edit();
  sormi->FieldByName("Maara").SetAsInteger(55);
  sormi->Post();
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 55);
  sormi->Delete();
  EXPECT_EQ(sormi->RecordCount(), 4);
}

TEST_P(CursorOnEngine, MasterAndDetailOnAsiakasAndKortti) {
  auto asiakas = Table("TblAsiakas", "ASIAKAS", "AsNo");
  auto kortti = Table("TblKortti", "KORTTI", "AsNo");
  asiakas->Open();
  kortti->Open();
  for (const char* no : {"          12345", "          12346"}) {
    asiakas->Append();
    asiakas->FieldByName("AsNo").SetAsString(no);
    asiakas->FieldByName("AsNimi").SetAsString(std::string("Asiakas ") + no);
    asiakas->Post();
  }
  int n = 0;
  for (const char* no : {"          12345", "          12346", "          12345"}) {
    kortti->Append();
    kortti->FieldByName("KorttiNro").SetAsString("100000000000000" + std::to_string(n));
    kortti->FieldByName("KorttiLyh").SetAsString("L" + std::to_string(n++));
    kortti->FieldByName("AsNo").SetAsString(no);
    kortti->Post();
  }
  kortti->Close();

  auto master = Table("TblMaster", "ASIAKAS", "AsNo");
  auto detail = Table("TblDetail", "KORTTI", "AsNo");
  detail->SetMasterSource(master.get());
  detail->SetMasterFields("AsNo");
  master->Open();
  detail->Open();
  EXPECT_EQ(master->FieldByName("AsNo").AsString(), "          12345");
  EXPECT_EQ(Walk(*detail, "KorttiLyh"), (std::vector<std::string>{"L0", "L2"}));
  master->Next();
  EXPECT_EQ(Walk(*detail, "KorttiLyh"), (std::vector<std::string>{"L1"}));
  detail->Append();
  EXPECT_EQ(detail->FieldByName("AsNo").AsString(), "          12346");
  detail->Cancel();
  master->Close();
  EXPECT_FALSE(detail->RangeInForce());
  detail->First();
  EXPECT_EQ(Walk(*detail, "KorttiLyh").size(), 3u);
}

TEST_P(CursorOnEngine, AppendWithRequiredFieldsAndBlobsRoundTripped) {
  auto sormi = Table("TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  sormi->Append();
  sormi->FieldByName("KorttiLyh").SetAsString("K1");
  EXPECT_THROW(sormi->Post(), EnxDatabaseError);
  EXPECT_EQ(sormi->DataSetState(), TnxDataSetState::Insert);
  sormi->Cancel();
  EXPECT_EQ(sormi->RecordCount(), 0);

  Bytes small(1000, 'a');
  Bytes large(700000, '\0');
  for (size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 7);
  AddFingerprint(*sormi, "              1", "K1", 1, small);
  AddFingerprint(*sormi, "              2", "K2", 2, large);
  AddFingerprint(*sormi, "              3", "K3", 3);
  sormi->First();
  for (const Bytes* expected : {&small, &large}) {
    TMemoryStream out;
    sormi->FieldByName("Jalki").SaveToStream(out);
    EXPECT_EQ(out.Data(), *expected);
    sormi->Next();
  }
  TMemoryStream none;
  sormi->FieldByName("Jalki").SaveToStream(none);
  EXPECT_TRUE(none.Data().empty());

  // Rewriting a blob of an edited record goes through its cache and a transaction.
  sormi->First();
  sormi->Edit();
  TMemoryStream replacement("shorter");
  sormi->FieldByName("Jalki").LoadFromStream(replacement);
  sormi->Post();
  TMemoryStream back;
  sormi->FieldByName("Jalki").SaveToStream(back);
  EXPECT_EQ(back.Data(), "shorter");
}

TEST_P(CursorOnEngine, LostConnectionGives11276AndTheCursorStaysOpen) {
  auto sormi = Table("TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  AddFingerprint(*sormi, "              1", "K1", 1);
  transport.lost = true;
  try {
    sormi->First();
    sormi->FieldByName("Maara").AsInteger();
    FAIL() << "no error on a lost connection";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 11276u);
  }
  EXPECT_TRUE(sormi->Active());
  EXPECT_NO_THROW(sormi->Close());
  EXPECT_NO_THROW(session.Close());
}

TEST_P(CursorOnEngine, LocateOnTheIndexOrThroughASecondCursor) {
  auto sormi = Table("TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  AddFingerprint(*sormi, "              3", "K3", 30);
  AddFingerprint(*sormi, "              1", "K1", 10);
  AddFingerprint(*sormi, "              2", "K2", 20);
  uint64_t before = transport.requests;
  EXPECT_TRUE(sormi->Locate("KorttiLyh", {std::string("K2")}));
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 20);
  EXPECT_EQ(transport.requests - before, 3u);  // RecordGetForKey, RecordGet, CursorGetBookmark
  EXPECT_FALSE(sormi->Locate("KorttiLyh", {std::string("K9")}));
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 20);
  // AsNo is not the current index: a second cursor on ixAsNo finds it, the table follows.
  EXPECT_TRUE(sormi->Locate("AsNo", {std::string("              1")}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K1");
  sormi->Next();
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K2");  // still in KorttiLyh order
  before = transport.requests;
  EXPECT_TRUE(sormi->Locate("AsNo", {std::string("              3")}));
  // The second cursor is kept: RecordGetForKey, CursorSetToCursor, RecordGet, bookmark.
  EXPECT_EQ(transport.requests - before, 4u);
  // No index on Maara: the server scans in KorttiLyh order for the value.
  before = transport.requests;
  EXPECT_TRUE(sormi->Locate("Maara", {int64_t{20}}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K2");
  EXPECT_EQ(transport.requests - before, 3u);  // CursorLocate, RecordGet, CursorGetBookmark
  sormi->Next();
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  EXPECT_FALSE(sormi->Locate("Maara", {int64_t{99}}));
  EXPECT_EQ(sormi->FieldByName("KorttiLyh").AsString(), "K3");
  // Case-insensitive, partial, on a text field whose index is case-sensitive.
  EXPECT_TRUE(sormi->Locate("KorttiLyh", {std::string("k1")}, true, true));
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 10);
  EXPECT_FALSE(sormi->Locate("KorttiLyh", {std::string("k1")}, false, true));
  EXPECT_EQ(sormi->FieldByName("Maara").AsInteger(), 10);
}

INSTANTIATE_TEST_SUITE_P(StringTypes, CursorOnEngine,
                         ::testing::Values(nxtShortString, nxtNullString));

}  // namespace
}  // namespace vantera
