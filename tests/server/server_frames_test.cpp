// kantadb-server against raw frames on loopback: exact answers, refusals, and bad input
// that must not harm other clients.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/login_block.h"
#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/nxllErrors.h"
#include "protocol/transport_frame.h"
#include "tests/server/raw_client.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using testing::Frame;
using testing::Login;
using testing::RawClient;
using testing::ServerProcess;
using testing::Word;

TEST(ServerFrames, HandshakeLoginAndRequestAnswersAreExact) {
  ServerProcess server({"--trace"});
  RawClient a(server.Port());
  a.Send(Frame(mkOpenTransport, 0, 0, 0, Word(0)));
  auto opened = a.ReadFrame();
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->header.kind, mkTransportAccepted);
  EXPECT_EQ(opened->header.totalLength, 36u);
  EXPECT_EQ(opened->header.errorCode, 0);
  EXPECT_EQ(opened->header.reserved, 0x55u);
  const uint32_t tid = opened->header.transportId;
  const uint32_t key = DecodeFixed32(opened->payload.data());
  EXPECT_NE(tid, 0u);

  RawClient b(server.Port());
  b.Send(Frame(mkAttachConnection, tid, 0, 0, Word(key)));
  auto attached = b.ReadFrame();
  ASSERT_TRUE(attached);
  EXPECT_EQ(attached->header.kind, mkTransportAccepted);
  EXPECT_EQ(attached->header.totalLength, 32u);
  EXPECT_EQ(attached->header.errorCode, 0);

  RawClient wrong(server.Port());
  wrong.Send(Frame(mkAttachConnection, tid, 0, 0, Word(key + 1)));
  auto refused = wrong.ReadFrame();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->header.kind, mkTransportAccepted);
  EXPECT_EQ(refused->header.errorCode, nxcode::kLostCommunication);
  EXPECT_TRUE(wrong.ClosedByServer());
  EXPECT_TRUE(server.WaitForLog("refused: unknown transport or wrong key"));

  a.Send(Frame(mkOpenSession, tid, 0, 1, Login("", "")));
  auto session = a.ReadFrame();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->header.kind, mkSessionOpened);
  EXPECT_EQ(session->header.errorCode, 0);
  EXPECT_EQ(session->header.messageId, 1u);
  ASSERT_EQ(session->payload.size(), 8u);
  const uint32_t sid = DecodeFixed32(session->payload.data());
  EXPECT_EQ(session->header.sessionId, sid);

  // The session serves requests on every connection of its transport.
  b.Send(Frame(mkRequest, tid, sid, 0x1234, "payload"));
  auto reply = b.ReadFrame();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->header.kind, mkReply);
  EXPECT_EQ(reply->header.errorCode, nxcode::kNotSupported);
  EXPECT_EQ(reply->header.messageId, 0x1234u);
  EXPECT_EQ(reply->header.sessionId, sid);
  EXPECT_EQ(reply->header.transportId, tid);
  EXPECT_EQ(reply->header.reserved, 0x55u);
  EXPECT_EQ(reply->header.totalLength, 32u);

  // Posts, heartbeats and session closes get no answer; a closed session is unknown.
  a.Send(Frame(mkPost, tid, sid, 3, "x"));
  a.Send(Frame(mkHeartbeat, tid, 0, 0));
  a.Send(Frame(mkCloseSession, tid, sid, 0));
  a.Send(Frame(mkRequest, tid, sid, 4));
  auto gone = a.ReadFrame();
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->header.kind, mkUnsupported);
  EXPECT_EQ(gone->header.errorCode, nxcode::kInvalidHandle);
  EXPECT_EQ(gone->header.messageId, 4u);

  // Kinds the server does not serve, after and before a handshake.
  for (uint8_t kind : {uint8_t{77}, uint8_t{mkOpenCallback}, uint8_t{mkReply}}) {
    a.Send(Frame(kind, tid, 0, 9));
    auto u = a.ReadFrame();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->header.kind, mkUnsupported);
    EXPECT_EQ(u->header.errorCode, nxcode::kNotSupported);
  }
  RawClient fresh(server.Port());
  fresh.Send(Frame(mkRequest, tid, sid, 9, "x"));
  auto early = fresh.ReadFrame();
  ASSERT_TRUE(early);
  EXPECT_EQ(early->header.kind, mkUnsupported);
  EXPECT_EQ(early->header.errorCode, nxcode::kLostCommunication);
  // A frame naming another transport than the connection's.
  b.Send(Frame(mkRequest, tid + 1, sid, 9));
  auto other = b.ReadFrame();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->header.kind, mkUnsupported);
  EXPECT_EQ(other->header.errorCode, nxcode::kLostCommunication);
}

TEST(ServerFrames, LoginBlocksOfWrongSizeIdOrMacAreRefused) {
  ServerProcess server;
  RawClient c(server.Port());
  auto [tid, key] = c.OpenTransport();
  (void)key;
  auto login = [&](uint32_t messageId, const Bytes& block) {
    c.Send(Frame(mkOpenSession, tid, 0, messageId, block));
    auto a = c.ReadFrame();
    EXPECT_TRUE(a);
    EXPECT_EQ(a->header.kind, mkSessionOpened);
    return a ? a->header.errorCode : 0;
  };
  Bytes good = Login("", "");
  EXPECT_EQ(login(1, good.substr(0, 535)), nxcode::kInvalidParameter);
  EXPECT_EQ(login(1, good + "x"), nxcode::kInvalidParameter);
  EXPECT_EQ(login(2, good), nxcode::kInvalidParameter);
  Bytes tampered = good;
  tampered[300] ^= 0x20;
  EXPECT_EQ(login(1, tampered), nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(login(1, Login("someone", "")), nxcode::kUnknownUserOrPassword);
  EXPECT_EQ(login(1, good), 0);
  EXPECT_TRUE(server.WaitForLog("login block with a wrong MAC refused"));
  EXPECT_TRUE(server.WaitForLog("login block of 535 bytes with message id 1 refused"));
}

TEST(ServerFrames, BadLengthsCloseOnlyTheirOwnConnection) {
  ServerProcess server({"--max-frame", "4096"});
  TnxWinsockTransport healthy;
  healthy.SetServerNameRuntime("127.0.0.1");
  healthy.SetPort(server.Port());
  healthy.SetHeartbeatInterval(0);
  healthy.Open();
  uint32_t session = 0;
  ASSERT_EQ(healthy.EstablishSession(0, "", "", 10000, session), 0u);

  {
    RawClient c(server.Port());
    FrameHeader h;
    h.kind = mkOpenTransport;
    h.totalLength = 31;
    Bytes b;
    h.AppendTo(&b);
    c.Send(b);
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("total length 31 below 32; connection closed"));
  }
  {
    RawClient c(server.Port());
    auto [tid, key] = c.OpenTransport();
    (void)key;
    FrameHeader h;
    h.kind = mkRequest;
    h.transportId = tid;
    h.totalLength = 0xFFFFFFF0u;  // never allocated: refused from the header alone
    Bytes b;
    h.AppendTo(&b);
    c.Send(b);
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("above the maximum 4096; connection closed"));
  }
  {
    RawClient c(server.Port());
    c.Send(Frame(mkOpenTransport, 0, 0, 0, "12345"));  // a heartbeat interval of 5 bytes
    auto a = c.ReadFrame();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->header.errorCode, nxcode::kInvalidParameter);
    EXPECT_TRUE(c.ClosedByServer());
  }
  struct Got {
    uint32_t error = 0;
  } got;
  healthy.Request(
      0, session, 1, "x", 1, 0,
      [](uint32_t, uint32_t error, const char*, uint32_t, void* cookie) {
        static_cast<Got*>(cookie)->error = error;
      },
      &got);
  EXPECT_EQ(got.error, nxcode::kNotSupported);
  EXPECT_FALSE(healthy.Failed());
  EXPECT_EQ(healthy.ConnectionCount(), 1u);
}

TEST(ServerFrames, SilentHalfSentAndQuietTransportsAreDropped) {
  ServerProcess server({"--handshake-timeout", "300", "--frame-timeout", "300"});
  RawClient mute(server.Port());
  RawClient half(server.Port());
  half.OpenTransport();
  half.Send(Frame(mkRequest, 1, 1, 1, "abcdef").substr(0, 20));
  RawClient quiet(server.Port());
  auto [tid, key] = quiet.OpenTransport(100);
  (void)key;
  RawClient alsoQuiet(server.Port());
  alsoQuiet.Send(Frame(mkAttachConnection, tid, 0, 0, Word(key)));
  ASSERT_TRUE(alsoQuiet.ReadFrame());

  EXPECT_TRUE(mute.ClosedByServer());
  EXPECT_TRUE(half.ClosedByServer());
  EXPECT_TRUE(quiet.ClosedByServer());
  EXPECT_TRUE(alsoQuiet.ClosedByServer());
  EXPECT_TRUE(server.WaitForLog("dropped: no handshake within 300 ms"));
  EXPECT_TRUE(server.WaitForLog("dropped: frame not complete within 300 ms of its first byte"));
  EXPECT_TRUE(server.WaitForLog("transport " + std::to_string(tid) +
                                " silent for twice its heartbeat interval"));
  // The dropped transport is gone: attaching to it is refused.
  RawClient late(server.Port());
  late.Send(Frame(mkAttachConnection, tid, 0, 0, Word(key)));
  auto a = late.ReadFrame();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->header.errorCode, nxcode::kLostCommunication);
}

TEST(ServerFrames, SigtermStopsTheServerWithOpenConnections) {
  ServerProcess server;
  RawClient idle(server.Port());
  RawClient half(server.Port());
  half.OpenTransport();
  half.Send(Bytes(10, '\x01'));
  TnxWinsockTransport client;
  client.SetServerNameRuntime("127.0.0.1");
  client.SetPort(server.Port());
  client.Open();
  EXPECT_EQ(server.Stop(5000), 0);  // -1 would mean it had to be killed
}

}  // namespace
}  // namespace vantera
