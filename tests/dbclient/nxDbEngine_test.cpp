// The connection module and the table cursor against the real kantadb-server over TCP on
// loopback.
#include "dbclient/nxDbEngine.h"

#include "dbclient/nxDbEngModule.h"

#include <gtest/gtest.h>

#include <fstream>

#include "protocol/nxllException.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::ServerProcess;
using testing::TempFolder;

TEST(DbEngineWiring, OpenConnectionArmsTheTcpChainWithoutOpening) {
  TnxDbEng eng;
  eng.Values.ServerName = "";
  eng.Values.ServerAddress = "127.0.0.1";
  eng.Values.Port = 0;
  eng.Values.CompressLimit = 1024;
  eng.OpenConnection(1, "");
  EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "");  // discovery instead
  EXPECT_EQ(eng.nxWinsockTransport.Port(), 16000);            // port 0 keeps it
  EXPECT_EQ(eng.nxWinsockTransport.CompressLimit(), 1024u);
  EXPECT_EQ(eng.nxRemoteServerEngine.Transport(), &eng.nxWinsockTransport);
  EXPECT_TRUE(eng.nxRemoteServerEngine.Enabled());
  EXPECT_EQ(eng.nxDatabase.AliasName(), "Tarvola");
  EXPECT_EQ(eng.nxSession.State(), TnxState::Inactive);
  EXPECT_EQ(eng.nxWinsockTransport.State(), TnxState::Inactive);

  eng.Values.ServerName = "Main";
  eng.Values.Port = 16001;
  eng.OpenConnection(1, "VANTERA");
  EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "Main@127.0.0.1");
  EXPECT_EQ(eng.nxWinsockTransport.Port(), 16001);
  EXPECT_EQ(eng.nxDatabase.AliasName(), "VANTERA");

  // A kind this module does not serve leaves the engine disabled.
  eng.OpenConnection(7, "");
  EXPECT_FALSE(eng.nxRemoteServerEngine.Enabled());
  EXPECT_THROW(eng.nxSession.Open(), EnxComponentException);
}

class DbEngineOverTcp : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<ServerProcess> server;

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--data", folder.Sub("data"), "--no-discovery"};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<ServerProcess>(args);
  }
  void Aim(TnxDbEng& eng) {
    eng.Values.ServerName = "Main";
    eng.Values.ServerAddress = "127.0.0.1";
    eng.Values.Port = server->Port();
    eng.OpenConnection(1, "Tarvola");
  }
};

TEST_F(DbEngineOverTcp, SessionOpensAndTheCursorWorksOverTheWire) {
  Start();
  TnxDbEng eng;
  Aim(eng);
  eng.nxSession.Open();
  EXPECT_TRUE(eng.nxWinsockTransport.Active());

  TnxTable sormi("TblAsSormi");
  sormi.SetDatabase(&eng.nxDatabase);
  sormi.SetTableName("ASSORMI");
  sormi.SetIndexFieldNames("KorttiLyh");
  sormi.Open();
  Bytes templ(70000, '\0');
  for (size_t i = 0; i < templ.size(); ++i)
    templ[i] = static_cast<char>(i % 251);
  for (int i = 0; i < 3; ++i) {
    sormi.Append();
    sormi.FieldByName("AsNo").SetAsString("          1234" + std::to_string(i));
    sormi.FieldByName("KorttiLyh").SetAsString(i == 1 ? "K1" : "K2");
    TMemoryStream s(templ);
    sormi.FieldByName("Jalki").LoadFromStream(s);
    sormi.Post();
  }
  sormi.SetRangeBounds({std::string("K2")}, {std::string("K2")});
  int seen = 0;
  for (; !sormi.Eof(); sormi.Next()) {
    TMemoryStream out;
    sormi.FieldByName("Jalki").SaveToStream(out);
    EXPECT_EQ(out.Data(), templ);
    ++seen;
  }
  EXPECT_EQ(seen, 2);
  sormi.Close();

  eng.CloseConnection(1);
  EXPECT_EQ(eng.nxSession.State(), TnxState::Inactive);
  EXPECT_EQ(eng.nxDatabase.State(), TnxState::Inactive);
  EXPECT_EQ(eng.nxWinsockTransport.State(), TnxState::Inactive);
  EXPECT_FALSE(eng.nxRemoteServerEngine.Enabled());
  EXPECT_EQ(server->Stop(), 0);
}

TEST_F(DbEngineOverTcp, RefusedLoginAndLostConnection) {
  std::string users = folder.Sub("users");
  std::ofstream(users) << "admin:secret\n";
  Start({"--users", users});
  TnxDbEng eng;
  Aim(eng);
  eng.nxSession.UserName = "admin";
  eng.nxSession.Password = "wrong";
  try {
    eng.nxSession.Open();
    FAIL() << "logged in with a wrong password";
  } catch (const EnxDatabaseError& e) {
    EXPECT_STREQ(e.what(), "KantaDB: nxSession: Unknown user name or password. [$2734/10036]");
    EXPECT_EQ(e.BareText(), "Unknown user name or password.");
  }
  eng.nxSession.Password = "secret";
  eng.nxSession.Open();

  TnxTable kortti("TblKortti");
  kortti.SetDatabase(&eng.nxDatabase);
  kortti.SetTableName("KORTTI");
  kortti.Open();
  EXPECT_TRUE(kortti.Eof());
  ASSERT_EQ(server->Stop(), 0);
  try {
    kortti.First();
    kortti.Eof();
    FAIL() << "no error after the server stopped";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 11276u);
  }
  EXPECT_TRUE(kortti.Active());
  EXPECT_NO_THROW(kortti.Close());
  EXPECT_NO_THROW(eng.CloseConnection(1));
}

TEST_F(DbEngineOverTcp, TheWindowsDatabasePartOpensTheSessionOrReportsTheRefusal) {
  std::string users = folder.Sub("users");
  std::ofstream(users) << "admin:secret\n";
  Start({"--users", users});
  std::unique_ptr<DatabaseModule> part = std::make_unique<TnxDbEngModule>();
  DbConnectionValues values;
  values.ServerName = "Main";
  values.ServerAddress = "127.0.0.1";
  values.Port = server->Port();
  part->CreateDbEngine();
  part->StoreConnectionValues(values);
  part->OpenConnection(kEngineTcpIp, "TARVOLA");
  // The workstation logs in with the empty account, which this server does not have.
  try {
    part->OpenSession();
    FAIL() << "logged in without an account";
  } catch (const EnxDatabaseError& e) {
    EXPECT_EQ(e.BareText(), "Unknown user name or password.");
  }
  part->CloseConnection(kEngineTcpIp);
  part->ReleaseDbEngine();
  server->Stop();

  Start();
  auto module = std::make_unique<TnxDbEngModule>();
  values.Port = server->Port();
  module->CreateDbEngine();
  module->StoreConnectionValues(values);
  module->OpenConnection(kEngineTcpIp, "TARVOLA");
  module->OpenSession();
  ASSERT_NE(module->DbEng(), nullptr);
  EXPECT_TRUE(module->DbEng()->nxSession.Active());
  TnxTable asiakas("TblAsiakas");
  asiakas.SetDatabase(&module->DbEng()->nxDatabase);
  asiakas.SetTableName("ASIAKAS");
  asiakas.SetIndexFieldNames("AsNo");
  asiakas.Open();
  EXPECT_EQ(asiakas.CurrentIndexName(), "ixAsNo");
  asiakas.Close();
  module->CloseConnection(kEngineTcpIp);
  EXPECT_FALSE(module->DbEng()->nxWinsockTransport.Active());
  module->ReleaseDbEngine();
  EXPECT_EQ(module->DbEng(), nullptr);
}

}  // namespace
}  // namespace vantera
