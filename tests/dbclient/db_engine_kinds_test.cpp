// The connection module's transport kinds: what OpenConnection wires for each kind, the
// server choice handler, and a session with a table over the local pipe and the local
// registry of the real kantadb-server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbclient/nxDbEngine.h"
#include "protocol/nxllException.h"
#include "protocol/pipe_names.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::ServerProcess;
using testing::TempFolder;

class ScriptedChooser : public ServerChooser {
 public:
  bool SelectServer(const std::vector<std::string>& names, std::string& serverName) override {
    offered = names;
    serverName = answer;
    return confirm;
  }
  std::vector<std::string> offered;
  std::string answer;
  bool confirm = false;
};

void FillEverything(TnxDbEng& eng) {
  eng.Values.ServerName = "Main";
  eng.Values.ServerAddress = "10.1.2.3";
  eng.Values.Port = 5;
  eng.Values.CompressLimit = 1;
  eng.Values.SecuredTransport = true;
  eng.Values.Key = "abc";
}

TEST(DbEngineKinds, LocalKindsTakeOnlyTheServerNameAndIgnoreTheTcpSettings) {
  for (uint32_t kind : {2u, 3u}) {
    TnxDbEng eng;
    FillEverything(eng);
    eng.OpenConnection(kind, "");
    TnxBaseTransport* expected =
        kind == 2 ? static_cast<TnxBaseTransport*>(&eng.nxNamedPipeTransport) : &eng.nxCOMTransport;
    EXPECT_EQ(eng.nxRemoteServerEngine.Transport(), expected);
    EXPECT_EQ(expected->ServerNameRuntime(), "Main");
    EXPECT_TRUE(eng.nxRemoteServerEngine.Enabled());
    EXPECT_EQ(eng.nxSession.ServerEngine(), &eng.nxRemoteServerEngine);
    EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "");
    EXPECT_EQ(eng.nxWinsockTransport.Port(), 16000);
    EXPECT_EQ(eng.nxWinsockTransport.CompressLimit(), 512u);
    EXPECT_EQ(eng.nxNamedPipeTransport.Port(), 16000);
    EXPECT_EQ(eng.nxBlowfishRC4SecuredTransport.Key(), "");
    EXPECT_EQ(eng.nxDatabase.AliasName(), "Tarvola");  // an empty alias keeps it
    EXPECT_EQ(eng.nxSession.State(), TnxState::Inactive);
    EXPECT_EQ(expected->State(), TnxState::Inactive);
  }
}

TEST(DbEngineKinds, TcpNamesPortsAndTheSecuredBranch) {
  TnxDbEng eng;
  eng.Values.ServerName = "Main";  // a label without an address: discovery
  eng.Values.Port = 0;
  eng.Values.SecuredTransport = false;
  eng.Values.Key = "unused";
  eng.OpenConnection(1, "KANTA");
  EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "");
  EXPECT_EQ(eng.nxWinsockTransport.Port(), 16000);
  EXPECT_EQ(eng.nxRemoteServerEngine.Transport(), &eng.nxWinsockTransport);
  EXPECT_EQ(eng.nxBlowfishRC4SecuredTransport.Key(), "");  // the key is not used
  EXPECT_EQ(eng.nxDatabase.AliasName(), "KANTA");

  eng.Values.ServerName = "";
  eng.Values.ServerAddress = "127.0.0.1";  // an address without a label: discovery too
  eng.OpenConnection(1, "");
  EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "");

  FillEverything(eng);
  eng.OpenConnection(1, "");
  EXPECT_EQ(eng.nxWinsockTransport.ServerNameRuntime(), "Main@10.1.2.3");
  EXPECT_EQ(eng.nxWinsockTransport.Port(), 5);
  EXPECT_EQ(eng.nxWinsockTransport.CompressLimit(), 1u);
  EXPECT_EQ(eng.nxRemoteServerEngine.Transport(), &eng.nxBlowfishRC4SecuredTransport);
  EXPECT_EQ(eng.nxBlowfishRC4SecuredTransport.Transport(), &eng.nxWinsockTransport);
  EXPECT_EQ(eng.nxBlowfishRC4SecuredTransport.Key(), "abc");

  // Kind 0: the alias is a path.
  eng.OpenConnection(0, "/data/kanta");
  EXPECT_EQ(eng.nxDatabase.AliasPath(), "/data/kanta");

  eng.OpenConnection(9, "");
  EXPECT_FALSE(eng.nxRemoteServerEngine.Enabled());
}

TEST(DbEngineKinds, TheChoiceHandlerAsksTheChooserOfTheModule) {
  TnxDbEng eng;
  const std::vector<std::string> names{"Alpha@A", "Beta@B"};
  std::string chosen = "stale";
  bool result = true;
  eng.nxWinsockTransportChooseServer(eng.nxWinsockTransport, names, chosen, result);
  EXPECT_FALSE(result);  // no dialog installed
  EXPECT_EQ(chosen, "");

  ScriptedChooser chooser;
  eng.SetServerChooser(&chooser);
  chooser.answer = "Beta@B";
  chooser.confirm = true;
  eng.nxWinsockTransport.OnChooseServer(eng.nxWinsockTransport, names, chosen, result);
  EXPECT_TRUE(result);
  EXPECT_EQ(chosen, "Beta@B");
  EXPECT_EQ(chooser.offered, names);

  chooser.confirm = false;  // cancelled
  eng.nxCOMTransport.OnChooseServer(eng.nxCOMTransport, names, chosen, result);
  EXPECT_FALSE(result);
  EXPECT_EQ(chosen, "");
  ASSERT_TRUE(eng.nxNamedPipeTransport.OnChooseServer);
}

TEST(DbEngineSecured, KindOneWithSecuredTransportTalksThroughTheTunnel) {
  TempFolder folder;
  ServerProcess server({"--data", folder.Sub("data"), "--no-discovery", "--tunnel-key", "avain"});
  TnxDbEng eng;
  eng.Values.ServerName = "Main";
  eng.Values.ServerAddress = "127.0.0.1";
  eng.Values.Port = server.Port();
  eng.Values.SecuredTransport = true;
  eng.Values.Key = "avain";
  eng.OpenConnection(1, "");
  eng.nxSession.Open();
  EXPECT_TRUE(eng.nxBlowfishRC4SecuredTransport.Active());
  EXPECT_TRUE(eng.nxWinsockTransport.Active());
  TnxTable kortti("TblKortti");
  kortti.SetDatabase(&eng.nxDatabase);
  kortti.SetTableName("KORTTI");
  kortti.Open();
  EXPECT_TRUE(kortti.Eof());
  kortti.Close();
  eng.CloseConnection(1);
  EXPECT_EQ(eng.nxBlowfishRC4SecuredTransport.State(), TnxState::Inactive);
  EXPECT_EQ(eng.nxWinsockTransport.State(), TnxState::Inactive);
  EXPECT_EQ(server.Stop(), 0);
}

// A session and a table over each local transport of the real server.
class DbEngineLocal : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DbEngineLocal, SessionAndTableOverTheLocalTransport) {
  TempFolder folder;
  ServerProcess server({"--data", folder.Sub("data"), "--no-discovery", "--name", "Keskus"});
  TnxDbEng eng;
  eng.nxNamedPipeTransport.SetRuntimeFolder(server.RuntimeFolder());
  eng.nxNamedPipeTransport.SetPort(server.Port());
  eng.nxCOMTransport.SetRuntimeFolder(server.RuntimeFolder());
  // Kind 3 finds the one registered server without a name; the pipe is named.
  eng.Values.ServerName = GetParam() == 2 ? "keskus" : "";
  eng.OpenConnection(GetParam(), "");
  eng.nxSession.Open();
  EXPECT_TRUE(eng.nxRemoteServerEngine.Transport()->Active());

  TnxTable sormi("TblAsSormi");
  sormi.SetDatabase(&eng.nxDatabase);
  sormi.SetTableName("ASSORMI");
  sormi.SetIndexFieldNames("KorttiLyh");
  sormi.Open();
  Bytes templ(70000, '\0');  // a record of more than one pipe message
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
    EXPECT_TRUE(out.Data() == templ);
    ++seen;
  }
  EXPECT_EQ(seen, 2);
  sormi.Close();

  eng.CloseConnection(static_cast<int32_t>(GetParam()));
  EXPECT_EQ(eng.nxSession.State(), TnxState::Inactive);
  EXPECT_EQ(eng.nxRemoteServerEngine.Transport()->State(), TnxState::Inactive);
  EXPECT_FALSE(eng.nxRemoteServerEngine.Enabled());
  EXPECT_EQ(server.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(PipeAndRegistry, DbEngineLocal, ::testing::Values(2u, 3u));

}  // namespace
}  // namespace vantera
