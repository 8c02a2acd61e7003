// kantadb-server on a full disk: a client's save fails with 9218 "Write failure.", the
// server's log says "disk full" with the folder, and the first save after space is freed
// works.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "protocol/nxRequests.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/remote_client.h"
#include "tests/server/server_process.h"
#include "tests/server/small_disk.h"

namespace vantera::testing {
namespace {

TEST(FullDiskServer, ASaveFailsAsAWriteTheLogSaysDiskFullAndTheNextSaveWorks) {
  TempFolder root;
  SmallDisk disk(root.path(), "3m");
  if (!disk.ok())
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  const std::string data = root.Sub("tarvola");
  ServerProcess server({"--data", data, "--no-discovery"});
  RemoteClient client(server.Port());
  DatabaseOpenRequest open;
  open.keyword = "Name";
  open.alias = "Tarvola";
  open.timeout = 5000;
  EngineReply db = client.Call(nxmsg::kDatabaseOpen, open.Encode());
  ASSERT_EQ(db.code, 0u);
  TableOpenRequest topen;
  topen.database_id = DecodeInt32Reply(db.data);
  topen.table_name = "ASSORMI";
  topen.timeout = 5000;
  EngineReply t = client.Call(nxmsg::kTableOpen, topen.Encode());
  ASSERT_EQ(t.code, 0u);
  TableOpenReply table = TableOpenReply::Decode(t.data);
  TnxDataDictionary dict;
  dict.ReadFromBytes(table.dictionary);
  const int32_t cursor = table.cursor_id;
  // One save as the workstation makes it; the first failing code, or 0.
  auto save = [&](const std::string& card) -> uint32_t {
    EngineReply blob = client.Call(nxmsg::kBlobCreate, ObjectRequest{cursor}.Encode());
    if (blob.code != 0)
      return blob.code;
    int64_t number = DecodeInt64Reply(blob.data);
    BlobWriteRequest w{cursor, number, 0, Bytes(256 * 1024, 'J')};
    EngineReply written = client.Call(nxmsg::kBlobWrite, w.Encode());
    if (written.code != 0)
      return written.code;
    Bytes rec = dict.NewRecord();
    SetText(dict, &rec, "AsNo", "           1001");
    SetText(dict, &rec, "KorttiLyh", card);
    SetInt64(dict, &rec, "Jalki", number);
    RecordWriteRequest insert;
    insert.cursor_id = cursor;
    insert.record = rec;
    return client.Call(nxmsg::kRecordInsert, insert.Encode(nxmsg::kRecordInsert)).code;
  };
  ASSERT_EQ(save("K1"), 0u);
  std::string filler = disk.Fill();
  EXPECT_EQ(save("K2"), 9218u);
  EXPECT_EQ(save("K3"), 9218u);
  EXPECT_TRUE(server.WaitForLog("disk full: data folder " + data)) << server.Log();
  EXPECT_EQ(server.CountInLog("disk full"), 1) << server.Log();
  std::remove(filler.c_str());
  EXPECT_EQ(save("K4"), 0u);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace vantera::testing
