// kantadb-server copy: a data folder moved into a PostgreSQL schema arrives whole (every
// record with its row number and sort keys, every blob with its number and bytes, the
// counters), and a target that has tables already is refused untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

#include "server/engine/demo_data.h"
#include "server/engine/local_table.h"
#include "server/engine/pg_store.h"
#include "server/engine/sqlite_store.h"
#include "server/engine/storage_copy.h"
#include "server/engine/table_csv.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

namespace vantera::testing {
namespace {

// Every record of index 0 as "row:key:image", in order.
std::string AllRecords(Storage& s, int64_t table, int index_count) {
  std::string out;
  std::optional<IndexPlace> place;
  while (auto f = s.Step(table, 0, {}, {}, place ? &*place : nullptr, true)) {
    out += std::to_string(f->row) + ":" + f->key + ":" + f->image;
    for (int i = 1; i < index_count; ++i)
      out += ":" + s.RowKey(table, i, f->row).value_or("?");
    out += "\n";
    place = IndexPlace{f->key, f->row};
  }
  return out;
}

std::string AllBlobs(Storage& s, int64_t table) {
  std::string out;
  for (const StoredBlob& b : s.BlobsOf(table)) {
    int64_t total = 0;
    out += std::to_string(b.id) + "/" + std::to_string(b.owner_row) + "=" +
           s.ReadBlob(table, b.id, 0, 1 << 30, &total).value_or("?") + "\n";
  }
  return out;
}

TEST(StorageCopy, ADataFolderArrivesWholeInAnEmptySchemaOnly) {
  TestStorage target(StorageKind::kPostgresql);
  VANTERA_SKIP_UNAVAILABLE(target);
  TempFolder folder;
  PrepareDataFolder(folder.path(), nxtShortString);
  ASSERT_GT(FillDemoData(folder.path()), 0);
  {
    LocalTable t(folder.path(), "ASSORMI", true);
    t.Begin();
    for (int i = 0; i < 3; ++i) {
      Bytes rec = t.NewRecord();
      SetText(t.dict(), &rec, "AsNo", "           1001");
      SetText(t.dict(), &rec, "KorttiLyh", "639000001001000" + std::to_string(i));
      SetInt32(t.dict(), &rec, "Maara", i + 1);
      // Over a chunk's end, so that a blob of several chunks is copied too.
      SetInt64(t.dict(), &rec, "Jalki",
               t.CreateBlob(std::string(70000 + i, static_cast<char>('a' + i))));
      t.Insert(rec);
    }
    t.Commit();
  }
  int64_t top_blob = 0;
  {  // a blob no record took, and row numbers that are not only the rows there
    SqliteStore s(folder.path(), false);
    Storage::Write w(s);
    int64_t assormi = s.FindTable("ASSORMI")->id;
    s.WriteBlob(assormi, s.CreateBlob(assormi), 0, "kesken");
    s.SetCounters(assormi, {s.Counters(assormi).next_row + 5, 9});
    // The highest blob number handed out belongs to a blob deleted since.
    top_blob = s.CreateBlob(assormi);
    s.WriteBlob(assormi, top_blob, 0, "poistettu");
    s.DeleteBlob(assormi, top_blob);
    w.Commit();
  }

  std::ostringstream out, err;
  ASSERT_EQ(RunCopyCommand({"copy", "--from", "sqlite:" + folder.path(), "--to",
                            "postgresql:" + target.conninfo()},
                           out, err),
            0)
      << err.str();
  EXPECT_NE(out.str().find("ASSORMI: 3 records, 4 blobs"), std::string::npos) << out.str();

  SqliteStore from(folder.path(), true);
  PgStore to({target.conninfo(), ""}, "tarvola", true);
  ASSERT_EQ(to.TableNames(), from.TableNames());
  for (const std::string& name : from.TableNames()) {
    SCOPED_TRACE(name);
    StoredTable a = *from.FindTable(name);
    StoredTable b = *to.FindTable(name);
    EXPECT_EQ(b.dictionary, a.dictionary);
    EXPECT_EQ(AllRecords(to, b.id, b.index_count), AllRecords(from, a.id, a.index_count));
    EXPECT_EQ(AllBlobs(to, b.id), AllBlobs(from, a.id));
    EXPECT_EQ(to.Counters(b.id).next_row, from.Counters(a.id).next_row);
    EXPECT_EQ(to.Counters(b.id).next_autoinc, from.Counters(a.id).next_autoinc);
  }
  // The blob counter goes on after the deleted top blob, not after the highest copied one.
  EXPECT_EQ(from.NextBlob(), top_blob + 1);
  EXPECT_EQ(to.NextBlob(), top_blob + 1);
  int64_t highest_copied = 0;
  for (const std::string& name : to.TableNames())
    for (const StoredBlob& b : to.BlobsOf(to.FindTable(name)->id))
      highest_copied = std::max(highest_copied, b.id);
  EXPECT_LT(highest_copied, top_blob);
  {
    PgStore writer({target.conninfo(), ""}, "tarvola", false);
    int64_t assormi = writer.FindTable("ASSORMI")->id;
    Storage::Write w(writer);
    EXPECT_EQ(writer.CreateBlob(assormi), top_blob + 1);
  }  // not committed
  std::ostringstream csv_from, csv_to;
  ExportCsv(folder.path(), "ASIAKAS", csv_from);
  ExportCsv(target.Options(), "tarvola", "ASIAKAS", csv_to);
  EXPECT_EQ(csv_to.str(), csv_from.str());

  // Once more into the same schema: refused, nothing added.
  std::ostringstream out2, err2;
  EXPECT_EQ(RunCopyCommand({"copy", "--from", "sqlite:" + folder.path(), "--to",
                            "postgresql:" + target.conninfo()},
                           out2, err2),
            1);
  EXPECT_EQ(to.Count(to.FindTable("ASSORMI")->id, 0, {}, {}), 3);
  // A password on the command line, or a wrong shape, is a wrong command line.
  EXPECT_EQ(RunCopyCommand({"copy", "--from", "sqlite:" + folder.path(), "--to",
                            "postgresql:" + target.conninfo() + " password=salainen"},
                           out2, err2),
            2);
  EXPECT_EQ(RunCopyCommand({"copy", "--from", folder.path(), "--to", "postgresql:x"}, out2, err2),
            2);
}

}  // namespace
}  // namespace vantera::testing
