// Storage failures reach the client as codes and leave nothing half-done behind: injected
// SQLITE_BUSY and write failures, and a real second writer holding the folder.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <utility>

#include "tests/server/engine_test_support.h"

namespace vantera::testing {
namespace {

// Lets `allowed` writing statements run, then fails every further one with `code`.
class FailAfter : public StoreFaults {
 public:
  int BeforeWrite() override {
    if (allowed < 0)
      return SQLITE_OK;
    if (allowed == 0)
      return code;
    --allowed;
    return SQLITE_OK;
  }
  int allowed = -1;  // -1: never fail
  int code = SQLITE_IOERR;
};

class StoreFaultsTest : public ::testing::Test {
 protected:
  StoreFaultsTest() : engine_(OptionsFor(folder_.path()), &faults_), client_(engine_, 1) {
    PrepareDataFolder(folder_.path(), nxtShortString);
    db_ = client_.OpenDatabase();
    s_ = client_.OpenTable(db_, "ASSORMI");
  }
  Bytes Record(const std::string& card, int64_t blob = 0) {
    Bytes rec = s_.dict->NewRecord();
    SetText(*s_.dict, &rec, "AsNo", "1");
    SetText(*s_.dict, &rec, "KorttiLyh", card);
    if (blob)
      SetInt64(*s_.dict, &rec, "Jalki", blob);
    return rec;
  }
  TempFolder folder_;
  FailAfter faults_;
  ServerEngine engine_;
  TestClient client_;
  int32_t db_ = 0;
  OpenCursor s_;
};

// A data folder that cannot be made says why; a missing parent is the alias error.
TEST(DataFolder, FoldersThatCannotBeMadeGiveClearErrors) {
  TempFolder root;
  const std::string file = root.path() + "/tiedosto";
  std::fclose(std::fopen(file.c_str(), "w"));
  auto error_of = [](const std::string& folder) -> std::pair<uint32_t, std::string> {
    try {
      PrepareDataFolder(folder, nxtShortString);
    } catch (const EnxBaseException& e) {
      return {e.ErrorCode(), e.BareText()};
    }
    return {0, ""};
  };
  EXPECT_EQ(error_of(root.path() + "/puuttuu/kanta"),
            std::make_pair(10018u, std::string("The alias references a directory that does not "
                                               "exist.")));
  EXPECT_EQ(error_of(file), std::make_pair(10018u, "The data folder " + file + " is not a folder"));
  EXPECT_EQ(
      error_of(file + "/kanta"),
      std::make_pair(10018u, "Cannot create the data folder " + file + "/kanta: Not a directory"));
  // A new folder is made with the tables in it.
  EXPECT_EQ(error_of(root.path() + "/uusi"), std::make_pair(0u, std::string()));
}

TEST_F(StoreFaultsTest, EveryFailingWriteOfAnInsertLeavesNothingBehind) {
  int64_t blob =
      DecodeInt64Reply(client_.Call(nxmsg::kBlobCreate, ObjectRequest{s_.id}.Encode()).data);
  // An insert with a blob takes several writing statements (BEGIN, row number, insert,
  // blob owner, COMMIT); fail each of them in turn.
  int failures_seen = 0;
  for (int allowed = 0; allowed < 12; ++allowed) {
    faults_.allowed = allowed;
    uint32_t code = client_.Insert(s_, Record("K", blob));
    faults_.allowed = -1;
    if (code == 0)
      break;
    ++failures_seen;
    EXPECT_EQ(code, 9218u) << allowed;  // Write failure.
    EXPECT_EQ(client_.Count(s_), 0) << allowed;
    // The blob is still free for the next try.
    EXPECT_EQ(client_.Call(nxmsg::kBlobRelease, BlobRequest{s_.id, blob}.Encode()).code, 0u);
  }
  EXPECT_GE(failures_seen, 4);
  EXPECT_EQ(client_.Count(s_), 1);
  // SQLITE_BUSY reads as a lock time-out.
  faults_.allowed = 0;
  faults_.code = SQLITE_BUSY;
  EXPECT_EQ(client_.Insert(s_, Record("L")), 10249u);
  faults_.allowed = -1;
  EXPECT_EQ(client_.Count(s_), 1);
}

TEST_F(StoreFaultsTest, FailureInsideAClientTransactionKeepsTheTransaction) {
  ASSERT_EQ(
      client_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_, 0, 0}.Encode()).code, 0u);
  ASSERT_EQ(client_.Insert(s_, Record("A")), 0u);
  faults_.allowed = 1;  // the savepoint runs, the row number update fails
  EXPECT_EQ(client_.Insert(s_, Record("B")), 9218u);
  faults_.allowed = -1;
  EXPECT_EQ(client_.Count(s_), 1);
  ASSERT_EQ(client_.Simple(nxmsg::kTransactionCommit, db_), 0u);
  EXPECT_EQ(client_.Count(s_), 1);
}

TEST_F(StoreFaultsTest, ASecondWriterWaitsForTheTimeoutThenGetsLockTimeOut) {
  TestClient other(engine_, 2);
  int32_t db2 = other.OpenDatabase();
  OpenCursor s2 = other.OpenTable(db2, "ASSORMI");
  ObjectInt32Request short_wait{s2.id, 50};
  ASSERT_EQ(other.Call(nxmsg::kCursorSetTimeout, short_wait.Encode()).code, 0u);
  ASSERT_EQ(
      client_.Call(nxmsg::kTransactionStart, TransactionStartRequest{db_, 0, 0}.Encode()).code, 0u);
  ASSERT_EQ(client_.Insert(s_, Record("A")), 0u);
  EXPECT_EQ(other.Insert(s2, Record("B")), 10249u);
  // Readers are not held up, and do not see the uncommitted record.
  EXPECT_EQ(other.Count(s2), 0);
  ASSERT_EQ(client_.Simple(nxmsg::kTransactionCommit, db_), 0u);
  EXPECT_EQ(other.Insert(s2, Record("B")), 0u);
  EXPECT_EQ(other.Count(s2), 2);
}

}  // namespace
}  // namespace vantera::testing
