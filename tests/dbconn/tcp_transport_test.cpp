// The TCP transport against the real kantadb-server on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "tests/dbconn/transport_reply.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::Ask;
using testing::Collect;
using testing::Reply;
using testing::ServerProcess;

// Counts every connection that the transport opens (or tries to).
class CountingTransport : public TnxWinsockTransport {
 public:
  CountingTransport() : TnxWinsockTransport("nxWinsockTransport") {}
  ~CountingTransport() override { Close(); }
  std::atomic<int> opened{0};

 protected:
  std::unique_ptr<TnxBasePooledConnection> CreateConnection() override {
    ++opened;
    return TnxWinsockTransport::CreateConnection();
  }
};

void Aim(TnxWinsockTransport& t, uint16_t port, uint32_t heartbeat,
         const std::string& name = "Main@127.0.0.1") {
  t.SetServerNameRuntime(name);
  t.SetPort(port);
  t.SetHeartbeatInterval(heartbeat);
}

uint32_t CodeOfOpen(TnxBaseTransport& t) {
  try {
    t.Open();
  } catch (const EnxPooledTransportException& e) {
    return e.ErrorCode();
  }
  return 0;
}

TEST(TcpTransport, StartWithHeartbeatOpensTwoConnectionsThatServeLaterRequestsLastInFirst) {
  ServerProcess server({"--trace"});
  CountingTransport t;
  Aim(t, server.Port(), 10000);
  t.Open();
  EXPECT_EQ(t.opened, 2);
  EXPECT_EQ(t.ConnectionCount(), 2u);
  EXPECT_EQ(t.IdleConnectionCount(), 2u);
  EXPECT_TRUE(t.HeartbeatRunning());
  EXPECT_NE(t.TransportId(), 0u);
  EXPECT_TRUE(server.WaitForLog("connection 1: mkOpenTransport"));
  EXPECT_TRUE(server.WaitForLog("connection 2: mkAttachConnection"));
  EXPECT_TRUE(server.WaitForLog("connection 2: mkHeartbeat"));
  EXPECT_TRUE(server.WaitForLog("heartbeat interval 10000 ms"));

  // The start released connection 1 after the heartbeat released connection 2: it is on
  // top of the pool and serves everything that follows one at a time.
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  EXPECT_NE(session, 0u);
  Reply r = Ask(t, session, 77, "");
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.messageId, 77u);
  EXPECT_EQ(r.error, nxcode::kNotSupported);
  EXPECT_FALSE(r.hadData);
  Reply r2 = Ask(t, session, 78, std::string(100, 'x'));
  EXPECT_EQ(r2.error, nxcode::kNotSupported);
  t.Post(0, session, 79, "post", 4, 10000);
  EXPECT_TRUE(server.WaitForLog("connection 1: mkPost (kind 3, "));
  t.CloseSession(0, session, 10000);
  EXPECT_TRUE(server.WaitForLog("session " + std::to_string(session) + " closed"));

  const std::string ids =
      "transport " + std::to_string(t.TransportId()) + ", session " + std::to_string(session);
  EXPECT_EQ(server.CountInLog("connection 1: mkOpenSession"), 1);
  // An empty payload is a frame of total length 32.
  EXPECT_EQ(
      server.CountInLog("connection 1: mkRequest (kind 1, " + ids + ", message 77, length 32)"), 1);
  EXPECT_EQ(
      server.CountInLog("connection 1: mkRequest (kind 1, " + ids + ", message 78, length 132)"),
      1);
  EXPECT_EQ(server.CountInLog("connection 2: mkRequest"), 0);
  EXPECT_EQ(t.opened, 2);

  TnxTransportStatistics s = t.Statistics();
  EXPECT_GE(s.messagesSent, 7u);  // open, attach, heartbeat, login, 2 requests, post, close
  t.Close();
  EXPECT_EQ(t.ConnectionCount(), 0u);
  EXPECT_EQ(t.TransportId(), 0u);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(TcpTransport, RequestsFromSeveralThreadsEachGetTheirOwnReply) {
  ServerProcess server;
  CountingTransport t;
  Aim(t, server.Port(), 0);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  constexpr int kThreads = 4, kRequests = 200;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < kRequests; ++n) {
        uint32_t id = static_cast<uint32_t>(i * 1000 + n + 1);
        Reply r = Ask(t, session, id, std::string(static_cast<size_t>(n), 'a'));
        if (r.calls != 1 || r.messageId != id || r.error != nxcode::kNotSupported)
          ++wrong;
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(wrong, 0);
  // One connection per request running at the same time, never more.
  EXPECT_GE(t.ConnectionCount(), 1u);
  EXPECT_LE(t.ConnectionCount(), static_cast<size_t>(kThreads));
  EXPECT_EQ(t.IdleConnectionCount(), t.ConnectionCount());
}

TEST(TcpTransport, StoppingWhileRequestsRunAnswersEveryRequestOnce) {
  ServerProcess server;
  CountingTransport t;
  Aim(t, server.Port(), 50);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  std::atomic<int> wrong{0}, answered{0}, refused{0};
  std::atomic<bool> go{true};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int n = 0; n < 2000 && go; ++n) {
        try {
          Reply r = Ask(t, session, 3, "abc");
          if (r.calls != 1 ||
              (r.error != nxcode::kNotSupported && r.error != nxcode::kLostCommunication))
            ++wrong;
          ++answered;
        } catch (const EnxPooledTransportException&) {
          ++refused;  // the transport was no longer started
        }
      }
    });
  }
  for (int i = 0; i < 1000 && answered < 50; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  t.Close();
  go = false;
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(t.ConnectionCount(), 0u);
  EXPECT_EQ(t.IdleConnectionCount(), 0u);
}

TEST(TcpTransport, UnreachableServerGivesFourAttemptsAnd11278) {
  CountingTransport t;
  Aim(t, testing::UnusedTcpPort(), 10000);
  EXPECT_EQ(CodeOfOpen(t), nxcode::kCannotConnect);
  EXPECT_EQ(t.opened, 4);
  EXPECT_EQ(t.State(), TnxState::Inactive);
  EXPECT_EQ(t.ConnectionCount(), 0u);
}

TEST(TcpTransport, LostServerFailsTheTransportUntilItIsRestarted) {
  auto server = std::make_unique<ServerProcess>();
  const uint16_t port = server->Port();
  CountingTransport t;
  Aim(t, port, 0);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  ASSERT_EQ(t.opened, 1);
  ASSERT_EQ(server->Stop(), 0);

  // The idle connection breaks, then four connection attempts fail: the transport fails.
  for (int i = 0; i < 5 && !t.Failed(); ++i)
    EXPECT_EQ(Ask(t, session, 5, "x").error, nxcode::kLostCommunication);
  ASSERT_TRUE(t.Failed());
  EXPECT_EQ(t.opened, 5);
  // From now on nothing touches the network.
  EXPECT_EQ(Ask(t, session, 6, "x").error, nxcode::kLostCommunication);
  uint32_t other = 0;
  EXPECT_EQ(t.EstablishSession(0, "", "", 10000, other), nxcode::kLostCommunication);
  EXPECT_EQ(t.opened, 5);

  server = std::make_unique<ServerProcess>(
      std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(port)});
  EXPECT_EQ(Ask(t, session, 7, "x").error, nxcode::kLostCommunication);
  EXPECT_EQ(t.opened, 5);

  t.Close();
  t.Open();
  EXPECT_FALSE(t.Failed());
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  EXPECT_EQ(Ask(t, session, 8, "x").error, nxcode::kNotSupported);
}

TEST(TcpTransport, AnswerOfAnotherKindGives11276AndKeepsTheConnection) {
  ServerProcess server;
  CountingTransport t;
  Aim(t, server.Port(), 0);
  t.Open();
  // The server answers a request for a session it does not know with mkUnsupported.
  Reply r = Ask(t, 424242, 9, "abc");
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.messageId, 9u);
  EXPECT_EQ(r.error, nxcode::kLostCommunication);
  EXPECT_FALSE(r.hadData);
  EXPECT_FALSE(t.Failed());
  EXPECT_EQ(t.IdleConnectionCount(), 1u);
  EXPECT_EQ(t.opened, 1);

  // Guards of the operations.
  Reply bad;
  t.Request(5, 1, 10, nullptr, 0, 0, &Collect, &bad);
  EXPECT_EQ(bad.error, nxcode::kInvalidHandle);
  uint32_t session = 0;
  EXPECT_EQ(t.EstablishSession(3, "", "", 0, session), nxcode::kInvalidHandle);
  t.Close();
  try {
    Ask(t, 1, 1, "");
    ADD_FAILURE() << "a request on a closed transport must raise";
  } catch (const EnxPooledTransportException& e) {
    EXPECT_EQ(e.BareText(), "This component must be started when performing this operation.");
  }
}

class RecordingCompressor : public TnxCompressor {
 public:
  std::vector<size_t> offered;
  size_t Compress(const char*, size_t length, char*, size_t capacity) override {
    offered.push_back(length);
    EXPECT_EQ(capacity, ((length / 16) + 2) * 16);
    return 0;  // never smaller: the payload goes out as it is
  }
  void Decompress(const char*, size_t, char*, size_t) override {}
};

TEST(TcpTransport, OnlyPayloadsLongerThanCompressLimitAreOfferedToTheCompressor) {
  ServerProcess server;
  auto compressor = std::make_shared<RecordingCompressor>();
  TnxBasePooledTransport::RegisterCompressor(7, compressor);
  CountingTransport t;
  Aim(t, server.Port(), 0);
  t.SetCompressLimit(64);
  t.SetCompressType(7);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  for (size_t n : {size_t{0}, size_t{63}, size_t{64}, size_t{65}, size_t{1000}})
    EXPECT_EQ(Ask(t, session, 1, std::string(n, 'z')).error, nxcode::kNotSupported);
  EXPECT_EQ(compressor->offered, (std::vector<size_t>{65, 1000}));
  t.Close();
  TnxBasePooledTransport::RegisterCompressor(7, nullptr);
}

TEST(TcpTransport, HeartbeatIntervalIsAnnouncedAndZeroStartsNoThread) {
  ServerProcess server({"--trace"});
  {
    CountingTransport t;
    Aim(t, server.Port(), 0);
    t.Open();
    EXPECT_FALSE(t.HeartbeatRunning());
    EXPECT_EQ(t.opened, 1);
    EXPECT_TRUE(server.WaitForLog("heartbeat interval 0 ms"));
  }
  CountingTransport t;
  Aim(t, server.Port(), 100);
  t.Open();
  EXPECT_TRUE(t.HeartbeatRunning());
  EXPECT_TRUE(server.WaitForLog("heartbeat interval 100 ms"));
  // The thread keeps beating: wait (bounded) for a few more.
  for (int i = 0; i < 200 && server.CountInLog("mkHeartbeat") < 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_GE(server.CountInLog("mkHeartbeat"), 4);
  t.Close();
  EXPECT_FALSE(t.HeartbeatRunning());
}

TEST(TcpTransport, OnlyThePartAfterTheFirstAtSignNamesTheAddress) {
  EXPECT_EQ(TnxWinsockTransport::AddressOfServerName("Main@10.0.0.5"), "10.0.0.5");
  EXPECT_EQ(TnxWinsockTransport::AddressOfServerName("10.0.0.5"), "10.0.0.5");
  EXPECT_EQ(TnxWinsockTransport::AddressOfServerName("a@b@c"), "b@c");
  EXPECT_EQ(TnxWinsockTransport::DiscoveryWait(100), 300u);
  EXPECT_EQ(TnxWinsockTransport::DiscoveryWait(3000), 1500u);
  EXPECT_EQ(TnxWinsockTransport::DiscoveryWait(10000), 1500u);
  EXPECT_EQ(TnxWinsockTransport::DiscoveryWait(700), 700u);

  ServerProcess server;
  for (const char* name : {"Main@127.0.0.1", "127.0.0.1", "x@localhost"}) {
    CountingTransport t;
    Aim(t, server.Port(), 0, name);
    t.Open();
    uint32_t session = 0;
    EXPECT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u) << name;
  }
  // Changing the port of a started transport is refused; the same value is no change.
  CountingTransport t;
  Aim(t, server.Port(), 0);
  t.Open();
  EXPECT_NO_THROW(t.SetPort(server.Port()));
  EXPECT_THROW(t.SetPort(static_cast<uint16_t>(server.Port() + 1)), EnxPooledTransportException);
}

TEST(TcpTransport, WrongCredentialsGive10036) {
  char path[] = "/tmp/kantadb-users-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string users = "# accounts\nanna:salasana\n";
  ASSERT_EQ(write(fd, users.data(), users.size()), static_cast<ssize_t>(users.size()));
  close(fd);
  ServerProcess server({"--users", path});
  CountingTransport t;
  Aim(t, server.Port(), 0);
  t.Open();
  uint32_t session = 99;
  EXPECT_EQ(t.EstablishSession(0, "", "", 10000, session), nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(session, 0u);
  EXPECT_EQ(t.EstablishSession(0, "anna", "vaara", 10000, session), nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(t.EstablishSession(0, "anna", "salasana", 10000, session), 0u);
  EXPECT_NE(session, 0u);
  EXPECT_FALSE(t.Failed());
  unlink(path);
}

// A peer that accepts one connection, accepts the transport and then answers the first
// request with `answer` before closing.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(Bytes answer) : answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listener_, 4);
    socklen_t len = sizeof sa;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedPeer() {
    thread_.join();
    ::close(listener_);
  }
  uint16_t Port() const { return port_; }

 private:
  static bool ReadFrame(int fd) {
    char head[32];
    size_t have = 0;
    while (have < sizeof head) {
      ssize_t n = ::recv(fd, head + have, sizeof head - have, 0);
      if (n <= 0)
        return false;
      have += static_cast<size_t>(n);
    }
    size_t left = FrameHeader::DecodeFrom(head).PayloadLength();
    char sink[256];
    while (left > 0) {
      ssize_t n = ::recv(fd, sink, std::min(left, sizeof sink), 0);
      if (n <= 0)
        return false;
      left -= static_cast<size_t>(n);
    }
    return true;
  }
  void Run() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0)
      return;
    int fd = ::accept(listener_, nullptr, nullptr);
    FrameHeader accepted;
    accepted.transportId = 5;
    accepted.kind = mkTransportAccepted;
    accepted.SetPayloadLength(4);
    Bytes open;
    accepted.AppendTo(&open);
    open += std::string(4, '\x01');
    if (ReadFrame(fd) && ::send(fd, open.data(), open.size(), MSG_NOSIGNAL) > 0 && ReadFrame(fd))
      ::send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
    ::close(fd);
  }

  Bytes answer_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST(TcpTransport, OversizedShortAndForeignRepliesEndTheRequestWith11276) {
  FrameHeader huge;
  huge.kind = mkReply;
  huge.transportId = 5;
  huge.totalLength = 0xFFFFFFF0u;  // cannot be buffered
  FrameHeader cut = huge;
  cut.SetPayloadLength(1000);  // only 10 bytes follow
  FrameHeader foreign;
  foreign.kind = mkHeartbeat;
  foreign.messageId = 3;
  std::vector<Bytes> answers(3);
  huge.AppendTo(&answers[0]);
  cut.AppendTo(&answers[1]);
  answers[1] += std::string(10, 'x');
  foreign.AppendTo(&answers[2]);
  for (const Bytes& answer : answers) {
    ScriptedPeer peer(answer);
    CountingTransport t;
    Aim(t, peer.Port(), 0);
    t.Open();
    Reply r = Ask(t, 1, 3, "q");
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.messageId, 3u);
    EXPECT_EQ(r.error, nxcode::kLostCommunication);
    EXPECT_FALSE(r.hadData);
  }
}

// Discovery replaced by a fixed answer, to follow server choice alone.
class FixedNamesTransport : public TnxWinsockTransport {
 public:
  std::vector<std::string> names;
  ~FixedNamesTransport() override { Close(); }
  void GetServerNames(std::vector<std::string>& list, uint32_t timeout) override {
    EXPECT_EQ(timeout, Timeout());
    list = names;
  }
};

TEST(ServerChoice, RunsThroughTheMainThreadRunnerAndFallsBackToTheFirstSortedName) {
  int handedOver = 0;
  TnxBaseTransport::SetMainThreadRunner([&](const std::function<void()>& work) {
    ++handedOver;
    work();
  });
  FixedNamesTransport t;
  t.names = {"zeta@1.1.1.1", "Alpha@2.2.2.2", "alpha@2.2.2.2"};
  t.FindServer();
  EXPECT_EQ(t.ServerNameRuntime(), "Alpha@2.2.2.2");
  EXPECT_EQ(handedOver, 1);

  std::vector<std::string> offered;
  t.OnChooseServer = [&](TnxBaseTransport&, const std::vector<std::string>& names,
                         std::string& name, bool& result) {
    offered = names;
    name = "chosen";
    result = true;
  };
  t.FindServer();
  EXPECT_EQ(offered, (std::vector<std::string>{"Alpha@2.2.2.2", "zeta@1.1.1.1"}));
  EXPECT_EQ(t.ServerNameRuntime(), "chosen");

  t.names.clear();
  try {
    t.FindServer();
    ADD_FAILURE() << "no server must raise";
  } catch (const EnxPooledTransportException& e) {
    EXPECT_EQ(e.ErrorCode(), nxcode::kCannotConnect);
  }
  EXPECT_EQ(handedOver, 3);
  TnxBaseTransport::SetMainThreadRunner(nullptr);
}

}  // namespace
}  // namespace vantera
