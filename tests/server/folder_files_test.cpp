// The files of a data folder: an empty database file is refused rather than taken as a new
// database, and a full disk is a write failure that the server logs with the folder, after
// which writes work again once there is space.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "server/engine/sqlite_store.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/small_disk.h"

namespace vantera::testing {
namespace {

std::pair<uint32_t, std::string> ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EnxBaseException& e) {
    return {e.ErrorCode(), e.BareText()};
  }
  return {0, ""};
}

TEST(DatabaseFile, AnEmptyFileIsRefusedAndOnlyAMissingOneIsNew) {
  TempFolder folder;
  const std::string file = SqliteStore::FileName(folder.path());
  std::fclose(std::fopen(file.c_str(), "w"));
  auto [code, text] = ErrorOf([&] { PrepareDataFolder(folder.path(), nxtShortString); });
  EXPECT_EQ(code, 8962u);
  EXPECT_NE(text.find(file), std::string::npos) << text;
  EXPECT_NE(text.find("empty (0 bytes)"), std::string::npos) << text;
  // Read-only opens and the engine's database open refuse it the same way.
  EXPECT_EQ(ErrorOf([&] { SqliteStore s(folder.path(), true); }).first, 8962u);
  {
    ServerEngine engine(OptionsFor(folder.path()));
    TestClient client(engine, 1);
    EXPECT_EQ(client.OpenDatabase(), 0);
    EXPECT_EQ(client.last_code, 8962u);
  }
  // Nothing was written into it.
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  EXPECT_EQ(in.tellg(), 0);
  // A missing file is a new database with the workstation's tables, and opens again.
  std::remove(file.c_str());
  FolderReport r = PrepareDataFolder(folder.path(), nxtShortString);
  EXPECT_TRUE(r.created_tables);
  EXPECT_FALSE(PrepareDataFolder(folder.path(), nxtShortString).created_tables);
}

TEST(DatabaseFile, AFullDiskIsAWriteFailureLoggedWithTheFolderAndWritesResumeAfter) {
  TempFolder root;
  const std::string folder = root.Sub("kanta");
  SmallDisk disk(root.path(), "3m");
  if (!disk.ok())
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  std::vector<std::string> log;
  SetStoreFailureLog([&log](const std::string& line) { log.push_back(line); });
  PrepareDataFolder(folder, nxtShortString);
  {
    ServerEngine engine(OptionsFor(folder));
    TestClient client(engine, 1);
    int32_t db = client.OpenDatabase();
    ASSERT_NE(db, 0);
    OpenCursor s = client.OpenTable(db, "ASSORMI");
    ASSERT_NE(s.id, 0);
    auto save = [&](const std::string& card, size_t template_size) -> uint32_t {
      EngineReply created = client.Call(nxmsg::kBlobCreate, ObjectRequest{s.id}.Encode());
      if (created.code != 0)
        return created.code;
      int64_t blob = DecodeInt64Reply(created.data);
      BlobWriteRequest w{s.id, blob, 0, Bytes(template_size, 'T')};
      EngineReply written = client.Call(nxmsg::kBlobWrite, w.Encode());
      if (written.code != 0)
        return written.code;
      Bytes rec = s.dict->NewRecord();
      SetText(*s.dict, &rec, "AsNo", "1001");
      SetText(*s.dict, &rec, "KorttiLyh", card);
      SetInt64(*s.dict, &rec, "Jalki", blob);
      return client.Insert(s, rec);
    };
    ASSERT_EQ(save("A", 1000), 0u);
    std::string filler = disk.Fill();
    // Saves fail as writes, whichever step meets the full disk first.
    std::vector<uint32_t> codes;
    for (int i = 0; i < 3; ++i)
      codes.push_back(save("B", 256 * 1024));
    for (uint32_t c : codes)
      EXPECT_EQ(c, 9218u);  // Write failure.
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log[0].find("disk full"), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(folder), std::string::npos) << log[0];
    EXPECT_EQ(log.size(), 1u);  // once, not per failing statement
    // Reads still work, and see only the first record.
    EXPECT_EQ(client.Count(s), 1);
    // With space again the next save works.
    std::remove(filler.c_str());
    EXPECT_EQ(save("C", 256 * 1024), 0u);
    EXPECT_EQ(client.Count(s), 2);
  }
  SetStoreFailureLog(nullptr);
}

}  // namespace
}  // namespace vantera::testing
