// The encrypted tunnel end to end: the client's encrypted transport over the TCP transport
// against the real kantadb-server, and the server half in process against hostile
// envelopes on a raw tunnel session.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxtsBlowfishRC4SecuredTransport.h"
#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/nxllErrors.h"
#include "protocol/secured_envelope.h"
#include "protocol/tunnel_account.h"
#include "protocol/tunnel_credentials.h"
#include "server/server_options.h"
#include "server/tcp_server.h"
#include "server/tunnel_dispatcher.h"
#include "tests/dbconn/transport_reply.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using namespace std::chrono_literals;
using testing::Ask;
using testing::Collect;
using testing::Reply;
using testing::ServerProcess;

// The client's chain: the encrypted transport over a TCP transport to 127.0.0.1:port.
struct Client {
  Client(uint16_t port, const std::string& key) {
    tcp.SetServerNameRuntime("127.0.0.1");
    tcp.SetPort(port);
    tcp.SetHeartbeatInterval(0);
    secured.SetTransport(&tcp);
    secured.SetKey(key);
    secured.Open();
  }
  Reply Send(uint32_t session, uint32_t messageId, const std::string& data) {
    Reply r = Ask(secured, session, messageId, data, 5000);
    EXPECT_EQ(r.calls, 1);
    return r;
  }
  TnxWinsockTransport tcp{"Tcp"};
  TnxBlowfishRC4SecuredTransport secured{"Secured"};
};

TEST(TunnelServer, RealServerServesTheTunnelWithItsKey) {
  ServerProcess server({"--no-discovery", "--tunnel-key", "avain"});
  {
    Client c(server.Port(), "avain");
    uint32_t a = 0, b = 0;
    ASSERT_EQ(c.secured.EstablishSession(0, "", "", 10000, a), 0u);
    ASSERT_EQ(c.secured.EstablishSession(0, "", "", 10000, b), 0u);
    EXPECT_EQ(server.CountInLog("opened for user \"" + std::string(kTunnelUserName) + "\""), 2);
    EXPECT_TRUE(server.WaitForLog("real session opened for user \"\""));
    // Without a database engine every request is answered 12289: here sealed, with the
    // request's own message id.
    Reply r = c.Send(a, 1234, "kysely");
    EXPECT_EQ(r.error, nxcode::kNotSupported);
    EXPECT_EQ(r.messageId, 1234u);
    EXPECT_FALSE(r.hadData);
    EXPECT_EQ(c.Send(b, 7, "").error, nxcode::kNotSupported);
    c.secured.CloseSession(0, a, 0);
    EXPECT_TRUE(server.WaitForLog("real session of user \"\" closed"));
    EXPECT_EQ(c.Send(b, 8, "x").error, nxcode::kNotSupported);
  }
  {
    // The wrong key: the server refuses the credentials envelope, the client says 11276.
    Client c(server.Port(), "Avain");
    uint32_t s = 0;
    EXPECT_EQ(c.secured.EstablishSession(0, "", "", 10000, s), nxcode::kLostCommunication);
    EXPECT_TRUE(server.WaitForLog("refused: bad MAC"));
  }
  {
    // A wrong password of the real session.
    Client c(server.Port(), "avain");
    uint32_t s = 0;
    EXPECT_EQ(c.secured.EstablishSession(0, "", "x", 10000, s), nxcode::kLostCommunication);
  }
  EXPECT_EQ(server.CountInLog("real session opened"), 2);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(TunnelServer, EmptyKeyAndServersWithoutTheTunnel) {
  {
    ServerProcess server({"--no-discovery", "--tunnel-key", ""});
    Client c(server.Port(), "");
    uint32_t s = 0;
    ASSERT_EQ(c.secured.EstablishSession(0, "", "", 10000, s), 0u);
    EXPECT_EQ(c.Send(s, 3, "abc").error, nxcode::kNotSupported);
    EXPECT_EQ(server.Stop(), 0);
  }
  {
    // A server started without --tunnel-key refuses the tunnel login.
    ServerProcess server({"--no-discovery"});
    Client c(server.Port(), "");
    uint32_t s = 0;
    EXPECT_EQ(c.secured.EstablishSession(0, "", "", 10000, s), nxcode::kUnknownUserOrPassword);
    EXPECT_EQ(server.Stop(), 0);
  }
}

TEST(TunnelServer, TunnelOnlyRefusesPlainSessionsOverTcp) {
  EXPECT_THROW(ParseServerOptions({"--tunnel-only"}), std::invalid_argument);
  EXPECT_TRUE(ParseServerOptions({"--tunnel-key", "k", "--tunnel-only"}).tunnelOnly);
  ServerProcess server({"--no-discovery", "--tunnel-key", "avain", "--tunnel-only"});
  EXPECT_TRUE(server.WaitForLog("only the encrypted tunnel is served"));
  // The workstation with the tunnel key works as before.
  Client c(server.Port(), "avain");
  uint32_t s = 0;
  ASSERT_EQ(c.secured.EstablishSession(0, "", "", 10000, s), 0u);
  EXPECT_EQ(c.Send(s, 3, "abc").error, nxcode::kNotSupported);
  // A plain client with the built-in login key and the workstation's empty account does not.
  TnxWinsockTransport plain{"Plain"};
  plain.SetServerNameRuntime("127.0.0.1");
  plain.SetPort(server.Port());
  plain.SetHeartbeatInterval(0);
  plain.Open();
  uint32_t p = 0;
  EXPECT_EQ(plain.EstablishSession(0, "", "", 10000, p), nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(p, 0u);
  EXPECT_TRUE(server.WaitForLog("plain login of user \"\" refused: only the tunnel is served"));
  EXPECT_EQ(c.Send(s, 4, "").error, nxcode::kNotSupported);
  plain.Close();
  EXPECT_EQ(server.Stop(), 0);
}

TEST(TunnelServer, TunnelSessionsWithoutTheKeyDoNotHoldTheServer) {
  ServerProcess server(
      {"--no-discovery", "--tunnel-key", "avain", "--tunnel-only", "--no-session-timeout", "1000"});
  // The built-in tunnel account opens a tunnel session without the key, but without the
  // key no real session opens inside it: it is no working session.
  TnxWinsockTransport keyless{"Keyless"};
  keyless.SetServerNameRuntime("127.0.0.1");
  keyless.SetPort(server.Port());
  keyless.SetHeartbeatInterval(200);  // heartbeats on time: only the session rule applies
  keyless.Open();
  uint32_t tunnelSession = 0;
  ASSERT_EQ(keyless.EstablishSession(0, std::string(kTunnelUserName), std::string(kTunnelPassword),
                                     10000, tunnelSession),
            0u);
  // The workstation with the key: its tunnel session works once its real session opened.
  Client c(server.Port(), "avain");
  uint32_t s = 0;
  ASSERT_EQ(c.secured.EstablishSession(0, "", "", 10000, s), 0u);
  EXPECT_TRUE(server.WaitForLog("without a working session for too long", 10000));
  // The keyless transport is gone with its tunnel session.
  EXPECT_EQ(Ask(keyless, tunnelSession, 65535, "x", 2000).error, nxcode::kLostCommunication);
  EXPECT_EQ(server.CountInLog("without a working session"), 1);
  EXPECT_EQ(c.Send(s, 5, "abc").error, nxcode::kNotSupported);
  keyless.Close();
  EXPECT_EQ(server.Stop(), 0);
}

TEST(TunnelServer, TunnelKeyOption) {
  EXPECT_FALSE(ParseServerOptions({}).tunnel);
  ServerOptions empty = ParseServerOptions({"--tunnel-key", ""});
  EXPECT_TRUE(empty.tunnel);
  EXPECT_EQ(empty.tunnelKey, "");
  // A UTF-8 command line becomes the Windows-1252 bytes the workstation keys with.
  EXPECT_EQ(ParseServerOptions({"--tunnel-key", "s\xC3\xA4l\xC3\xA4"}).tunnelKey, "s\xE4l\xE4");
  EXPECT_EQ(ParseServerOptions({"--tunnel-key", "s\xE4l"}).tunnelKey, "s\xE4l");
  EXPECT_THROW(ParseServerOptions({"--tunnel-key"}), std::invalid_argument);
}

// Echoes requests; counts real sessions.
class EchoDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession&, uint32_t, std::string_view payload) override {
    return DispatchReply{0, Bytes(payload)};
  }
  void SessionOpened(const ServerSession&) override { ++opened; }
  std::atomic<int> opened{0};
};

// Lets a test damage the next sealed reply on its way out.
class TamperingDispatcher : public RequestDispatcher {
 public:
  explicit TamperingDispatcher(RequestDispatcher& inner) : inner_(inner) {}
  DispatchReply HandleRequest(const ServerSession& s, uint32_t id, std::string_view p) override {
    DispatchReply r = inner_.HandleRequest(s, id, p);
    if (damage_next.exchange(false) && r.payload.size() > 20)
      r.payload[20] = static_cast<char>(r.payload[20] ^ 0x40);
    return r;
  }
  void HandlePost(const ServerSession& s, uint32_t id, std::string_view p) override {
    inner_.HandlePost(s, id, p);
  }
  void SessionOpened(const ServerSession& s) override { inner_.SessionOpened(s); }
  void SessionClosed(const ServerSession& s) override { inner_.SessionClosed(s); }
  std::atomic<bool> damage_next{false};

 private:
  RequestDispatcher& inner_;
};

struct InProcessServer {
  InProcessServer() : echo(new EchoDispatcher) {
    accounts.Add("kassa", "sala");
    AddTunnelAccount(accounts);
    tunnel = std::make_unique<TunnelDispatcher>(std::unique_ptr<RequestDispatcher>(echo), accounts,
                                                "avain", ServerLog::Null());
    tamper = std::make_unique<TamperingDispatcher>(*tunnel);
    ctx = std::make_unique<ServerContext>(
        ServerContext{registry, *tamper, accounts, login, ServerLog::Null()});
    TcpServerOptions options;
    options.port = 0;
    options.discovery = false;
    server = std::make_unique<TcpServer>(*ctx, options);
    server->Start();
  }
  TransportRegistry registry;
  AccountStore accounts;
  LoginChecker login;
  EchoDispatcher* echo;  // owned by `tunnel`
  std::unique_ptr<TunnelDispatcher> tunnel;
  std::unique_ptr<TamperingDispatcher> tamper;
  std::unique_ptr<ServerContext> ctx;
  std::unique_ptr<TcpServer> server;
};

TEST(TunnelServer, TamperedReplyEndsOnlyThatRequest) {
  InProcessServer s;
  Client c(s.server->Port(), "avain");
  uint32_t session = 0;
  ASSERT_EQ(c.secured.EstablishSession(0, "kassa", "sala", 10000, session), 0u);
  EXPECT_EQ(c.Send(session, 5, "tietue").data, "tietue");
  s.tamper->damage_next = true;
  Reply bad = c.Send(session, 5, "tietue");
  EXPECT_EQ(bad.error, nxcode::kLostCommunication);
  EXPECT_FALSE(bad.hadData);
  EXPECT_EQ(c.Send(session, 6, "seuraava").data, "seuraava");
  c.secured.CloseSession(0, session, 0);
  c.secured.Close();
  // The close travels without an answer: wait (bounded) until the server has taken it.
  for (int i = 0; i < 200 && s.tunnel->TunnelSessionCount() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(s.tunnel->TunnelSessionCount(), 0u);
}

// A raw tunnel session on the plain TCP transport: the test seals (or forges) envelopes.
struct RawTunnel {
  explicit RawTunnel(uint16_t port) {
    tcp.SetServerNameRuntime("127.0.0.1");
    tcp.SetPort(port);
    tcp.SetHeartbeatInterval(0);
    tcp.Open();
    EXPECT_EQ(tcp.EstablishSession(0, std::string(kTunnelUserName), std::string(kTunnelPassword), 0,
                                   session),
              0u);
  }
  Reply Send(const Bytes& envelope, uint32_t messageId = kTunnelRequestId) {
    Reply r;
    tcp.Request(0, session, messageId, envelope.data(), static_cast<uint32_t>(envelope.size()), 0,
                &Collect, &r);
    return r;
  }
  TnxWinsockTransport tcp{"Raw"};
  uint32_t session = 0;
};

Bytes Credentials(TnxBlowFishRC4& cipher, const std::string& user, const std::string& password) {
  TunnelCredentials c;
  c.userName = user;
  c.password = password;
  return SealEnvelope(cipher, 0, 0, c.Encode());
}

// Opens a sealed reply with the right key; empty optional-like result on failure.
bool OpenReply(const Reply& r, OpenedEnvelope& out, Bytes& buffer) {
  TnxBlowFishRC4 cipher("avain");
  return r.error == 0 && OpenEnvelope(cipher, r.data, buffer, out) == EnvelopeCheck::Ok;
}

TEST(TunnelServer, HostileEnvelopesNeverOpenARealSession) {
  InProcessServer s;
  TnxBlowFishRC4 right("avain");
  TnxBlowFishRC4 wrong("vaara");
  RawTunnel t(s.server->Port());
  Bytes buffer;
  OpenedEnvelope opened;

  // Bad lengths and forged bytes: an error with no payload.
  for (const Bytes& junk : {Bytes(), Bytes(27, 'x'), Bytes(28, 'x'), Bytes(36, 'x'), Bytes(32, 'x'),
                            Bytes(4096, '\0')}) {
    Reply r = t.Send(junk);
    EXPECT_EQ(r.error, nxcode::kLostCommunication) << junk.size();
    EXPECT_FALSE(r.hadData);
  }
  // Credentials under the wrong key, and truncated or bit-flipped ones.
  const Bytes good = Credentials(right, "kassa", "sala");
  Bytes flipped = good;  // one bit changed, whatever the byte was
  flipped[30] = static_cast<char>(flipped[30] ^ 0x01);
  for (const Bytes& bad : {Credentials(wrong, "kassa", "sala"), good.substr(0, good.size() - 8),
                           good.substr(0, good.size() - 1), flipped}) {
    Reply r = t.Send(bad);
    EXPECT_EQ(r.error, nxcode::kLostCommunication);
    EXPECT_FALSE(r.hadData);
  }
  // A request before the credentials, and a wrong inner message id.
  ASSERT_TRUE(OpenReply(t.Send(SealEnvelope(right, 9, 0, "x")), opened, buffer));
  EXPECT_EQ(opened.word, nxcode::kInvalidHandle);
  EXPECT_EQ(t.Send(good, 12).error, nxcode::kInvalidParameter);
  // Sealed credentials that are not a credentials stream, or name no account.
  ASSERT_TRUE(OpenReply(t.Send(SealEnvelope(right, 0, 0, "\x06\x05kassa")), opened, buffer));
  EXPECT_EQ(opened.word, nxcode::kInvalidParameter);
  EXPECT_TRUE(opened.payload.empty());
  ASSERT_TRUE(OpenReply(t.Send(Credentials(right, "kassa", "SALA")), opened, buffer));
  EXPECT_EQ(opened.word, nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(s.echo->opened.load(), 0);

  // Valid credentials open the real session once; each reply has its own initial value.
  Reply first = t.Send(good);
  ASSERT_TRUE(OpenReply(first, opened, buffer));
  EXPECT_EQ(opened.word, 0u);
  EXPECT_EQ(opened.payload.size(), 4u);
  EXPECT_EQ(s.echo->opened.load(), 1);
  const Bytes request = SealEnvelope(right, 5, 0, "tietue");
  Reply r1 = t.Send(request);
  ASSERT_TRUE(OpenReply(r1, opened, buffer));
  EXPECT_EQ(opened.payload, "tietue");
  // Replays: the same request again, the credentials again here and on a new tunnel.
  EXPECT_EQ(t.Send(request).error, nxcode::kLostCommunication);
  EXPECT_EQ(t.Send(good).error, nxcode::kLostCommunication);
  RawTunnel other(s.server->Port());
  EXPECT_EQ(other.Send(good).error, nxcode::kLostCommunication);
  EXPECT_EQ(s.echo->opened.load(), 1);
  Reply r2 = t.Send(SealEnvelope(right, 5, 0, "tietue"));
  ASSERT_TRUE(OpenReply(r2, opened, buffer));
  EXPECT_NE(r1.data.substr(0, 8), r2.data.substr(0, 8));
  EXPECT_EQ(s.tunnel->RealSessionCount(), 1u);
  t.tcp.CloseSession(0, t.session, 0);
  for (int i = 0; i < 200 && s.tunnel->RealSessionCount() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(s.tunnel->RealSessionCount(), 0u);
}

}  // namespace
}  // namespace vantera
