// The registry transport against the server's registry half: in process with an echoing
// dispatcher, entries made by hand, and the real kantadb-server.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxtcCOMTransport.h"
#include "protocol/local_sockets.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllEventLog.h"
#include "protocol/nxllException.h"
#include "protocol/registry_calls.h"
#include "tests/dbconn/local_server_fixture.h"
#include "tests/dbconn/transport_reply.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::Ask;
using testing::CodeOfOpen;
using testing::Collect;
using testing::LocalServerCore;
using testing::PrivateFolder;
using testing::Reply;

RegistryServerOptions Options(const std::string& folder, const std::string& name) {
  RegistryServerOptions o;
  o.runtimeDir = folder;
  o.serverName = name;
  return o;
}

// A registry entry made by hand: listening (alive) or left behind (stale).
FileDescriptor MakeEntry(const std::string& folder, const std::string& fileName, bool alive) {
  FileDescriptor fd = ListenUnix(folder + "/" + fileName, SOCK_STREAM);
  if (!alive)
    fd.Reset();  // the file stays, nobody answers
  return fd;
}

class ComTransportTest : public testing::LocalServerTest<RegistryServer, RegistryServerOptions,
                                                         TnxRegisteredCOMTransport> {
 protected:
  ComTransportTest() : LocalServerTest("nxCOMTransport") {}
};

TEST_F(ComTransportTest, SessionsRequestsAndPostsAreCallsOnTheServer) {
  transport.SetServerNameRuntime("main");  // found without regard to letter case
  transport.Open();
  EXPECT_EQ(transport.TransportProxyCount(), 1u);
  EXPECT_EQ(core.registry.TransportCount(), 1u);
  uint32_t session = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 5000, session), 0u);
  EXPECT_NE(session, 0u);
  uint32_t refused = 7;
  EXPECT_EQ(transport.EstablishSession(1, "", "", 5000, refused), nxcode::kInvalidHandle);
  EXPECT_EQ(refused, 0u);

  Reply empty = Ask(transport, session, 41, "");
  EXPECT_EQ(empty.calls, 1);
  EXPECT_EQ(empty.error, 0u);
  EXPECT_FALSE(empty.hadData);
  EXPECT_EQ(empty.messageId, 41u);
  std::string big(300000, 'q');
  EXPECT_TRUE(Ask(transport, session, 42, big).data == big);
  Reply failed = Ask(transport, session, 7, "fail");
  EXPECT_EQ(failed.error, 1007u);
  EXPECT_FALSE(failed.hadData);

  transport.Post(0, session, 5, "abcd", 4, 0);
  EXPECT_EQ(core.dispatcher.posts.load(), 1);
  EXPECT_EQ(core.dispatcher.lastPostSize.load(), 4u);

  Reply unknown = Ask(transport, session + 100, 44, "x");
  EXPECT_EQ(unknown.calls, 1);
  EXPECT_EQ(unknown.error, nxcode::kLostCommunication);
  EXPECT_EQ(unknown.messageId, 44u);

  // Closing an unknown session does nothing; closing the real one ends it on the server.
  transport.CloseSession(0, session + 100, 0);
  EXPECT_EQ(transport.ConnectionProxyCount(), 1u);
  transport.CloseSession(0, session, 0);
  EXPECT_EQ(transport.ConnectionProxyCount(), 0u);
  EXPECT_EQ(core.registry.SessionCount(), 0u);
  EXPECT_EQ(core.dispatcher.closed.load(), 1);
  EXPECT_EQ(Ask(transport, session, 45, "x").error, nxcode::kLostCommunication);

  // Stop frees every proxy: the open session and the attachment end on the server.
  uint32_t second = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 0, second), 0u);
  transport.Close();
  EXPECT_EQ(transport.TransportProxyCount(), 0u);
  EXPECT_EQ(transport.ConnectionProxyCount(), 0u);
  EXPECT_EQ(core.registry.TransportCount(), 0u);
  EXPECT_EQ(core.dispatcher.closed.load(), 2);
}

TEST_F(ComTransportTest, RequestsFromSeveralThreadsEachGetTheirOwnReply) {
  transport.SetServerNameRuntime("Main");
  transport.Open();
  uint32_t session = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 0, session), 0u);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string payload = std::to_string(t) + ":" + std::to_string(i);
        Reply r = Ask(transport, session, static_cast<uint32_t>(i), payload);
        if (r.calls != 1 || r.error != 0 || r.data != payload ||
            r.messageId != static_cast<uint32_t>(i))
          ++wrong;
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(core.dispatcher.requests.load(), 200);
  transport.Close();
  EXPECT_EQ(core.registry.TransportCount(), 0u);
}

TEST_F(ComTransportTest, RefusedLoginsLeaveNoConnectionAndAGoneServerFailsRequests) {
  core.accounts.Add("kayttaja", "salasana");
  transport.SetServerNameRuntime("Main");
  MemoryEventLog log;
  transport.SetEventLog(&log);
  transport.Open();
  uint32_t session = 0;
  EXPECT_EQ(transport.EstablishSession(0, "kayttaja", "vaara", 0, session),
            nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(session, 0u);
  EXPECT_EQ(transport.ConnectionProxyCount(), 0u);
  ASSERT_EQ(transport.EstablishSession(0, "kayttaja", "salasana", 0, session), 0u);

  server.Stop();
  Reply r = Ask(transport, session, 9, "x");
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.error, nxcode::kUnexpectedException);  // the failed call, converted
  EXPECT_FALSE(log.Lines().empty());
  EXPECT_EQ(log.Lines().back().rfind("Exception Cvt: ", 0), 0u);
  transport.Post(0, session, 1, "x", 1, 0);  // dropped
  transport.Close();
  EXPECT_EQ(transport.TransportProxyCount(), 0u);
}

TEST_F(ComTransportTest, OnlyEntriesWithTheExactPrefixAndANameAreServers) {
  FileDescriptor lower = MakeEntry(folder.Path(), "#kantadbserver_Lower", true);
  FileDescriptor bare = MakeEntry(folder.Path(), "#KantaDBServer_", true);
  FileDescriptor stale = MakeEntry(folder.Path(), "#KantaDBServer_Gone", false);
  FileDescriptor other = MakeEntry(folder.Path(), "#KantaDBServer_Other%20one", true);
  std::vector<std::string> names;
  transport.GetServerNames(names, 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Main", "Other one"}));

  transport.SetServerNameRuntime("lower");
  EXPECT_EQ(CodeOfOpen(transport), nxcode::kCannotConnect);
  transport.SetServerNameRuntime("Nobody");
  EXPECT_EQ(CodeOfOpen(transport), nxcode::kCannotConnect);
  EXPECT_EQ(transport.TransportProxyCount(), 0u);

  // Several servers: the choice is asked for; without one the first sorted name is used.
  transport.SetServerNameRuntime("");
  transport.Open();
  EXPECT_EQ(transport.ServerNameRuntime(), "Main");
  transport.Close();
}

TEST(RegistryServerEntry, AStaleEntryIsReplacedALiveOneIsNotAndStopRemovesIt) {
  PrivateFolder folder;
  LocalServerCore core;
  FileDescriptor stale = MakeEntry(folder.Path(), "#KantaDBServer_Main", false);
  RegistryServer first(core.context, Options(folder.Path(), "Main"));
  first.Start();
  RegistryServer second(core.context, Options(folder.Path(), "Main"));
  EXPECT_THROW(second.Start(), std::runtime_error);
  TnxRegisteredCOMTransport transport("nxCOMTransport");
  transport.SetRuntimeFolder(folder.Path());
  transport.SetServerNameRuntime("Main");
  transport.Open();  // reaches the first server
  transport.Close();
  first.Stop();
  EXPECT_FALSE(std::filesystem::exists(first.EntryPath()));
}

TEST(ComTransportProgram, AWorkstationWithoutAServerNameFindsTheOneRunningServer) {
  testing::ServerProcess server({"--name", "Keskus"});
  const std::string entry = server.RuntimeFolder() + "/#KantaDBServer_Keskus";
  EXPECT_TRUE(std::filesystem::exists(entry));
  TnxRegisteredCOMTransport transport("nxCOMTransport");
  transport.SetRuntimeFolder(server.RuntimeFolder());
  transport.Open();
  EXPECT_EQ(transport.ServerNameRuntime(), "Keskus");
  uint32_t session = 0;
  ASSERT_EQ(transport.EstablishSession(0, "", "", 0, session), 0u);
  Reply r = Ask(transport, session, 3, "");
  EXPECT_EQ(r.calls, 1);
  EXPECT_NE(r.error, nxcode::kLostCommunication);  // the server's own answer
  transport.Close();
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(entry));
}

}  // namespace
}  // namespace vantera
