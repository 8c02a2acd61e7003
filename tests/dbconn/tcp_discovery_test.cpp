// Server discovery against real kantadb-server programs: on the loopback broadcast address
// (127.255.255.255), and with the default 255.255.255.255 inside a private network
// namespace that the test creates.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::ServerProcess;

std::vector<std::string> ServerArgs(const std::string& address, uint16_t port,
                                    const std::string& name) {
  return {"--listen", address + ":" + std::to_string(port), "--name", name};
}

void AimAtLoopbackBroadcast(TnxWinsockTransport& t, uint16_t port) {
  t.SetPort(port);
  t.SetHeartbeatInterval(0);
  t.SetBroadcastAddress("127.255.255.255");
  t.SetLocalAddresses({"127.0.0.1"});
  t.SetTimeout(300);
}

struct Recorder {
  std::vector<bool> findEvents;
  std::vector<std::vector<std::string>> asked;

  void Attach(TnxWinsockTransport& t, bool pickSecond) {
    t.OnFindServers = [this](TnxBaseTransport&, bool starting) { findEvents.push_back(starting); };
    t.OnChooseServer = [this, pickSecond](TnxBaseTransport&, const std::vector<std::string>& names,
                                          std::string& name, bool& result) {
      asked.push_back(names);
      if (pickSecond && names.size() > 1) {
        name = names[1];
        result = true;
      }
    };
  }
};

TEST(TcpDiscovery, OneServerIsUsedWithoutAsking) {
  const uint16_t port = testing::FreeDiscoveryPort();
  ServerProcess server(ServerArgs("127.0.0.2", port, "Solo"));
  TnxWinsockTransport t("nxWinsockTransport");
  AimAtLoopbackBroadcast(t, port);
  Recorder rec;
  rec.Attach(t, false);
  t.Open();
  EXPECT_EQ(t.ServerNameRuntime(), "Solo@127.0.0.2");
  EXPECT_TRUE(rec.asked.empty());
  EXPECT_EQ(rec.findEvents, (std::vector<bool>{true, false}));
  uint32_t session = 0;
  EXPECT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  // Three queries, each answered twice.
  EXPECT_EQ(server.CountInLog("discovery query from 127.0.0.1:" + std::to_string(port)), 3);
}

TEST(TcpDiscovery, TwoServersAreSortedAndTheFirstIsTheFallback) {
  const uint16_t port = testing::FreeDiscoveryPort();
  ServerProcess beta(ServerArgs("127.0.0.3", port, "beta"));
  ServerProcess alpha(ServerArgs("127.0.0.2", port, "Alpha"));
  {
    TnxWinsockTransport t;
    AimAtLoopbackBroadcast(t, port);
    std::vector<std::string> names;
    t.GetServerNames(names, 300);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha@127.0.0.2", "beta@127.0.0.3"}));
  }
  {
    TnxWinsockTransport t;
    AimAtLoopbackBroadcast(t, port);
    Recorder rec;
    rec.Attach(t, false);  // the handler declines
    t.Open();
    ASSERT_EQ(rec.asked.size(), 1u);
    EXPECT_EQ(rec.asked[0], (std::vector<std::string>{"Alpha@127.0.0.2", "beta@127.0.0.3"}));
    EXPECT_EQ(t.ServerNameRuntime(), "Alpha@127.0.0.2");
  }
  TnxWinsockTransport t;
  AimAtLoopbackBroadcast(t, port);
  Recorder rec;
  rec.Attach(t, true);  // the handler picks the second
  t.Open();
  EXPECT_EQ(t.ServerNameRuntime(), "beta@127.0.0.3");
  uint32_t session = 0;
  EXPECT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  EXPECT_TRUE(beta.WaitForLog("session " + std::to_string(session) + " opened"));
}

TEST(TcpDiscovery, NoServerFailsWith11278) {
  const uint16_t port = testing::FreeDiscoveryPort();
  TnxWinsockTransport t("nxWinsockTransport");
  AimAtLoopbackBroadcast(t, port);
  Recorder rec;
  rec.Attach(t, false);
  try {
    t.Open();
    ADD_FAILURE() << "start without a server must fail";
  } catch (const EnxPooledTransportException& e) {
    EXPECT_EQ(e.ErrorCode(), nxcode::kCannotConnect);
    EXPECT_EQ(std::string(e.what()),
              "KantaDB: nxWinsockTransport: Cannot locate or connect to network server. "
              "[$2C0E/11278]");
  }
  EXPECT_EQ(rec.findEvents, (std::vector<bool>{true, false}));
  EXPECT_EQ(t.ServerNameRuntime(), "");
  EXPECT_EQ(t.State(), TnxState::Inactive);
}

// Runs in a child process inside a new network namespace: the default broadcast address,
// the default port, a server answering on it. Returns the child's exit code: 0 found and
// connected, 77 namespaces not permitted, others a failure (reason on stderr).
int DiscoverInPrivateNamespace() {
  if (unshare(CLONE_NEWNET) != 0)
    return 77;
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  if (ioctl(fd, SIOCGIFFLAGS, &ifr) != 0)
    return 77;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  if (ioctl(fd, SIOCSIFFLAGS, &ifr) != 0)
    return 77;
  ::close(fd);
  try {
    ServerProcess server({"--listen", "127.0.0.1:16000", "--name", "Main"});
    TnxWinsockTransport t;
    t.SetHeartbeatInterval(0);
    t.SetLocalAddresses({"127.0.0.1"});
    t.SetTimeout(300);
    t.Open();
    if (t.ServerNameRuntime() != "Main@127.0.0.1") {
      fprintf(stderr, "found %s\n", t.ServerNameRuntime().c_str());
      return 2;
    }
    uint32_t session = 0;
    if (t.EstablishSession(0, "", "", 10000, session) != 0)
      return 3;
    t.Close();
    return server.Stop() == 0 ? 0 : 4;
  } catch (const std::exception& e) {
    fprintf(stderr, "%s\n", e.what());
    return 5;
  }
}

TEST(TcpDiscovery, DefaultBroadcastInsideAPrivateNetworkNamespace) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    _exit(DiscoverInPrivateNamespace());
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "discovery in the namespace did not end";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "network namespaces are not permitted here (unshare(CLONE_NEWNET) failed)";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vantera
