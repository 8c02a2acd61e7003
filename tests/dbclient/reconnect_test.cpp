// Reconnecting after the database server was killed and started again on the same port
// (and, for the local transports, under the same runtime folder), over every transport
// the workstation can choose. The settings go through the workstation's settings reader.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Profil.h"
#include "app/transport_key.h"
#include "dbclient/nxDbEngModule.h"
#include "protocol/nxllException.h"
#include "tests/dbclient/cursor_checks.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::ServerProcess;
using testing::TempFolder;

struct ReconnectSetup {
  const char* label;
  const char* engine;  // the Engine setting
  bool secured;
};

const char* const kTunnelKey = "Salainen avain";

class Reconnect : public ::testing::TestWithParam<ReconnectSetup> {
 protected:
  TempFolder folder;
  std::unique_ptr<ServerProcess> server;
  uint16_t port = 0;
  TnxDbEngModule module;
  std::vector<std::string> lines;  // what the module wrote for its reconnects

  // The local transports look for the server under this link, which is pointed at the
  // runtime folder of the server that runs now.
  std::string RunLink() const { return folder.Sub("run"); }

  void StartServer() {
    std::vector<std::string> args{"--data", folder.Sub("data"), "--no-discovery", "--name",
                                  "Keskus"};
    if (port != 0) {
      args.push_back("--listen");
      args.push_back("127.0.0.1:" + std::to_string(port));
    }
    if (GetParam().secured) {
      args.push_back("--tunnel-key");
      args.push_back(kTunnelKey);
    }
    server = std::make_unique<ServerProcess>(args);
    port = server->Port();
    std::filesystem::remove(RunLink());
    std::filesystem::create_directory_symlink(server->RuntimeFolder(), RunLink());
  }

  // SIGKILL: the server ends without closing anything.
  void KillServer() {
    ASSERT_EQ(::kill(server->Pid(), SIGKILL), 0);
    server->Stop(2000);  // reaps it
    server.reset();
  }

  void SetUp() override {
    StartServer();
    const ReconnectSetup& s = GetParam();
    const std::string ini = folder.Sub("Tarvola.ini");
    {
      std::ofstream out(ini);
      out << "[DataBase]\nAlias=TARVOLA\nEngine=" << s.engine << "\nServerName=Keskus\n";
      if (std::string(s.engine) == "TCPIP")
        out << "ServerAddress=127.0.0.1\nPort=" << port << "\n";
      if (s.secured) {
        std::optional<std::string> key = EncodeTransportKey(kTunnelKey);
        ASSERT_TRUE(key.has_value());
        out << "SecuredTransport=YES\nKey=" << *key << "\n";
      }
    }
    Settings settings = ReadSettings(ini);
    module.SetReconnectLog([this](const std::string& line) { lines.push_back(line); });
    module.CreateDbEngine();
    TnxDbEng& eng = *module.DbEng();
    eng.nxNamedPipeTransport.SetRuntimeFolder(RunLink());
    eng.nxNamedPipeTransport.SetPort(port);
    eng.nxCOMTransport.SetRuntimeFolder(RunLink());
    module.StoreConnectionValues(settings.db);
    module.OpenConnection(settings.engine_kind, settings.alias);
    kind_ = static_cast<int32_t>(settings.engine_kind);
    module.OpenSession();
  }

  void TearDown() override {
    module.CloseConnection(kind_);
    module.ReleaseDbEngine();
    if (server)
      server->Stop();
  }

  TnxDatabase& Database() { return module.DbEng()->nxDatabase; }

  // The code with which opening `table` fails, or 0 when it opens (then it is closed).
  uint32_t CodeOfOpen(TnxTable& table) {
    try {
      table.Open();
    } catch (const EnxBaseException& e) {
      return e.ErrorCode() != 0 ? e.ErrorCode() : 1;
    }
    EXPECT_TRUE(table.Active());
    table.Close();
    return 0;
  }

 private:
  int32_t kind_ = 0;
};

TEST_P(Reconnect, TheFirstOperationAfterARestartSucceedsAndOneLineIsLoggedPerReconnect) {
  auto kortti = testing::CursorTable(Database(), "TblKortti", "KORTTI", "KorttiLyh");
  ASSERT_EQ(CodeOfOpen(*kortti), 0u);
  EXPECT_TRUE(lines.empty());

  // Killed and back before the next operation: it reconnects quietly and succeeds.
  KillServer();
  StartServer();
  ASSERT_EQ(CodeOfOpen(*kortti), 0u);
  EXPECT_EQ(lines, std::vector<std::string>{TnxSession::kReconnectedLine});

  // Away: each operation tries once and fails with the code of its reconnect.
  KillServer();
  EXPECT_EQ(CodeOfOpen(*kortti), nxcode::kCannotConnect);
  EXPECT_EQ(CodeOfOpen(*kortti), nxcode::kCannotConnect);
  ASSERT_EQ(lines.size(), 3u);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(lines[i].rfind(TnxSession::kReconnectFailedLine, 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find("11278"), std::string::npos) << lines[i];
  }

  // Back: the first operation succeeds and sees the data.
  StartServer();
  kortti->Open();
  EXPECT_TRUE(kortti->Eof());  // the test database has no cards
  kortti->Close();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines.back(), TnxSession::kReconnectedLine);
}

TEST_P(Reconnect, ACursorOpenedBeforeTheLossIsClosedByTheReconnectAndRefusedCleanly) {
  auto asiakas = testing::CursorTable(Database(), "TblAsiakas", "ASIAKAS", "AsNo");
  asiakas->Open();
  EXPECT_TRUE(asiakas->Eof());
  KillServer();
  StartServer();
  auto kortti = testing::CursorTable(Database(), "TblKortti", "KORTTI", "KorttiLyh");
  ASSERT_EQ(CodeOfOpen(*kortti), 0u);
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_FALSE(asiakas->Active());
  try {
    asiakas->First();
    FAIL() << "a cursor of the lost session was used";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.BareText(), "Cannot perform this operation on a closed dataset");
  }
  asiakas->Open();  // opened again it works on the new session
  EXPECT_TRUE(asiakas->Eof());
  asiakas->Close();
}

INSTANTIATE_TEST_SUITE_P(EveryTransport, Reconnect,
                         ::testing::Values(ReconnectSetup{"Tcp", "TCPIP", false},
                                           ReconnectSetup{"Tunnel", "TCPIP", true},
                                           ReconnectSetup{"Pipe", "NAMEDPIPE", false},
                                           ReconnectSetup{"Registry", "COM", false}),
                         [](const ::testing::TestParamInfo<ReconnectSetup>& param_info) {
                           return std::string(param_info.param.label);
                         });

}  // namespace
}  // namespace vantera
