#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/transport_key.h"
#include "tests/app/temp_dir.h"

namespace vantera {
namespace {

CommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vantera");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome RunOf(const CommandLine& c) {
  std::ostringstream out, err;
  int code = RunCommand(c, out, err);
  return {code, out.str(), err.str()};
}

TEST(CommandLineTest, ParsesOptionsAndRefusesBadOnes) {
  EXPECT_EQ(Parse({}).mode, CommandLine::kRunWindow);
  EXPECT_EQ(Parse({"--version"}).mode, CommandLine::kVersion);
  EXPECT_EQ(Parse({"--version", "--help"}).mode, CommandLine::kHelp);
  CommandLine c = Parse({"--print-settings", "--ini=/etc/x.ini"});
  EXPECT_EQ(c.mode, CommandLine::kPrintSettings);
  EXPECT_EQ(c.ini_path, "/etc/x.ini");
  c = Parse({"--encode-key", "secret"});
  EXPECT_EQ(c.mode, CommandLine::kEncodeKey);
  EXPECT_EQ(c.key_text, "secret");
  c = Parse({"--screenshot", "/tmp/s.png"});
  EXPECT_EQ(c.mode, CommandLine::kRunWindow);
  EXPECT_EQ(c.quit_after_ms, 500);
  c = Parse({"--quit-after", "1500", "--ini", "a.ini"});
  EXPECT_EQ(c.quit_after_ms, 1500);
  EXPECT_EQ(c.ini_path, "a.ini");
  // The demo's options run the window and stay out of the help text.
  c = Parse({"--demo-enrol", "6390000010010001", "--log-file=/tmp/l.txt", "--tab-shots", "/tmp/t"});
  EXPECT_EQ(c.mode, CommandLine::kRunWindow);
  EXPECT_EQ(c.demo_enrol_card, "6390000010010001");
  EXPECT_EQ(c.log_file, "/tmp/l.txt");
  EXPECT_EQ(c.shots_prefix, "/tmp/t");
  EXPECT_EQ(c.quit_after_ms, -1);
  EXPECT_EQ(HelpText().find("--demo-enrol"), std::string::npos);
  EXPECT_EQ(HelpText().find("--log-file"), std::string::npos);
  EXPECT_FALSE(c.reader_trace);
  EXPECT_TRUE(Parse({"--reader-trace"}).reader_trace);
  EXPECT_EQ(Parse({"--reader-trace"}).mode, CommandLine::kRunWindow);
  EXPECT_EQ(HelpText().find("--reader-trace"), std::string::npos);
  EXPECT_EQ(Parse({"--list-readers"}).mode, CommandLine::kListReaders);
  EXPECT_EQ(Parse({"--list-readers", "--version"}).mode, CommandLine::kError);

  for (auto args : std::vector<std::vector<const char*>>{{"--bogus"},
                                                         {"--encode-key"},
                                                         {"--ini"},
                                                         {"--demo-enrol"},
                                                         {"--log-file"},
                                                         {"--ini="},
                                                         {"--quit-after", "-1"},
                                                         {"--quit-after", "soon"},
                                                         {"--version", "--print-settings"},
                                                         {"extra"}}) {
    CommandLine bad = Parse(args);
    EXPECT_EQ(bad.mode, CommandLine::kError) << args[0];
    Outcome run = RunOf(bad);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("try --help"), std::string::npos);
  }
}

TEST(CommandLineTest, CommandsPrintVersionKeyAndSettings) {
  EXPECT_EQ(RunOf(Parse({"--version"})).out, "Vantera 3.0.5.0\n");
  EXPECT_NE(RunOf(Parse({"--help"})).out.find("--encode-key TEXT"), std::string::npos);
  EXPECT_NE(RunOf(Parse({"--help"})).out.find("--list-readers"), std::string::npos);
  // --list-readers runs the lister it is given, with its exit status; without one it fails.
  std::ostringstream out, err;
  EXPECT_EQ(RunCommand(Parse({"--list-readers"}), out, err,
                       [](std::ostream& o) {
                         o << "listed\n";
                         return 0;
                       }),
            0);
  EXPECT_EQ(out.str(), "listed\n");
  EXPECT_EQ(RunOf(Parse({"--list-readers"})).code, 2);

  Outcome key = RunOf(Parse({"--encode-key", "s\xC3\xA4"}));  // UTF-8 "sä" is the key "s\xE4"
  EXPECT_EQ(key.code, 0);
  EXPECT_EQ(key.out, *EncodeTransportKey("s\xE4") + "\n");
  EXPECT_EQ(RunOf(Parse({"--encode-key", ""})).code, 2);

  testing::TempDir dir;
  std::string path = dir.Write(
      "Tarvola.ini",
      "[DataBase]\nAlias=K\xE4NTA\nEngine=tcpip\nKey=" + *EncodeTransportKey("topsecret") +
          "\n[MessageSrv]\nPingTime=0\n[Defaults]\nVantera=07\n[Lukija]\nLaite=libFprint\n");
  Outcome printed = RunOf(Parse({"--print-settings", "--ini", path.c_str()}));
  EXPECT_EQ(printed.code, 0);
  EXPECT_EQ(printed.out, "SettingsFile = " + path +
                             "\n"
                             "DataBase.Alias = K\xC3\xA4NTA\n"
                             "DataBase.Engine = 1\n"
                             "DataBase.ServerName = \n"
                             "DataBase.ServerAddress = \n"
                             "DataBase.Port = 16000\n"
                             "DataBase.CompressLimit = 512\n"
                             "DataBase.SecuredTransport = NO\n"
                             "DataBase.Key = ******** (set)\n"
                             "MessageSrv.ServerAddress = 127.0.0.1\n"
                             "MessageSrv.ServerPort = 40201\n"
                             "ClientName = Vantera07\n"
                             "MessageSrv.PingTime = 0\n"
                             "MessageSrv.MessageMaxAge = 1800\n"
                             "Lukija.Laite = LIBFPRINT\n");
  EXPECT_EQ(printed.out.find("topsecret"), std::string::npos);
  EXPECT_NE(RunOf(Parse({"--print-settings", "--ini", dir.File("none.ini").c_str()}))
                .out.find("DataBase.Key = (placeholder)\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vantera
