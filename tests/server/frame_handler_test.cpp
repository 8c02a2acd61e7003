// The server's frame handling in process: the same answers however the bytes are split,
// sessions shared by the connections of a transport, and the options of the program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/login_block.h"
#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/nxllErrors.h"
#include "server/frame_handler.h"
#include "server/server_options.h"

namespace vantera {
namespace {

Bytes Frame(uint8_t kind, uint32_t transportId, uint32_t sessionId, uint32_t messageId,
            const Bytes& payload = {}) {
  FrameHeader h;
  h.kind = kind;
  h.transportId = transportId;
  h.sessionId = sessionId;
  h.messageId = messageId;
  h.SetPayloadLength(payload.size());
  Bytes b;
  h.AppendTo(&b);
  return b + payload;
}

Bytes Word(uint32_t v) {
  Bytes b;
  PutFixed32(&b, v);
  return b;
}

// Records what the transport half hands to the engine.
class EchoDispatcher : public RequestDispatcher {
 public:
  std::vector<std::string> events;
  DispatchReply HandleRequest(const ServerSession& s, uint32_t messageId,
                              std::string_view payload) override {
    events.push_back("request " + std::to_string(s.sessionId) + " " + std::to_string(messageId));
    return DispatchReply{0, "echo:" + std::string(payload)};
  }
  void HandlePost(const ServerSession& s, uint32_t messageId, std::string_view) override {
    events.push_back("post " + std::to_string(s.sessionId) + " " + std::to_string(messageId));
  }
  void SessionOpened(const ServerSession& s) override {
    events.push_back("opened " + std::to_string(s.sessionId) + " " + s.userName);
  }
  void SessionClosed(const ServerSession& s) override {
    events.push_back("closed " + std::to_string(s.sessionId));
  }
};

struct Server {
  TransportRegistry registry;
  EchoDispatcher dispatcher;
  AccountStore accounts;
  LoginChecker login;
  ServerContext ctx{registry, dispatcher, accounts, login, ServerLog::Null()};
};

Bytes Script() {
  TnxBlowFishRC4 cipher{std::string(kLoginCipherKey)};
  return Frame(mkOpenTransport, 0, 0, 0, Word(0)) +
         Frame(mkOpenSession, 1, 0, 1, SealLoginBlock(cipher, "", "", 100)) +
         Frame(mkRequest, 1, 1, 7, "abc") + Frame(mkPost, 1, 1, 8, "p") + Frame(99, 1, 0, 9) +
         Frame(mkHeartbeat, 1, 0, 0) + Frame(mkCloseSession, 1, 1, 0) + Frame(mkRequest, 1, 1, 10);
}

// The answers with the random transport key blanked.
Bytes Feed(Server& s, const Bytes& input, size_t chunk) {
  FrameHandler h(s.ctx, 1);
  Bytes out;
  for (size_t i = 0; i < input.size(); i += chunk) {
    EXPECT_EQ(h.Consume(input.data() + i, std::min(chunk, input.size() - i), out),
              FrameHandler::Result::Continue);
  }
  if (out.size() >= 36)
    out.replace(32, 4, 4, '\0');
  return out;
}

TEST(FrameHandler, AnswersDoNotDependOnHowTheBytesArrive) {
  Server whole, bytewise, odd;
  Bytes a = Feed(whole, Script(), Script().size());
  EXPECT_EQ(Feed(bytewise, Script(), 1), a);
  EXPECT_EQ(Feed(odd, Script(), 7), a);

  // open transport (36) + session opened (40) + reply "echo:abc" (40) + unsupported (32)
  // + unknown session after close (32).
  ASSERT_EQ(a.size(), 36u + 40 + 40 + 32 + 32);
  FrameHeader reply = FrameHeader::DecodeFrom(std::string_view(a).substr(76));
  EXPECT_EQ(reply.kind, mkReply);
  EXPECT_EQ(reply.messageId, 7u);
  EXPECT_EQ(a.substr(108, 8), "echo:abc");
  FrameHeader unknown = FrameHeader::DecodeFrom(std::string_view(a).substr(116));
  EXPECT_EQ(unknown.kind, mkUnsupported);
  EXPECT_EQ(unknown.errorCode, nxcode::kNotSupported);
  FrameHeader closed = FrameHeader::DecodeFrom(std::string_view(a).substr(148));
  EXPECT_EQ(closed.errorCode, nxcode::kInvalidHandle);
  EXPECT_EQ(whole.dispatcher.events,
            (std::vector<std::string>{"opened 1 ", "request 1 7", "post 1 8", "closed 1"}));
}

TEST(FrameHandler, SessionsBelongToTheTransportNotTheConnection) {
  Server s;
  FrameHandler first(s.ctx, 1), second(s.ctx, 2), stranger(s.ctx, 3);
  Bytes out;
  TnxBlowFishRC4 cipher{std::string(kLoginCipherKey)};
  Bytes open = Frame(mkOpenTransport, 0, 0, 0, Word(50));
  first.Consume(open.data(), open.size(), out);
  const uint32_t tid = FrameHeader::DecodeFrom(out).transportId;
  const uint32_t key = DecodeFixed32(out.data() + 32);
  out.clear();
  Bytes login = Frame(mkOpenSession, tid, 0, 1, SealLoginBlock(cipher, "", "", 0));
  first.Consume(login.data(), login.size(), out);
  const uint32_t sid = DecodeFixed32(out.data() + 32);
  out.clear();

  Bytes attach = Frame(mkAttachConnection, tid, 0, 0, Word(key)) + Frame(mkRequest, tid, sid, 5);
  second.Consume(attach.data(), attach.size(), out);
  ASSERT_EQ(out.size(), 32u + 32 + 5);
  EXPECT_EQ(FrameHeader::DecodeFrom(std::string_view(out).substr(32)).kind, mkReply);

  // Another transport cannot use the session.
  out.clear();
  Bytes other = Frame(mkOpenTransport, 0, 0, 0, Word(0));
  stranger.Consume(other.data(), other.size(), out);
  const uint32_t otherTid = FrameHeader::DecodeFrom(out).transportId;
  out.clear();
  Bytes steal = Frame(mkRequest, otherTid, sid, 6);
  stranger.Consume(steal.data(), steal.size(), out);
  EXPECT_EQ(FrameHeader::DecodeFrom(out).kind, mkUnsupported);

  // Silence past twice the announced 50 ms drops the transport and its session.
  auto dropped =
      s.registry.ExpireSilent(TransportRegistry::Clock::now() + std::chrono::milliseconds(101));
  ASSERT_EQ(dropped.size(), 1u);  // the other transport announced 0: never dropped
  EXPECT_EQ(dropped[0].transportId, tid);
  ASSERT_EQ(dropped[0].sessions.size(), 1u);
  EXPECT_EQ(dropped[0].sessions[0].sessionId, sid);
  EXPECT_FALSE(s.registry.FindSession(tid, sid));
  EXPECT_TRUE(s.registry.Exists(otherTid));
}

TEST(FrameHandler, TransportsLeftWithoutAConnectionAreDroppedAfterTheGrace) {
  // A client that announced no heartbeat (or a huge interval) and died must not keep its
  // sessions, and with them its transaction and record locks, for good.
  Server s;
  TnxBlowFishRC4 cipher{std::string(kLoginCipherKey)};
  const auto grace = TransportRegistry::kDefaultUnconnectedGrace;
  auto handler = std::make_unique<FrameHandler>(s.ctx, 1);
  Bytes out;
  Bytes open = Frame(mkOpenTransport, 0, 0, 0, Word(0xFFFFFFFFu));
  handler->Consume(open.data(), open.size(), out);
  const uint32_t tid = FrameHeader::DecodeFrom(out).transportId;
  const uint32_t key = DecodeFixed32(out.data() + 32);
  out.clear();
  Bytes login = Frame(mkOpenSession, tid, 0, 1, SealLoginBlock(cipher, "", "", 0));
  handler->Consume(login.data(), login.size(), out);
  const uint32_t sid = DecodeFixed32(out.data() + 32);
  out.clear();

  // A second connection attaches; the first one closes: the transport still has one.
  auto second = std::make_unique<FrameHandler>(s.ctx, 2);
  Bytes attach = Frame(mkAttachConnection, tid, 0, 0, Word(key));
  second->Consume(attach.data(), attach.size(), out);
  handler.reset();
  const auto later = TransportRegistry::Clock::now() + grace + std::chrono::milliseconds(1);
  EXPECT_TRUE(s.registry.ExpireSilent(later).empty());

  // A transport opened without frame connections (the local registry calls) is not
  // affected, and the last connection closing starts the grace.
  const uint32_t registryTid = s.registry.OpenTransport(0).id;
  second.reset();
  EXPECT_TRUE(s.registry.ExpireSilent(TransportRegistry::Clock::now() + grace / 2).empty());
  auto dropped = s.registry.ExpireSilent(TransportRegistry::Clock::now() + grace +
                                         std::chrono::milliseconds(1));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].transportId, tid);
  EXPECT_EQ(dropped[0].reason, TransportRegistry::DropReason::Unconnected);
  ASSERT_EQ(dropped[0].sessions.size(), 1u);
  EXPECT_EQ(dropped[0].sessions[0].sessionId, sid);
  EXPECT_FALSE(s.registry.Exists(tid));
  EXPECT_TRUE(s.registry.Exists(registryTid));
}

TEST(FrameHandler, LargeFramesOutsideASessionCloseTheConnectionFromTheHeader) {
  Server s;
  TnxBlowFishRC4 cipher{std::string(kLoginCipherKey)};
  const Bytes big(70000, 'x');  // above 64 KiB
  auto header_only = [](const Bytes& frame) { return frame.substr(0, FrameHeader::kSize); };
  Bytes out;
  {
    // Before any handshake: closed on the header, nothing buffered, nothing answered.
    FrameHandler h(s.ctx, 1);
    Bytes f = header_only(Frame(mkOpenTransport, 0, 0, 0, big));
    EXPECT_EQ(h.Consume(f.data(), f.size(), out), FrameHandler::Result::Close);
    EXPECT_TRUE(out.empty());
  }
  FrameHandler h(s.ctx, 2);
  Bytes open = Frame(mkOpenTransport, 0, 0, 0, Word(0));
  h.Consume(open.data(), open.size(), out);
  const uint32_t tid = FrameHeader::DecodeFrom(out).transportId;
  out.clear();
  Bytes login = Frame(mkOpenSession, tid, 0, 1, SealLoginBlock(cipher, "", "", 0));
  ASSERT_EQ(h.Consume(login.data(), login.size(), out), FrameHandler::Result::Continue);
  const uint32_t sid = DecodeFixed32(out.data() + 32);
  out.clear();

  // A request of the open session may be large; smaller frames of an unknown session are
  // answered as before, and so is a login block of the wrong size.
  Bytes request = Frame(mkRequest, tid, sid, 5, big);
  ASSERT_EQ(h.Consume(request.data(), request.size(), out), FrameHandler::Result::Continue);
  EXPECT_EQ(out.size(), 32u + 5 + big.size());
  out.clear();
  Bytes stray = Frame(mkRequest, tid, sid + 1, 6, "abc");
  ASSERT_EQ(h.Consume(stray.data(), stray.size(), out), FrameHandler::Result::Continue);
  EXPECT_EQ(FrameHeader::DecodeFrom(out).errorCode, nxcode::kInvalidHandle);
  out.clear();
  Bytes odd_login = Frame(mkOpenSession, tid, 0, 1, Bytes(4000, 'x'));
  ASSERT_EQ(h.Consume(odd_login.data(), odd_login.size(), out), FrameHandler::Result::Continue);
  EXPECT_EQ(FrameHeader::DecodeFrom(out).errorCode, nxcode::kInvalidParameter);
  out.clear();

  // Anything else that announces more than 64 KiB: closed on the header alone.
  for (const Bytes& frame :
       {Frame(mkRequest, tid, sid + 1, 7, big), Frame(mkPost, tid + 1, sid, 8, big),
        Frame(mkHeartbeat, tid, 0, 0, big), Frame(mkOpenSession, tid, 0, 1, big)}) {
    Bytes f = header_only(frame);
    EXPECT_EQ(h.Consume(f.data(), f.size(), out), FrameHandler::Result::Close)
        << MessageKindName(FrameHeader::DecodeFrom(f).kind);
    EXPECT_TRUE(out.empty());
  }
}

TEST(ServerOptions, ParsesEveryOptionAndRefusesBadOnes) {
  ServerOptions o = ParseServerOptions({"--listen", "127.0.0.2:0", "--name", "Main", "--data", "/d",
                                        "--max-frame", "4096", "--trace", "--no-discovery"});
  EXPECT_EQ(o.host, "127.0.0.2");
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.name, "Main");
  EXPECT_EQ(o.dataDir, "/d");
  EXPECT_EQ(o.maxFrameLength, 4096u);
  EXPECT_TRUE(o.trace);
  EXPECT_FALSE(o.discovery);
  ServerOptions d = ParseServerOptions({});
  EXPECT_EQ(d.host, "127.0.0.1");
  EXPECT_EQ(d.port, 16000);
  EXPECT_EQ(d.maxFrameLength, 64u << 20);
  EXPECT_TRUE(ParseServerOptions({"--help"}).help);
  for (auto bad : std::vector<std::vector<std::string>>{{"--listen", "16000"},
                                                        {"--listen", "h:65535"},
                                                        {"--listen", "h:x"},
                                                        {"--max-frame", "100"},
                                                        {"--name"},
                                                        {"--bogus"}})
    EXPECT_THROW(ParseServerOptions(bad), std::invalid_argument) << bad[0];
}

TEST(ServerOptions, TunnelKeyFromTheCommandLineOrTheFirstLineOfAFile) {
  EXPECT_FALSE(ParseServerOptions({}).tunnel);
  ServerOptions direct = ParseServerOptions({"--tunnel-key", "Kassa-\xC3\xA4"});  // UTF-8 in
  EXPECT_TRUE(direct.tunnel);
  EXPECT_EQ(direct.tunnelKey, "Kassa-\xE4");  // Windows-1252 inside

  char path[] = "/tmp/vantera-key-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  auto key_of = [&](const std::string& content) {
    EXPECT_EQ(::ftruncate(fd, 0), 0);
    EXPECT_EQ(::pwrite(fd, content.data(), content.size(), 0),
              static_cast<ssize_t>(content.size()));
    return ParseServerOptions({"--tunnel-key-file", path}).tunnelKey;
  };
  EXPECT_EQ(key_of("Kassa avain 2026\r\nsecond line\n"), "Kassa avain 2026");
  EXPECT_EQ(key_of("\xC3\xA4\n"), "\xE4");
  EXPECT_EQ(key_of(""), "");
  EXPECT_TRUE(ParseServerOptions({"--tunnel-key-file", path}).tunnel);
  EXPECT_THROW(key_of(std::string(5000, 'k')), std::invalid_argument);
  ::close(fd);
  ::unlink(path);
  EXPECT_THROW(ParseServerOptions({"--tunnel-key-file", path}), std::invalid_argument);
}

}  // namespace
}  // namespace vantera
