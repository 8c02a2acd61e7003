#include <gtest/gtest.h>

#include <random>

#include "app/Profil.h"
#include "app/transport_key.h"
#include "tests/app/temp_dir.h"

namespace vantera {
namespace {

using testing::TempDir;

void ExpectDefaults(const Settings& s) {
  EXPECT_EQ(s.alias, "TARVOLA");
  EXPECT_EQ(s.engine_kind, kEngineCom);
  EXPECT_EQ(s.db.ServerName, "");
  EXPECT_EQ(s.db.ServerAddress, "");
  EXPECT_EQ(s.db.Port, 16000);
  EXPECT_EQ(s.db.CompressLimit, 512);
  EXPECT_FALSE(s.db.SecuredTransport);
  EXPECT_EQ(s.db.Key, kPlaceholderTransportKey);
  EXPECT_FALSE(s.db.key_from_file);
  EXPECT_EQ(s.msg_server_address, "127.0.0.1");
  EXPECT_EQ(s.msg_server_port, "40201");
  EXPECT_EQ(s.client_name, "Vantera01");
  EXPECT_EQ(s.ping_time, 180);
  EXPECT_EQ(s.message_max_age, 1800);
  EXPECT_EQ(s.reader_device, "SIMULOITU");
}

// Settings read from a file holding only the given lines of each section.
Settings SettingsOf(const std::string& database, const std::string& messagesrv = "",
                    const std::string& defaults = "") {
  TempDir dir;
  std::string path = dir.Write("Tarvola.ini", "[DataBase]\n" + database + "\n[MessageSrv]\n" +
                                                  messagesrv + "\n[Defaults]\n" + defaults + "\n");
  return ReadSettings(path);
}

TEST(TProfileTest, CutsTextsWhenAssigned) {
  TProfile p;
  p.Category = std::string(70, 'c');
  p.KeyName = std::string(64, 'k');
  p.DefaultValue = std::string(65, 'd');
  p.IniFileName = std::string(100, 'f');
  p.DataString = std::string(300, 'v');
  EXPECT_EQ(p.Category.str(), std::string(64, 'c'));
  EXPECT_EQ(p.KeyName.str(), std::string(64, 'k'));
  EXPECT_EQ(p.DefaultValue.str(), std::string(64, 'd'));
  EXPECT_EQ(p.IniFileName.str(), std::string(64, 'f'));
  EXPECT_EQ(p.DataString.str(), std::string(255, 'v'));
}

TEST(TProfileTest, ExecuteSucceedsAndFailsByItsRules) {
  TempDir dir;
  std::string path = dir.Write("t.ini", "[S]\nK=value\nBlank=  \n");

  TProfile p;
  p.IniFileName = path;
  p.Category = "S";
  p.KeyName = "K";
  EXPECT_TRUE(p.Execute());
  EXPECT_EQ(p.DataString.str(), "value");
  EXPECT_EQ(p.Error, 0);

  // Empty names fail without reading and keep DataString.
  for (int which = 0; which < 3; ++which) {
    TProfile q = p;
    q.Error = 0;
    (which == 0 ? q.Category : which == 1 ? q.KeyName : q.IniFileName) = "";
    EXPECT_FALSE(q.Execute());
    EXPECT_EQ(q.DataString.str(), "value");
    EXPECT_EQ(q.Error, 1);
  }

  // An absent or blank key fails with DataString empty; a default of its own succeeds.
  p.KeyName = "Absent";
  EXPECT_FALSE(p.Execute());
  EXPECT_EQ(p.DataString.str(), "");
  EXPECT_EQ(p.Error, 1);
  p.KeyName = "Blank";
  p.DataString = "old";
  EXPECT_FALSE(p.Execute());
  EXPECT_EQ(p.DataString.str(), "");
  p.KeyName = "Absent";
  p.DefaultValue = "fallback";
  EXPECT_TRUE(p.Execute());
  EXPECT_EQ(p.DataString.str(), "fallback");
  EXPECT_EQ(p.Error, 1);  // never reset by Execute

  // Writing succeeds when the writer does.
  TProfile w;
  w.Action = paWrite;
  w.IniFileName = path;
  w.Category = "S";
  w.KeyName = "New";
  w.DataString = "written";
  EXPECT_TRUE(w.Execute());
  std::string value;
  EXPECT_TRUE(ReadIniValue(w, path, "s", "new", value));
  EXPECT_EQ(value, "written");
  w.Action = paWrite;
  w.IniFileName = dir.Dir();  // a folder cannot be written as a file
  EXPECT_FALSE(w.Execute());
  EXPECT_EQ(w.Error, 1);
}

TEST(SettingsTest, ReadIniValueLeavesTheValueOnFailureAndCutsNames) {
  TempDir dir;
  std::string long_key(64, 'k');
  std::string path = dir.Write("t.ini", "[" + std::string(64, 's') + "]\n" + long_key + "=hit\n");
  TProfile ini;
  std::string value = "untouched";
  EXPECT_FALSE(ReadIniValue(ini, path, "S", "K", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(ReadIniValue(ini, path, std::string(80, 's'), long_key + "tail", value));
  EXPECT_EQ(value, "hit");
  EXPECT_EQ(ini.Action, paRead);
  EXPECT_EQ(ini.IniFileName.str(), path);
}

TEST(SettingsTest, MissingOrUnusableFilesGiveEveryDefault) {
  TempDir dir;
  ExpectDefaults(ReadSettings(dir.File("Tarvola.ini")));
  ExpectDefaults(ReadSettings(std::string()));
  ExpectDefaults(ReadSettings(dir.Dir()));  // a folder in place of the file

  std::mt19937 random(7);
  std::string binary(4096, '\0');
  for (char& c : binary)
    c = static_cast<char>(random() & 0xFF);
  ExpectDefaults(ReadSettings(dir.Write("binary.ini", binary)));
  ExpectDefaults(ReadSettings(dir.Write("noeq.ini", "[DataBase]\nAlias\nPort 1\n")));

  // Values of any length are cut, never rejected.
  Settings s =
      SettingsOf("Alias=" + std::string(100000, 'A'), "", "Vantera=" + std::string(300, '9'));
  EXPECT_EQ(s.alias, std::string(255, 'A'));
  EXPECT_EQ(s.client_name, "Vantera" + std::string(248, '9'));
}

TEST(SettingsTest, SettingsPathIsCutTo64Characters) {
  TempDir dir;
  EXPECT_EQ(SettingsFilePath("/opt/vantera/"), "/opt/vantera/Tarvola.ini");
  EXPECT_EQ(SettingsFilePath(""), "");
  EXPECT_EQ(ProgramDirectory().back(), '/');

  // A folder whose settings path is longer than 64 characters: the file beside the
  // program is not found, but one at the cut path is.
  std::string deep = dir.Dir() + std::string(60, 'd') + "/";
  std::filesystem::create_directories(deep);
  std::string full = deep + "Tarvola.ini";
  { std::ofstream(full) << "[DataBase]\nAlias=BESIDE\n"; }
  std::string cut = SettingsFilePath(deep);
  ASSERT_EQ(cut.size(), 64u);
  EXPECT_EQ(cut, full.substr(0, 64));
  ExpectDefaults(ReadSettings(cut));
  { std::ofstream(cut) << "[DataBase]\nAlias=CUT\n"; }
  EXPECT_EQ(ReadSettings(SettingsFilePath(deep)).alias, "CUT");
}

TEST(SettingsTest, ParseRulesOfEachSetting) {
  EXPECT_EQ(SettingsOf("Engine=tcpip").engine_kind, kEngineTcpIp);
  EXPECT_EQ(SettingsOf("Engine=NamedPipe").engine_kind, kEngineNamedPipe);
  EXPECT_EQ(SettingsOf("Engine=  com  ").engine_kind, kEngineCom);
  EXPECT_EQ(SettingsOf("Engine=Winsock").engine_kind, kEngineCom);
  EXPECT_EQ(SettingsOf("Engine=TCP IP").engine_kind, kEngineCom);

  EXPECT_EQ(SettingsOf("Port=70000").db.Port, 4464);
  EXPECT_EQ(SettingsOf("Port=abc").db.Port, 16000);
  EXPECT_EQ(SettingsOf("Port=-1").db.Port, 65535);
  EXPECT_EQ(SettingsOf("Port=+5").db.Port, 5);
  EXPECT_EQ(SettingsOf("Port=\"16001\"").db.Port, 16001);
  EXPECT_EQ(SettingsOf("Port=0").db.Port, 0);
  EXPECT_EQ(SettingsOf("Port=12 3").db.Port, 16000);
  EXPECT_EQ(SettingsOf("Port=0x10").db.Port, 16000);
  EXPECT_EQ(SettingsOf("Port=+-5").db.Port, 16000);
  EXPECT_EQ(SettingsOf("Port=99999999999").db.Port, 16000);

  EXPECT_EQ(SettingsOf("CompressLimit=1024").db.CompressLimit, 1024);
  EXPECT_EQ(SettingsOf("CompressLimit=-7").db.CompressLimit, -7);
  EXPECT_EQ(SettingsOf("CompressLimit=1e3").db.CompressLimit, 512);

  EXPECT_TRUE(SettingsOf("SecuredTransport=yes").db.SecuredTransport);
  EXPECT_TRUE(SettingsOf("SecuredTransport=  YES ").db.SecuredTransport);
  EXPECT_TRUE(SettingsOf("SecuredTransport=Yes").db.SecuredTransport);
  EXPECT_FALSE(SettingsOf("SecuredTransport=1").db.SecuredTransport);
  EXPECT_FALSE(SettingsOf("SecuredTransport=yes please").db.SecuredTransport);

  EXPECT_EQ(SettingsOf("", "", "Vantera=07").client_name, "Vantera07");
  EXPECT_EQ(SettingsOf("", "", "Vantera=").client_name, "Vantera01");
  EXPECT_EQ(SettingsOf("", "", "Vantera=   ").client_name, "Vantera01");

  EXPECT_EQ(SettingsOf("", "PingTime=0").ping_time, 0);
  EXPECT_EQ(SettingsOf("", "PingTime=30").ping_time, 30);
  EXPECT_EQ(SettingsOf("", "PingTime=soon").ping_time, 180);
  EXPECT_EQ(SettingsOf("", "PingTime=-5").ping_time, -5);

  EXPECT_EQ(SettingsOf("", "MessageMaxAge=0").message_max_age, 0);
  EXPECT_EQ(SettingsOf("", "MessageMaxAge=600").message_max_age, 600);
  EXPECT_EQ(SettingsOf("", "MessageMaxAge= 90 ").message_max_age, 90);
  EXPECT_EQ(SettingsOf("", "MessageMaxAge=30min").message_max_age, 1800);
  EXPECT_EQ(SettingsOf("", "MessageMaxAge=").message_max_age, 1800);
  EXPECT_EQ(SettingsOf("MessageMaxAge=5").message_max_age, 1800);  // another section

  // [Lukija] Laite: the two words in any case, else a device id or driver name as written.
  auto reader = [](const std::string& lines) {
    TempDir dir;
    return ReadSettings(dir.Write("Tarvola.ini", "[DataBase]\nAlias=X\n[Lukija]\n" + lines + "\n"))
        .reader_device;
  };
  EXPECT_EQ(reader("Laite=libfprint"), "LIBFPRINT");
  EXPECT_EQ(reader("Laite= Simuloitu "), "SIMULOITU");
  EXPECT_EQ(reader("Laite=elan"), "elan");
  EXPECT_EQ(reader("Laite=Virtual_Image"), "Virtual_Image");
  EXPECT_EQ(reader("Laite="), "SIMULOITU");
  EXPECT_EQ(reader("Device=LIBFPRINT"), "SIMULOITU");
  EXPECT_EQ(SettingsOf("Laite=LIBFPRINT").reader_device, "SIMULOITU");  // another section

  Settings s = SettingsOf("Alias=Kanta\nServerName=Srv\nServerAddress=10.1.2.3\n",
                          "ServerAddress=msg.local\nServerPort=abc\n");
  EXPECT_EQ(s.alias, "Kanta");
  EXPECT_EQ(s.db.ServerName, "Srv");
  EXPECT_EQ(s.db.ServerAddress, "10.1.2.3");
  EXPECT_EQ(s.msg_server_address, "msg.local");
  EXPECT_EQ(s.msg_server_port, "abc");  // handed to the socket as text
}

TEST(SettingsTest, KeyIsDecodedOrReplacedByThePlaceholder) {
  Settings s = SettingsOf("Key=" + *EncodeTransportKey("salasana\xE4"));
  EXPECT_EQ(s.db.Key, "salasana\xE4");
  EXPECT_TRUE(s.db.key_from_file);
  for (const char* bad : {"Key=not hex", "Key=350", "Key=54", "Key="}) {
    Settings b = SettingsOf(bad);
    EXPECT_EQ(b.db.Key, kPlaceholderTransportKey) << bad;
    EXPECT_FALSE(b.db.key_from_file) << bad;
  }
}

}  // namespace
}  // namespace vantera
