// The table cursor operations against the server's own database engine, on each storage
// (a SQLite data folder and a schema of a private PostgreSQL cluster), reached through an
// in-process transport.
#include <gtest/gtest.h>

#include <tuple>

#include "dbclient/nxdb.h"
#include "protocol/nxllException.h"
#include "tests/dbclient/cursor_checks.h"
#include "tests/dbclient/engine_transport.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera {
namespace {

using testing::EngineTransport;
using testing::TempFolder;

class CursorOnEngine : public ::testing::TestWithParam<std::tuple<StorageKind, TnxFieldType>> {
 protected:
  testing::TestStorage storage{std::get<0>(GetParam())};
  bool prepared = Prepare();
  ServerEngine server{storage.Options(std::get<1>(GetParam()))};
  EngineTransport transport{server};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};

  bool Prepare() {
    if (storage.available())
      storage.Prepare(std::get<1>(GetParam()));
    return storage.available();
  }

  void SetUp() override {
    VANTERA_SKIP_UNAVAILABLE(storage);
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
  }

  std::unique_ptr<TnxTable> Table(const char* name, const char* table, const char* index = "") {
    return testing::CursorTable(database, name, table, index);
  }
};

TEST_P(CursorOnEngine, IndexOrderRangesAndKeyLookup) {
  testing::CheckIndexOrderRangesAndKeyLookup(database);
}

TEST_P(CursorOnEngine, MasterAndDetailOnAsiakasAndKortti) {
  testing::CheckMasterAndDetailOnAsiakasAndKortti(database);
}

TEST_P(CursorOnEngine, AppendWithRequiredFieldsAndBlobsRoundTripped) {
  testing::CheckAppendWithRequiredFieldsAndBlobs(database);
}

TEST_P(CursorOnEngine, LostConnectionGives11276AndTheCursorStaysOpen) {
  testing::CheckLostConnection(database, session, [this] { transport.lost = true; });
}

TEST_P(CursorOnEngine, LocateOnTheIndexOrThroughASecondCursor) {
  auto sormi = Table("TblAsSormi", "ASSORMI", "KorttiLyh");
  sormi->Open();
  testing::AddFingerprint(*sormi, "              3", "K3", 30);
  testing::AddFingerprint(*sormi, "              1", "K1", 10);
  testing::AddFingerprint(*sormi, "              2", "K2", 20);
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

INSTANTIATE_TEST_SUITE_P(StorageAndStringTypes, CursorOnEngine,
                         ::testing::Combine(::testing::ValuesIn(testing::StorageKinds()),
                                            ::testing::Values(nxtShortString, nxtNullString)),
                         [](const auto& p) {
                           return testing::StorageName(std::get<0>(p.param)) +
                                  (std::get<1>(p.param) == nxtShortString ? "ShortString"
                                                                          : "NullString");
                         });

}  // namespace
}  // namespace vantera
