// Import and export of tables as CSV, as the administrator's commands run them.
#include "server/engine/table_csv.h"

#include <gtest/gtest.h>

#include <sstream>

#include "server/engine/csv.h"
#include "server/engine/local_table.h"
#include "tests/server/engine_test_support.h"

namespace vantera::testing {
namespace {

class TableCsv : public ::testing::Test {
 protected:
  TableCsv() { PrepareDataFolder(folder_.path(), nxtShortString); }
  int32_t Count(const std::string& table) {
    LocalTable t(folder_.path(), table, false);
    return t.Count();
  }
  std::string Export(const std::string& table) {
    std::ostringstream out;
    ExportCsv(folder_.path(), table, out);
    return out.str();
  }
  TempFolder folder_;
};

TEST_F(TableCsv, Utf8AndWindows1252FilesStoreTheSameBytesAndExportAsUtf8) {
  // UTF-8 with a byte order mark; a quoted name with a comma; CR LF line ends.
  std::string utf8 =
      "\xEF\xBB\xBF"
      "asno,AsNimi,PostiNo\r\n"
      "            101,M\xC3\xA4kinen Aino,00100\r\n"
      "            102,\"\xC3\x96hman, Olli\",\r\n";
  EXPECT_EQ(ImportCsv(folder_.path(), "ASIAKAS", utf8), 2u);
  // The same in Windows-1252 (not valid UTF-8), separated by semicolons.
  std::string cp1252 = "AsNo;AsNimi\n            103;J\xE4rvinen \xC4ij\xE4\n";
  EXPECT_EQ(ImportCsv(folder_.path(), "asiakas", cp1252), 1u);
  LocalTable t(folder_.path(), "ASIAKAS", false);
  Bytes rec;
  std::vector<std::string> names;
  while (t.Next(&rec))
    names.push_back(GetText(t.dict(), rec, "AsNimi"));
  EXPECT_EQ(names, (std::vector<std::string>{"M\xE4kinen Aino", "\xD6hman, Olli",
                                             "J\xE4rvinen \xC4ij\xE4"}));
  EXPECT_EQ(Export("ASIAKAS"),
            "AsNo,AsNimi,PostiNo,PostiToimiPaikka,KatuOsoite1,KatuOsoite2\r\n"
            "            101,M\xC3\xA4kinen Aino,00100,,,\r\n"
            "            102,\"\xC3\x96hman, Olli\",,,,\r\n"
            "            103,J\xC3\xA4rvinen \xC3\x84ij\xC3\xA4,,,,\r\n");
}

TEST_F(TableCsv, ABadRowNamesItsLineAndNothingOfTheFileIsStored) {
  auto line_of = [&](const std::string& table, const std::string& file) -> size_t {
    try {
      ImportCsv(folder_.path(), table, file);
    } catch (const CsvError& e) {
      return e.line();
    }
    return 0;
  };
  // A quoted field over two lines moves the line numbers of the rows after it.
  std::string missing_name =
      "AsNo,AsNimi,KatuOsoite1\n"
      "1,Eka,\"Katu 1\nrappu B\"\n"
      "2,Toka,\n"
      "3,,Kolmas\n";
  EXPECT_EQ(line_of("ASIAKAS", missing_name), 5u);  // required AsNimi is empty
  std::string duplicate = "AsNo,AsNimi\n1,Eka\n2,Toka\n1,Taas\n";
  EXPECT_EQ(line_of("ASIAKAS", duplicate), 4u);
  EXPECT_EQ(line_of("ASIAKAS", "AsNo,Nimi\n1,Eka\n"), 1u);  // no such field
  EXPECT_EQ(line_of("ASIAKAS", "AsNo,AsNimi\n1,Eka,ylim\n"), 2u);
  EXPECT_EQ(line_of("ASSORMI", "AsNo,Maara\n1,yksi\n"), 2u);
  EXPECT_EQ(line_of("ASSORMI", "AsNo,Jalki\n1,abc\n"), 1u);  // blobs are not imported
  EXPECT_EQ(line_of("KORTTI", "KorttiNro,KorttiLyh,AsNo,AikaLeima\n1,2,3,2026-02-30\n"), 2u);
  EXPECT_EQ(line_of("ASIAKAS", "AsNo,AsNimi\n\"1,Eka\n"), 2u);  // unclosed quote
  EXPECT_EQ(Count("ASIAKAS"), 0);
  EXPECT_EQ(Count("ASSORMI"), 0);
  EXPECT_EQ(Count("KORTTI"), 0);
}

TEST_F(TableCsv, DatesIntegersAndTheCommandLine) {
  ASSERT_EQ(ImportCsv(folder_.path(), "ASSORMI",
                      "AsNo,KorttiLyh,Maara,Aika\n1,K1,7,2026-12-09 06:15:30\n2,K2,,\n"),
            2u);
  EXPECT_EQ(Export("ASSORMI"),
            "AsNo,KorttiLyh,Maara,Aika\r\n1,K1,7,2026-12-09 06:15:30\r\n2,K2,,\r\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunDataCommand({"export", "ASSORMI"}, out, err), 2);
  EXPECT_EQ(RunDataCommand({"export", "EIOLE", "--data", folder_.path()}, out, err), 1);
  EXPECT_NE(err.str().find("Table does not exist."), std::string::npos);
  EXPECT_EQ(RunDataCommand({"import", "ASSORMI", folder_.Sub("none.csv"), "--data", folder_.path()},
                           out, err),
            1);
}

}  // namespace
}  // namespace vantera::testing

#include "server/engine/demo_data.h"

namespace vantera::testing {
namespace {

TEST_F(TableCsv, DemoDataFillsEmptyTablesOnce) {
  EXPECT_EQ(FillDemoData(folder_.path()), 36);
  EXPECT_EQ(Count("ASIAKAS"), 36);
  EXPECT_EQ(Count("KORTTI"), 48);
  EXPECT_EQ(Count("ASSORMI"), 0);
  EXPECT_EQ(FillDemoData(folder_.path()), 0);
  EXPECT_EQ(Count("ASIAKAS"), 36);
  // Stored form of the customer number, Finnish letters as Windows-1252 bytes.
  LocalTable t(folder_.path(), "ASIAKAS", false);
  Bytes rec;
  ASSERT_TRUE(t.Next(&rec));
  EXPECT_EQ(GetText(t.dict(), rec, "AsNo"), "           1001");
  std::string all;
  while (t.Next(&rec))
    all += GetText(t.dict(), rec, "AsNimi") + ";";
  EXPECT_NE(all.find("M\xE4kinen"), std::string::npos);
  EXPECT_EQ(all.find("\xC3"), std::string::npos);  // no UTF-8 inside
}

}  // namespace
}  // namespace vantera::testing
