// The table cursor checks against the real kantadb-server over every transport the
// workstation can choose: plain TCP, TCP through the encrypted tunnel, the local pipe and
// the local registry. Each set-up writes a settings file, reads it as the workstation
// does and hands the values to the connection module, so the settings-to-transport path
// is the one in use.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Profil.h"
#include "app/transport_key.h"
#include "dbclient/nxDbEngModule.h"
#include "tests/dbclient/cursor_checks.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::ServerProcess;
using testing::TempFolder;

struct TransportSetup {
  const char* label;
  const char* engine;  // the Engine setting
  bool secured;        // SecuredTransport=YES and a key on both ends
  uint32_t kind;       // the engine kind the setting must select
  uint32_t lostCode;   // what a request gives once the server is gone
};

const char* const kTunnelKey = "Salainen avain";

// Starts the server for `s` (named "Keskus", with the tunnel key when secured).
std::unique_ptr<ServerProcess> StartServer(TempFolder& folder, const TransportSetup& s) {
  std::vector<std::string> args{"--data", folder.Sub("data"), "--no-discovery", "--name", "Keskus"};
  if (s.secured) {
    args.push_back("--tunnel-key");
    args.push_back(kTunnelKey);
  }
  return std::make_unique<ServerProcess>(args);
}

// Writes the settings file for `s` (TCP aimed at `tcpPort`), reads it as the workstation
// does, hands the values to the module and opens the session.
void ConnectThroughSettings(TnxDbEngModule& module, TempFolder& folder, ServerProcess& server,
                            const TransportSetup& s, uint16_t tcpPort) {
  const std::string ini = folder.Sub("Tarvola.ini");
  {
    std::ofstream out(ini);
    out << "[DataBase]\nAlias=TARVOLA\nEngine=" << s.engine << "\n";
    if (std::string(s.engine) == "TCPIP")
      out << "ServerName=Keskus\nServerAddress=127.0.0.1\nPort=" << tcpPort << "\n";
    else if (std::string(s.engine) == "NAMEDPIPE")
      out << "ServerName=Keskus\n";
    if (s.secured) {
      std::optional<std::string> key = EncodeTransportKey(kTunnelKey);
      ASSERT_TRUE(key.has_value());
      out << "SecuredTransport=YES\nKey=" << *key << "\n";
    }
  }
  Settings settings = ReadSettings(ini);
  ASSERT_EQ(settings.engine_kind, s.kind);
  ASSERT_EQ(settings.db.SecuredTransport, s.secured);

  module.CreateDbEngine();
  TnxDbEng& eng = *module.DbEng();
  // The local transports find the server in its private runtime folder.
  eng.nxNamedPipeTransport.SetRuntimeFolder(server.RuntimeFolder());
  eng.nxNamedPipeTransport.SetPort(server.Port());
  eng.nxCOMTransport.SetRuntimeFolder(server.RuntimeFolder());
  module.StoreConnectionValues(settings.db);
  module.OpenConnection(settings.engine_kind, settings.alias);
  module.OpenSession();

  TnxBaseTransport* expected = nullptr;
  switch (s.kind) {
    case 1:
      expected = s.secured ? static_cast<TnxBaseTransport*>(&eng.nxBlowfishRC4SecuredTransport)
                           : &eng.nxWinsockTransport;
      break;
    case 2:
      expected = &eng.nxNamedPipeTransport;
      break;
    default:
      expected = &eng.nxCOMTransport;
      break;
  }
  ASSERT_EQ(eng.nxRemoteServerEngine.Transport(), expected);
  ASSERT_TRUE(expected->Active());
}

class CursorOverTransport : public ::testing::TestWithParam<TransportSetup> {
 protected:
  TempFolder folder;
  std::unique_ptr<ServerProcess> server;
  TnxDbEngModule module;

  void SetUp() override {
    server = StartServer(folder, GetParam());
    ConnectThroughSettings(module, folder, *server, GetParam(), server->Port());
  }

  void TearDown() override {
    module.CloseConnection(static_cast<int32_t>(GetParam().kind));
    module.ReleaseDbEngine();
    if (server)
      server->Stop();
  }

  TnxDatabase& Database() { return module.DbEng()->nxDatabase; }
};

TEST_P(CursorOverTransport, IndexOrderRangesAndKeyLookup) {
  testing::CheckIndexOrderRangesAndKeyLookup(Database());
}

TEST_P(CursorOverTransport, MasterAndDetailOnAsiakasAndKortti) {
  testing::CheckMasterAndDetailOnAsiakasAndKortti(Database());
}

TEST_P(CursorOverTransport, AppendWithRequiredFieldsAndBlobsRoundTripped) {
  testing::CheckAppendWithRequiredFieldsAndBlobs(Database());
}

// TCP, the pipe and the tunnel report the lost connection (11276); a registry call to a
// server that is gone converts as an unexpected exception (15521).
TEST_P(CursorOverTransport, LostConnectionFailsTheRequestAndTheCursorStaysOpen) {
  testing::CheckLostConnection(
      Database(), module.DbEng()->nxSession, [this] { EXPECT_EQ(server->Stop(), 0); },
      GetParam().lostCode);
}

// A loopback TCP relay that forwards every connection to the server and keeps a copy of
// the bytes in both directions, as a packet capture would.
class CapturingRelay {
 public:
  explicit CapturingRelay(uint16_t serverPort) : server_port_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("relay: cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~CapturingRelay() {
    stop_ = true;
    thread_.join();
    for (auto& [a, b] : pairs_) {
      if (a >= 0)
        ::close(a);
      if (b >= 0)
        ::close(b);
    }
    ::close(listener_);
  }
  uint16_t Port() const { return port_; }
  std::string Captured() {
    std::lock_guard<std::mutex> lock(mutex_);
    return captured_;
  }

 private:
  void Run() {
    while (!stop_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (auto& [a, b] : pairs_) {
        fds.push_back({a, POLLIN, 0});
        fds.push_back({b, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), 50) <= 0)
        continue;
      if (fds[0].revents & POLLIN)
        Accept();
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
          continue;
        auto& pair = pairs_[(i - 1) / 2];
        int from = fds[i].fd;
        int to = from == pair.first ? pair.second : pair.first;
        char buf[65536];
        ssize_t n = ::read(from, buf, sizeof buf);
        if (n <= 0) {  // this side is done: pass the end on and stop watching it
          if (to >= 0)
            ::shutdown(to, SHUT_WR);
          ::close(from);
          (from == pair.first ? pair.first : pair.second) = -1;
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          captured_.append(buf, static_cast<size_t>(n));
        }
        for (ssize_t done = 0; to >= 0 && done < n;) {
          ssize_t w = ::write(to, buf + done, static_cast<size_t>(n - done));
          if (w <= 0)
            break;
          done += w;
        }
      }
    }
  }
  void Accept() {
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
      return;
    int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(server_port_);
    if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(client);
      if (upstream >= 0)
        ::close(upstream);
      return;
    }
    pairs_.emplace_back(client, upstream);
  }

  uint16_t server_port_;
  uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::vector<std::pair<int, int>> pairs_;  // relay thread only, until joined
  std::mutex mutex_;
  std::string captured_;
  std::thread thread_;
};

// Stores a customer and reads it back through the module; returns the bytes the relay saw.
std::string CaptureCustomerRoundTrip(const TransportSetup& s, const std::string& name) {
  TempFolder folder;
  std::unique_ptr<ServerProcess> server = StartServer(folder, s);
  CapturingRelay relay(server->Port());
  TnxDbEngModule module;
  ConnectThroughSettings(module, folder, *server, s, relay.Port());
  {
    auto asiakas =
        testing::CursorTable(module.DbEng()->nxDatabase, "TblAsiakas", "ASIAKAS", "AsNo");
    asiakas->Open();
    asiakas->Append();
    asiakas->FieldByName("AsNo").SetAsString("          12345");
    asiakas->FieldByName("AsNimi").SetAsString(name);
    asiakas->Post();
    asiakas->Close();
    asiakas->Open();
    EXPECT_EQ(asiakas->FieldByName("AsNimi").AsString(), name);
    asiakas->Close();
  }
  module.CloseConnection(1);
  module.ReleaseDbEngine();
  EXPECT_EQ(server->Stop(), 0);
  return relay.Captured();
}

TEST(TunnelCapture, TableDataNeverCrossesTheWireInClear) {
  const std::string name = "Matti Meik\xE4l\xE4inen";
  // The capture sees the name over plain TCP, so its absence below means something.
  std::string plain =
      CaptureCustomerRoundTrip(TransportSetup{"Tcp", "TCPIP", false, 1, 11276}, name);
  EXPECT_NE(plain.find(name), std::string::npos);
  std::string sealed =
      CaptureCustomerRoundTrip(TransportSetup{"Tunnel", "TCPIP", true, 1, 11276}, name);
  EXPECT_GT(sealed.size(), 1000u);
  EXPECT_EQ(sealed.find("Meik\xE4l\xE4inen"), std::string::npos);
  EXPECT_EQ(sealed.find("ASIAKAS"), std::string::npos);
  EXPECT_EQ(sealed.find("12345"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryTransport, CursorOverTransport,
                         ::testing::Values(TransportSetup{"Tcp", "TCPIP", false, 1, 11276},
                                           TransportSetup{"Tunnel", "TCPIP", true, 1, 11276},
                                           TransportSetup{"Pipe", "NAMEDPIPE", false, 2, 11276},
                                           TransportSetup{"Registry", "COM", false, 3, 15521}),
                         [](const ::testing::TestParamInfo<TransportSetup>& p) {
                           return std::string(p.param.label);
                         });

}  // namespace
}  // namespace vantera
