// The encrypted transport over an in-process inner transport that hands everything to the
// tunnel's server half: what the tunnel asks of its inner transport, and every answer the
// client relies on.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dbconn/nxtsBlowfishRC4SecuredTransport.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/secured_envelope.h"
#include "protocol/tunnel_account.h"
#include "server/tunnel_dispatcher.h"
#include "tests/dbconn/loopback_inner_transport.h"
#include "tests/dbconn/transport_reply.h"

namespace vantera {
namespace {

using testing::Ask;
using testing::Collect;
using testing::EchoDispatcher;
using testing::LoopbackInnerTransport;
using testing::Reply;

// Client and server halves wired together in one process.
struct Tunnel {
  explicit Tunnel(const std::string& clientKey, const std::string& serverKey = "",
                  bool serveTunnel = true)
      : echo(new EchoDispatcher) {
    accounts.Add("kassa", "sala");
    if (serveTunnel)
      AddTunnelAccount(accounts);
    server = std::make_unique<TunnelDispatcher>(std::unique_ptr<RequestDispatcher>(echo), accounts,
                                                serverKey, ServerLog::Null());
    inner = std::make_unique<LoopbackInnerTransport>(*server, accounts);
    secured.SetTransport(inner.get());
    secured.SetKey(clientKey);
  }
  ~Tunnel() { secured.Close(); }

  Reply Send(uint32_t session, uint32_t messageId, const std::string& data) {
    Reply r = Ask(secured, session, messageId, data, 5000);
    EXPECT_EQ(r.calls, 1);
    return r;
  }

  AccountStore accounts;
  EchoDispatcher* echo;  // owned by `server`
  std::unique_ptr<TunnelDispatcher> server;
  std::unique_ptr<LoopbackInnerTransport> inner;
  TnxBlowfishRC4SecuredTransport secured{"Secured"};
};

TEST(SecuredTransport, SessionsTravelSealedThroughTunnelSessions) {
  Tunnel t("avain", "avain");
  EXPECT_EQ(t.secured.ServerNameRuntime(), "Tunnel");
  t.secured.Open();
  EXPECT_TRUE(t.inner->Active());  // the inner transport was started first

  uint32_t a = 0, b = 0;
  ASSERT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 7000, a), 0u);
  ASSERT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 7000, b), 0u);
  EXPECT_NE(a, b);
  EXPECT_NE(a, 0u);
  // Two sessions, two tunnel sessions with the built-in account and the caller's time-out.
  auto opens = t.inner->Calls("open");
  ASSERT_EQ(opens.size(), 2u);
  for (const auto& o : opens) {
    EXPECT_EQ(o.user, kTunnelUserName);
    EXPECT_EQ(o.data, kTunnelPassword);
    EXPECT_EQ(o.timeout, 7000u);
  }
  EXPECT_EQ(t.secured.TunnelSessionIds(), (std::vector<uint32_t>{100, 101}));
  EXPECT_EQ(t.secured.SessionCount(), 2u);
  EXPECT_EQ(t.server->RealSessionCount(), 2u);
  EXPECT_EQ(t.echo->opened, (std::vector<std::string>{"kassa", "kassa"}));
  // The credentials went as sealed requests, id 65535, with the caller's time-out.
  auto requests = t.inner->Calls("request");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].messageId, 0xFFFFu);
  EXPECT_EQ(requests[0].timeout, 7000u);
  EXPECT_EQ(requests[0].sessionId, 100u);
  EXPECT_EQ(requests[0].transportId, 0u);
  EXPECT_EQ(requests[0].data.find("kassa"), std::string::npos);  // never in clear

  // Empty payload: a 32-byte envelope, and no data back for an empty reply.
  Reply empty = t.Send(a, 9, "");
  EXPECT_EQ(empty.error, 0u);
  EXPECT_EQ(empty.messageId, 9u);
  EXPECT_FALSE(empty.hadData);
  EXPECT_EQ(t.inner->Calls("request").back().data.size(), 32u);
  EXPECT_EQ(t.Send(a, 9, "abcd").data, "abcd");
  EXPECT_EQ(t.inner->Calls("request").back().data.size(), 32u);
  EXPECT_EQ(t.Send(b, 9, "abcde").data, "abcde");
  EXPECT_EQ(t.inner->Calls("request").back().data.size(), 40u);
  EXPECT_EQ(t.inner->Calls("request").back().sessionId, 101u);
  // The server's error code and data travel inside the envelope.
  Reply coded = t.Send(b, 2, "tietue");
  EXPECT_EQ(coded.error, 8706u);
  EXPECT_EQ(coded.messageId, 2u);
  EXPECT_EQ(coded.data, "tietue");
  EXPECT_EQ(t.inner->Calls("request").back().data.find("tietue"), std::string::npos);
  std::string big(100000, 'x');
  EXPECT_EQ(t.Send(a, 3, big).data, big);

  // Posts: inner id 65534, the real message id inside.
  t.secured.Post(0, a, 44, "ilmoitus", 8, 3000);
  ASSERT_EQ(t.inner->Calls("post").size(), 1u);
  EXPECT_EQ(t.inner->Calls("post")[0].messageId, 0xFFFEu);
  EXPECT_EQ(t.inner->Calls("post")[0].data.size(), 40u);
  EXPECT_EQ(t.echo->posts, (std::vector<std::string>{"44:ilmoitus"}));

  // Closing a session closes its tunnel session with time-out 10000; the handle is dead.
  t.secured.CloseSession(0, a, 1234);
  auto closes = t.inner->Calls("close");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].sessionId, 100u);
  EXPECT_EQ(closes[0].timeout, 10000u);
  EXPECT_EQ(t.server->RealSessionCount(), 1u);
  EXPECT_EQ(t.echo->closed.size(), 1u);
  EXPECT_EQ(t.Send(a, 9, "x").error, nxcode::kLostCommunication);
  EXPECT_EQ(t.secured.TunnelSessionIds(), (std::vector<uint32_t>{101}));
  // A non-zero transport id keeps the session.
  t.secured.CloseSession(5, b, 0);
  EXPECT_EQ(t.secured.SessionCount(), 1u);

  // Bad handles and transport ids give 11276.
  EXPECT_EQ(t.Send(0, 9, "x").error, nxcode::kLostCommunication);
  EXPECT_EQ(t.Send(b + 1000, 9, "x").error, nxcode::kLostCommunication);
  Reply wrongTransport;
  t.secured.Request(3, b, 9, "x", 1, 0, &Collect, &wrongTransport);
  EXPECT_EQ(wrongTransport.error, nxcode::kLostCommunication);
  EXPECT_EQ(wrongTransport.messageId, 9u);
  uint32_t none = 1;
  EXPECT_EQ(t.secured.EstablishSession(1, "kassa", "sala", 0, none), nxcode::kLostCommunication);
  EXPECT_EQ(none, 0u);

  // The key cannot change while started; the cipher pool is emptied when inactive.
  EXPECT_THROW(t.secured.SetKey("uusi"), EnxSecuredTransportException);
  EXPECT_GT(t.secured.PooledCipherCount(), 0u);
  // Stopping destroys the remaining session object, which closes its tunnel session.
  t.secured.Close();
  EXPECT_EQ(t.inner->Calls("close").size(), 2u);
  EXPECT_EQ(t.inner->Calls("close")[1].sessionId, 101u);
  EXPECT_EQ(t.server->TunnelSessionCount(), 0u);
  EXPECT_EQ(t.secured.PooledCipherCount(), 0u);
  t.secured.SetKey("uusi");
  EXPECT_EQ(t.secured.Key(), "uusi");
}

TEST(SecuredTransport, EmptyKeysOnBothEndsWork) {
  Tunnel t("", "");
  t.secured.Open();
  uint32_t s = 0;
  ASSERT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 0, s), 0u);
  EXPECT_EQ(t.Send(s, 7, "hei").data, "hei");
}

TEST(SecuredTransport, RefusalsBecomeTheirCodesAndLeaveNoSessionBehind) {
  {
    // Wrong key on one end: the server cannot open the credentials.
    Tunnel t("avain", "toinen");
    t.secured.Open();
    uint32_t s = 7;
    EXPECT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 0, s), nxcode::kLostCommunication);
    EXPECT_EQ(s, 0u);
    EXPECT_TRUE(t.echo->opened.empty());
    EXPECT_EQ(t.secured.SessionCount(), 0u);
    // The tunnel session that was opened for it is closed again.
    ASSERT_EQ(t.inner->Calls("close").size(), 1u);
    EXPECT_EQ(t.inner->Calls("close")[0].timeout, 10000u);
    EXPECT_EQ(t.inner->OpenSessions(), 0u);
  }
  {
    // An empty key against a keyed server, and the other way round.
    Tunnel t1("", "avain");
    Tunnel t2("avain", "");
    for (Tunnel* t : {&t1, &t2}) {
      t->secured.Open();
      uint32_t s = 0;
      EXPECT_EQ(t->secured.EstablishSession(0, "kassa", "sala", 0, s), nxcode::kLostCommunication);
    }
  }
  {
    // Wrong password of the real session.
    Tunnel t("k", "k");
    t.secured.Open();
    uint32_t s = 0;
    EXPECT_EQ(t.secured.EstablishSession(0, "kassa", "SALA", 0, s), nxcode::kLostCommunication);
    EXPECT_EQ(t.secured.EstablishSession(0, std::string(kTunnelUserName),
                                         std::string(kTunnelPassword), 0, s),
              nxcode::kLostCommunication);
    EXPECT_TRUE(t.echo->opened.empty());
    EXPECT_EQ(t.inner->OpenSessions(), 0u);
  }
  {
    // A server that does not serve the tunnel refuses the tunnel login: 10036 as it is.
    Tunnel t("k", "k", false);
    t.secured.Open();
    uint32_t s = 0;
    EXPECT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 0, s), nxcode::kUnknownUserOrPassword);
    EXPECT_TRUE(t.inner->Calls("request").empty());
    EXPECT_TRUE(t.inner->Calls("close").empty());
  }
}

TEST(SecuredTransport, DamagedRepliesEndOnlyTheirRequest) {
  Tunnel t("k", "k");
  t.secured.Open();
  uint32_t s = 0;
  ASSERT_EQ(t.secured.EstablishSession(0, "kassa", "sala", 0, s), 0u);
  const std::vector<std::function<void(Bytes&)>> damages = {
      [](Bytes& p) { p[20] = static_cast<char>(p[20] ^ 1); },  // enciphered byte
      [](Bytes& p) { p[9] = static_cast<char>(p[9] ^ 1); },    // MAC
      [](Bytes& p) { p[0] = static_cast<char>(p[0] ^ 1); },    // initial value
      [](Bytes& p) { p.resize(p.size() - 8); },                // truncated
      [](Bytes& p) { p.resize(p.size() - 3); },                // not a multiple of 8
      [](Bytes& p) { p.resize(24); },                          // shorter than 28
      [](Bytes& p) { p.clear(); },                             // nothing
  };
  for (size_t i = 0; i < damages.size(); ++i) {
    t.inner->tamper = damages[i];
    Reply bad = t.Send(s, 5, "tietue");
    EXPECT_EQ(bad.error, nxcode::kLostCommunication) << i;
    EXPECT_EQ(bad.messageId, 5u);  // under the request's own id
    EXPECT_FALSE(bad.hadData);
    t.inner->tamper = nullptr;
    EXPECT_EQ(t.Send(s, 5, "tietue").data, "tietue") << i;
  }
  // A failed inner transport: every request ends with its error, posts are dropped.
  t.inner->failed = true;
  Reply lost = t.Send(s, 5, "x");
  EXPECT_EQ(lost.error, nxcode::kLostCommunication);
  EXPECT_EQ(lost.messageId, 5u);
  t.secured.Post(0, s, 5, "x", 1, 0);
  EXPECT_TRUE(t.echo->posts.empty());
}

TEST(SecuredTransport, StartNeedsAnInnerTransport) {
  TnxBlowfishRC4SecuredTransport lone("Lone");
  lone.SetServerNameRuntime("palvelin");
  try {
    lone.Open();
    FAIL() << "started without an inner transport";
  } catch (const EnxSecuredTransportException& e) {
    EXPECT_EQ(e.ErrorCode(), nxcode::kCannotConnect);
  }
  EXPECT_EQ(lone.State(), TnxState::Inactive);

  // With one, any name given becomes "Tunnel"; the inner transport stopping stops it too.
  EchoDispatcher echo;
  AccountStore accounts;
  LoopbackInnerTransport inner(echo, accounts);
  lone.SetTransport(&inner);
  lone.SetServerNameRuntime("palvelin");
  EXPECT_EQ(lone.ServerNameRuntime(), "Tunnel");
  lone.Open();
  EXPECT_TRUE(lone.Active());
  EXPECT_THROW(lone.SetTransport(nullptr), EnxSecuredTransportException);
  inner.Close();
  EXPECT_FALSE(lone.Active());
  uint32_t s = 0;
  EXPECT_THROW(lone.EstablishSession(0, "", "", 0, s), EnxSecuredTransportException);
}

}  // namespace
}  // namespace vantera
