// Import and export of tables as CSV, as the administrator's commands run them.
#include "server/engine/table_csv.h"

#include <gtest/gtest.h>

#include <fstream>
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
            "AsNo,KorttiLyh,Maara,Aika\r\n              1,K1,7,2026-12-09 06:15:30\r\n"
            "              2,K2,,\r\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunDataCommand({"export", "ASSORMI"}, out, err), 2);
  EXPECT_EQ(RunDataCommand({"export", "EIOLE", "--data", folder_.path()}, out, err), 1);
  EXPECT_NE(err.str().find("Table does not exist."), std::string::npos);
  EXPECT_EQ(RunDataCommand({"import", "ASSORMI", folder_.Sub("none.csv"), "--data", folder_.path()},
                           out, err),
            1);
}

// Customer numbers are stored in their stored form whatever the file has, so a number
// the table holds is a key violation whether the file writes it bare or padded.
TEST_F(TableCsv, CustomerNumbersTakeTheirStoredFormAndAKnownOneIsRefusedWithItsLine) {
  ASSERT_EQ(ImportCsv(folder_.path(), "ASIAKAS", "AsNo,AsNimi\n           1001,Eka\n 1002 ,Toka\n"),
            2u);
  std::vector<std::string> numbers;
  {
    LocalTable t(folder_.path(), "ASIAKAS", false);
    Bytes rec;
    while (t.Next(&rec))
      numbers.push_back(GetText(t.dict(), rec, "AsNo"));
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"           1001", "           1002"}));
  try {
    ImportCsv(folder_.path(), "ASIAKAS", "AsNo,AsNimi\n1003,Kolmas\n1001,Eka taas\n");
    ADD_FAILURE() << "a known customer number was stored again";
  } catch (const CsvError& e) {
    EXPECT_EQ(e.line(), 3u);
    EXPECT_NE(std::string(e.what()).find("Key violation."), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ixAsNo (AsNo \"           1001\")"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Count("ASIAKAS"), 2);  // nothing of the refused file
  // Cards and fingerprints refer to customers by the same stored form.
  ASSERT_EQ(ImportCsv(folder_.path(), "KORTTI", "KorttiNro,KorttiLyh,AsNo\nN1,L1,1001\n"), 1u);
  LocalTable cards(folder_.path(), "KORTTI", false);
  Bytes card;
  ASSERT_TRUE(cards.Next(&card));
  EXPECT_EQ(GetText(cards.dict(), card, "AsNo"), "           1001");
}

// Over-long texts are cut to their fields as the system cuts every text; each cut is
// reported with its line, and the rows are stored.
TEST_F(TableCsv, EveryCutTextIsReportedWithItsLine) {
  std::string long_name(40, 'N');
  std::vector<std::string> warnings;
  ASSERT_EQ(ImportCsv(folder_.path(), "ASIAKAS",
                      "AsNo,AsNimi,PostiNo\n"
                      "1,Lyhyt  ,00100\n"
                      "2," +
                          long_name + ",001002\n" + "1234567890123456789,Pitka numero,\n",
                      &warnings),
            3u);
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "line 3: AsNimi cut to 35 characters (40 given): \"" + std::string(35, 'N') + "\"",
                "line 3: PostiNo cut to 5 characters (6 given): \"00100\"",
                "line 4: AsNo cut to 15 characters (19 given): \"123456789012345\""}));
  // The command line prints them and says how many.
  std::string file = folder_.Sub("kortit.csv");
  {
    std::ofstream out(file);
    out << "KorttiNro,KorttiLyh,AsNo\nN1,L1,1\nN2,12345678901234567,2\n";
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunDataCommand({"import", "KORTTI", file, "--data", folder_.path()}, out, err), 0);
  EXPECT_NE(err.str().find(file + ": line 3: KorttiLyh cut to 16 characters (17 given)"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("2 records stored in KORTTI, 1 texts cut to their fields"),
            std::string::npos)
      << err.str();
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
