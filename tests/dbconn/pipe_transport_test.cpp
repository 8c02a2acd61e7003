// The pipe transport against the server's pipe half: in process with an echoing
// dispatcher, and the real kantadb-server found by discovery.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dbconn/nxtnNamedPipeTransport.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/pipe_names.h"
#include "tests/dbconn/local_server_fixture.h"
#include "tests/dbconn/transport_reply.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::Ask;
using testing::CodeOfOpen;
using testing::Collect;
using testing::PrivateFolder;
using testing::Reply;

PipeServerOptions PipeOptions(const std::string& folder, const std::string& name,
                              uint16_t port = 16000) {
  PipeServerOptions o;
  o.runtimeDir = folder;
  o.serverName = name;
  o.port = port;
  return o;
}

class PipeTransportTest
    : public testing::LocalServerTest<PipeServer, PipeServerOptions, TnxNamedPipeTransport> {
 protected:
  PipeTransportTest() : LocalServerTest("nxNamedPipeTransport") {}
  void SetUp() override {
    LocalServerTest::SetUp();
    transport.SetHeartbeatInterval(0);
  }
};

TEST_F(PipeTransportTest, RequestsTravelWholeAcrossPipeMessageBoundaries) {
  transport.SetServerNameRuntime(" main @ ");
  EXPECT_EQ(transport.CurrentPipeName(), "\\\\.\\pipe\\KantaDB\\1.0\\16000\\main");
  transport.Open();
  uint32_t session = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 5000, session), 0u);
  ASSERT_NE(session, 0u);

  Reply empty = Ask(transport, session, 41, "");
  EXPECT_EQ(empty.calls, 1);
  EXPECT_EQ(empty.error, 0u);
  EXPECT_FALSE(empty.hadData);
  EXPECT_EQ(empty.messageId, 41u);

  // Frames of 65504 and 65505 bytes both ways, and one of several pipe messages.
  for (size_t payload : {65504u - 32, 65505u - 32, 300000u}) {
    std::string data(payload, 'x');
    data[payload - 1] = 'z';
    Reply r = Ask(transport, session, 42, data);
    ASSERT_EQ(r.error, 0u) << payload;
    EXPECT_TRUE(r.data == data);
  }
  Reply failed = Ask(transport, session, 7, "fail");
  EXPECT_EQ(failed.error, 1007u);
  EXPECT_FALSE(failed.hadData);

  transport.Post(0, session, 5, "abc", 3, 0);
  Reply after = Ask(transport, session, 43, "ok");  // the post arrived before this reply
  EXPECT_EQ(core.dispatcher.posts.load(), 1);
  EXPECT_EQ(core.dispatcher.lastPostSize.load(), 3u);
  EXPECT_EQ(after.data, "ok");

  Reply unknown = Ask(transport, session + 100, 44, "x");
  EXPECT_EQ(unknown.error, nxcode::kLostCommunication);  // mkUnsupported from the server
  transport.CloseSession(0, session, 0);
  Reply closed = Ask(transport, session, 45, "x");
  EXPECT_EQ(closed.error, nxcode::kLostCommunication);
  EXPECT_EQ(core.dispatcher.closed.load(), 1);
  EXPECT_EQ(transport.Statistics().messagesReceived, 5u);
  transport.Close();
}

TEST_F(PipeTransportTest, OtherMachinesAndMissingPipesCannotBeReached) {
  transport.SetServerNameRuntime("Main @ OTHERPC");
  EXPECT_EQ(transport.CurrentPipeName(), "\\\\OTHERPC\\pipe\\KantaDB\\1.0\\16000\\Main");
  EXPECT_EQ(CodeOfOpen(transport), nxcode::kCannotConnect);

  TnxNamedPipeTransport missing("nxNamedPipeTransport");
  missing.SetRuntimeFolder(folder.Path());
  missing.SetServerNameRuntime("Other");
  EXPECT_EQ(CodeOfOpen(missing), nxcode::kCannotConnect);
  missing.SetServerNameRuntime("Main");
  missing.SetPort(16001);  // another instance
  EXPECT_EQ(CodeOfOpen(missing), nxcode::kCannotConnect);
}

TEST_F(PipeTransportTest, DiscoveryListsEveryServerOfTheInstanceAndTheChoiceIsUsed) {
  PipeServer beta(core.context, PipeOptions(folder.Path(), "Beta"));
  PipeServer otherInstance(core.context, PipeOptions(folder.Path(), "Gamma", 16002));
  beta.Start();
  otherInstance.Start();
  const std::string host = LocalComputerName();

  std::vector<std::string> names;
  transport.GetServerNames(names, 300);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Beta@" + host, "Main@" + host}));

  std::vector<std::string> offered;
  transport.SetTimeout(300);
  transport.OnChooseServer = [&](TnxBaseTransport&, const std::vector<std::string>& list,
                                 std::string& chosen, bool& result) {
    offered = list;
    chosen = list.back();
    result = true;
  };
  transport.Open();
  EXPECT_EQ(offered.size(), 2u);
  EXPECT_EQ(transport.ServerNameRuntime(), "Main@" + host);
  uint32_t session = 0;
  EXPECT_EQ(transport.EstablishSession(0, "", "", 0, session), 0u);
  transport.Close();

  // Without a choice the first name of the sorted list is taken.
  transport.SetServerNameRuntime("");
  transport.OnChooseServer = nullptr;
  transport.Open();
  EXPECT_EQ(transport.ServerNameRuntime(), "Beta@" + host);
  transport.Close();
}

TEST(PipeDiscovery, NoAnswerEndsAtTheDeadlineWithAnEmptyList) {
  PrivateFolder folder;
  TnxNamedPipeTransport transport("nxNamedPipeTransport");
  transport.SetRuntimeFolder(folder.Path());
  std::vector<std::string> names{"stale"};
  const auto begun = std::chrono::steady_clock::now();
  transport.GetServerNames(names, 3000);
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_TRUE(names.empty());
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(CodeOfOpen(transport), nxcode::kCannotConnect);  // nothing found
}

TEST(PipeTransportProgram, FindsTheRealServerByDiscoveryAndReachesItsSessions) {
  testing::ServerProcess server({"--name", "Keskus"});
  TnxNamedPipeTransport transport("nxNamedPipeTransport");
  transport.SetRuntimeFolder(server.RuntimeFolder());
  transport.SetPort(server.Port());
  transport.SetTimeout(300);
  transport.Open();
  EXPECT_EQ(transport.ServerNameRuntime(), "Keskus@" + LocalComputerName());
  uint32_t session = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 0, session), 0u);
  EXPECT_NE(session, 0u);
  uint32_t refused = 0;
  EXPECT_EQ(transport.EstablishSession(0, "nobody", "x", 0, refused),
            nxcode::kUnknownUserOrPassword);
  Reply r = Ask(transport, session, 3, "");
  EXPECT_EQ(r.calls, 1);
  EXPECT_NE(r.error, nxcode::kLostCommunication);  // the server's own answer
  transport.CloseSession(0, session, 0);
  transport.Close();
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace vantera
