#include "app/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "tests/app/temp_dir.h"

namespace vantera {
namespace {

using testing::TempDir;

TEST(IniProfileTest, FindsValuesByTheProfileRules) {
  const std::string text =
      "Key=before any section\r\n"
      "[DataBase]\r\n"
      "  alias =  TARVOLA2  \r\n"
      "Alias=second occurrence\r\n"
      "no equals sign here\r\n"
      "Quoted=\"  in quotes  \"\r\n"
      "Single='abc'\r\n"
      "Twice=\"\"abc\"\"\r\n"
      "Unpaired=\"abc'\r\n"
      "Empty=\r\n"
      "Blank=    \t\r\n"
      "Eq=a=b\r\n"
      "[ messagesrv ]\n"
      "ServerPort=40202\n"
      "[DATABASE]\n"
      "Engine=tcpip\n"
      "Alias=third\n";
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Alias"), "TARVOLA2");
  EXPECT_EQ(FindProfileValue(text, "database", "ALIAS"), "TARVOLA2");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Engine"), "tcpip");  // repeated section
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Quoted"), "  in quotes  ");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Single"), "abc");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Twice"), "\"abc\"");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Unpaired"), "\"abc'");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Empty"), "");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Blank"), "");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Eq"), "a=b");
  EXPECT_EQ(FindProfileValue(text, "MessageSrv", "ServerPort"), "40202");
  EXPECT_EQ(FindProfileValue(text, "DataBase", "Key"), std::nullopt);
  EXPECT_EQ(FindProfileValue(text, "DataBase", "no equals sign here"), std::nullopt);
  EXPECT_EQ(FindProfileValue(text, "Defaults", "Vantera"), std::nullopt);
}

TEST(IniProfileTest, CutsValuesAndToleratesOddBytes) {
  std::string long_value(100000, 'x');
  std::string text = "\xEF\xBB\xBF[S]\nLong=" + long_value + "\nNul=ab" + std::string(1, '\0') +
                     "cd\n\xE4\xF6=\xC4\xD6\n";
  EXPECT_EQ(FindProfileValue(text, "S", "Long"), std::string(255, 'x'));
  EXPECT_EQ(FindProfileValue(text, "S", "Nul"), "ab");
  EXPECT_EQ(FindProfileValue(text, "s", "\xC4\xD6"), "\xC4\xD6");  // upper case of Windows-1252

  // Random bytes: any outcome, but never more than 255 characters and never a crash.
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 400, '\0');
    for (char& c : bytes)
      c = static_cast<char>("[]=\"' \r\nSKab\0\xE4"[random() % 14]);
    for (const char* section : {"S", "", "a"}) {
      std::optional<std::string> value = FindProfileValue(bytes, section, "K");
      if (value) {
        EXPECT_LE(value->size(), kProfileValueMax);
      }
    }
  }
}

TEST(IniProfileTest, ReadsOnlyRegularFilesAndReturnsTheTrimmedDefault) {
  TempDir dir;
  std::string path = dir.Write("a.ini", "[S]\nK=v\n");
  EXPECT_EQ(ReadProfileString(path, "S", "K", " "), "v");
  EXPECT_EQ(ReadProfileString(path, "S", "Missing", " "), "");
  EXPECT_EQ(ReadProfileString(path, "S", "Missing", "dflt  "), "dflt");
  EXPECT_EQ(ReadProfileString(dir.File("none.ini"), "S", "K", " "), "");
  EXPECT_EQ(ReadProfileString(dir.Dir(), "S", "K", "d"), "d");  // a folder
  EXPECT_EQ(ReadProfileFile(""), std::nullopt);

  std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileFile(fifo), std::nullopt);  // must not block

  // Only the first kProfileFileMax bytes count.
  std::string big(kProfileFileMax, '\n');
  big.replace(0, 8, "[S]\nA=1\n");
  std::string big_path = dir.Write("big.ini", big + "B=2\n");
  EXPECT_EQ(ReadProfileFile(big_path)->size(), kProfileFileMax);
  EXPECT_EQ(ReadProfileString(big_path, "S", "A", " "), "1");
  EXPECT_EQ(ReadProfileString(big_path, "S", "B", " "), "");
}

TEST(IniProfileTest, WriterReplacesAddsAndRefuses) {
  TempDir dir;
  std::string path = dir.Write("w.ini", "[A]\r\nx=1\r\nx=2\r\n[B]\r\ny=1\r\n");
  ASSERT_TRUE(WriteProfileString(path, "a", "X", "9"));
  ASSERT_TRUE(WriteProfileString(path, "A", "z", "new"));
  ASSERT_TRUE(WriteProfileString(path, "C", "w", "v w"));
  EXPECT_EQ(*ReadProfileFile(path), "[A]\r\nX=9\r\nx=2\r\nz=new\r\n[B]\r\ny=1\r\n[C]\r\nw=v w\r\n");

  std::string fresh = dir.File("fresh.ini");
  ASSERT_TRUE(WriteProfileString(fresh, "S", "K", "v"));
  EXPECT_EQ(*ReadProfileFile(fresh), "[S]\nK=v\n");

  EXPECT_FALSE(WriteProfileString(path, "S", "K", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(path, "S]", "K", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S", "K=", "v"));
  EXPECT_FALSE(WriteProfileString(path, "", "K", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S", " K", "v"));
  EXPECT_FALSE(WriteProfileString(dir.Dir(), "S", "K", "v"));
  EXPECT_FALSE(WriteProfileString(dir.File("no/such/folder.ini"), "S", "K", "v"));
  EXPECT_EQ(*ReadProfileFile(path), "[A]\r\nX=9\r\nx=2\r\nz=new\r\n[B]\r\ny=1\r\n[C]\r\nw=v w\r\n");
}

}  // namespace
}  // namespace vantera
