// Names of the local transports, pipe message cutting and the registry call codec.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "protocol/local_sockets.h"
#include "protocol/nxllException.h"
#include "protocol/pipe_messages.h"
#include "protocol/pipe_names.h"
#include "protocol/registry_calls.h"

namespace vantera {
namespace {

TEST(PipeNames, ServerNamesAreTrimmedAndTheLocalMachineIsDot) {
  PipeServerName alone = SplitPipeServerName("Main", "WS01");
  EXPECT_EQ(alone.server, "Main");
  EXPECT_EQ(alone.machine, ".");
  EXPECT_EQ(PipeName(alone, 16000), "\\\\.\\pipe\\KantaDB\\1.0\\16000\\Main");

  PipeServerName other = SplitPipeServerName("  Main @ OTHERPC ", "WS01");
  EXPECT_EQ(other.server, "Main");
  EXPECT_EQ(other.machine, "OTHERPC");
  EXPECT_EQ(PipeName(other, 16001), "\\\\OTHERPC\\pipe\\KantaDB\\1.0\\16001\\Main");

  EXPECT_EQ(SplitPipeServerName("Main@ws01", "WS01").machine, ".");
  EXPECT_EQ(SplitPipeServerName("Main@", "WS01").machine, ".");
  EXPECT_EQ(SplitPipeServerName("a@b@c", "WS01").machine, "b@c");

  EXPECT_EQ(ServerMailslotName(16000), "\\\\.\\mailslot\\KantaDB\\1.0\\16000\\Server");
  EXPECT_EQ(QueryMailslotName(16000), "\\\\*\\mailslot\\KantaDB\\1.0\\16000\\Server");
  EXPECT_EQ(ClientMailslotName("WS01", 16000, 4242, 3),
            "\\\\WS01\\mailslot\\KantaDB\\1.0\\16000\\Client\\4242_3");
  // Pipe names do not depend on letter case; no name leaves the folder.
  EXPECT_EQ(PipeSocketPath("/r", 16000, "main"), PipeSocketPath("/r", 16000, "MAIN"));
  EXPECT_EQ(PipeSocketPath("/r", 7, "../x y"), "/r/kantadb-pipe-7-..%2FX%20Y");
}

TEST(PipeNames, OnlyAWellFormedLocalReplyMailslotIsAnswered) {
  std::string path;
  EXPECT_TRUE(ParseClientMailslotName(ClientMailslotName("ws01", 16000, 12, 3) + '\0', 16000,
                                      "WS01", "/r", path));
  EXPECT_EQ(path, "/r/kantadb-mailslot-16000-Client-12_3");
  EXPECT_TRUE(
      ParseClientMailslotName(ClientMailslotName(".", 16000, 1, 1), 16000, "WS01", "/r", path));
  for (const std::string& bad :
       {ClientMailslotName("OTHER", 16000, 12, 3), ClientMailslotName("WS01", 16001, 12, 3),
        std::string("\\\\WS01\\mailslot\\KantaDB\\1.0\\16000\\Client\\12_3/../../etc"),
        std::string("\\\\WS01\\mailslot\\KantaDB\\1.0\\16000\\Client\\12"),
        std::string("\\\\WS01\\mailslot\\KantaDB\\1.0\\16000\\Client\\_3"), std::string("\\\\"),
        std::string("")}) {
    EXPECT_FALSE(ParseClientMailslotName(bad, 16000, "WS01", "/r", path)) << bad;
  }
  std::string answer = BuildPipeDiscoveryAnswer("Main", "WS01");
  EXPECT_EQ(answer, std::string("Main@WS01\0", 10));
  EXPECT_EQ(BuildPipeDiscoveryAnswer(std::string(500, 'x'), "WS01").size(), kMailslotMessageMax);
  EXPECT_EQ(TextUpToZero("ab\0cd", 5), "ab");
}

TEST(LocalSockets, FileNamesRoundTripAndForeignFormsAreRefused) {
  const std::string name = std::string("#KantaDBServer_a/b%c \xE4");
  std::string back;
  ASSERT_TRUE(DecodeFileName(EncodeFileName(name), back));
  EXPECT_EQ(back, name);
  EXPECT_EQ(EncodeFileName("a/b"), "a%2Fb");
  EXPECT_FALSE(DecodeFileName("a%2", back));
  EXPECT_FALSE(DecodeFileName("a%G0", back));
  EXPECT_FALSE(DecodeFileName("a b", back));
}

// A connected pair of message sockets.
struct PipePair {
  PipePair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
      throw std::runtime_error("socketpair");
    a = FileDescriptor(fds[0]);
    b = FileDescriptor(fds[1]);
  }
  FileDescriptor a, b;
};

std::vector<std::string> Messages(int fd, size_t count) {
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) {
    std::string m(70000, '\0');
    ssize_t n = recv(fd, m.data(), m.size(), 0);
    m.resize(n > 0 ? static_cast<size_t>(n) : 0);
    out.push_back(m);
  }
  return out;
}

TEST(PipeMessages, FramesAreCutAt65504BytesWithTheCountAtOffset20) {
  PipePair p;
  FrameHeader h;
  h.kind = mkRequest;
  h.messageId = 9;
  const std::string fits(65504 - 32, 'a');
  WritePipeFrame(p.a.Get(), h, fits.data(), fits.size());
  std::vector<std::string> one = Messages(p.b.Get(), 1);
  ASSERT_EQ(one[0].size(), 65504u);
  EXPECT_EQ(DecodeFixed32(one[0].data() + 16), 65504u);
  EXPECT_EQ(DecodeFixed32(one[0].data() + 20), 1u);

  const std::string over(65505 - 32, 'b');
  WritePipeFrame(p.a.Get(), h, over.data(), over.size());
  std::vector<std::string> two = Messages(p.b.Get(), 2);
  EXPECT_EQ(two[0].size(), 65504u);
  EXPECT_EQ(two[1], "b");
  EXPECT_EQ(DecodeFixed32(two[0].data() + 20), 2u);

  EXPECT_EQ(PipeMessageCount(32), 1u);
  EXPECT_EQ(PipeMessageCount(65504 * 3), 3u);
  EXPECT_EQ(PipeMessageCount(65504 * 3 + 1), 4u);

  // Read back whole, also a frame of several pieces and an empty one.
  std::vector<char> buffer;
  const std::string big(200000, 'c');
  for (const std::string* payload : {&fits, &over, &big}) {
    WritePipeFrame(p.a.Get(), h, payload->data(), payload->size());
    FrameHeader got = ReadPipeFrame(p.b.Get(), buffer, 64u << 20);
    ASSERT_EQ(got.PayloadLength(), payload->size());
    EXPECT_EQ(std::string(buffer.data() + 32, payload->size()), *payload);
    EXPECT_EQ(got.messageId, 9u);
  }
  WritePipeFrame(p.a.Get(), h, nullptr, 0);
  EXPECT_EQ(ReadPipeFrame(p.b.Get(), buffer, 64u << 20).totalLength, 32u);
}

TEST(PipeMessages, MalformedPipeFramesAreReceiveFailures) {
  std::vector<char> buffer;
  auto fails = [&](const std::vector<std::string>& messages, uint32_t max = 64u << 20) {
    PipePair p;
    for (const std::string& m : messages)
      send(p.a.Get(), m.data(), m.size(), 0);
    p.a.Reset();  // what is missing never comes
    try {
      ReadPipeFrame(p.b.Get(), buffer, max);
    } catch (const EnxOSError&) {
      return true;
    }
    return false;
  };
  FrameHeader h;
  h.kind = mkReply;
  auto head = [&](uint32_t total, uint32_t count) {
    h.totalLength = total;
    h.pipeMessageCount = count;
    Bytes b;
    h.AppendTo(&b);
    return b;
  };
  EXPECT_TRUE(fails({std::string(10, 'x')}));                            // shorter than a header
  EXPECT_TRUE(fails({head(32, 2)}));                                     // wrong count
  EXPECT_TRUE(fails({head(40, 1) + "abc"}));                             // message too short
  EXPECT_TRUE(fails({head(65505, 2) + std::string(65472, 'x'), "yy"}));  // second too long
  EXPECT_TRUE(fails({head(65505, 2) + std::string(65472, 'x')}));        // second missing
  EXPECT_TRUE(fails({head(100, 1) + std::string(68, 'x')}, 64));         // above the maximum
  EXPECT_TRUE(fails({head(65536, 2) + std::string(65600, 'x')}));        // longer than a message
  EXPECT_TRUE(fails({}));                                                // closed
  EXPECT_FALSE(fails({head(65505, 2) + std::string(65472, 'x'), "y"}));
}

TEST(RegistryCalls, EveryMethodRoundTripsAndCutCallsAreRefused) {
  RegistryCall request;
  request.method = RegistryMethod::Request;
  request.transport = {7, 0xDEADBEEF};
  request.connection = 3;
  request.messageId = -5;
  request.timeout = 10000;
  request.data = Bytes("abc");
  RegistryCall establish;
  establish.method = RegistryMethod::EstablishConnection;
  establish.transport = {1, 2};
  establish.userName = WideFromWin1252("K\xE4ytt\xE4j\xE4");
  establish.password = u"";
  establish.timeout = 3000;
  establish.callback = 11;
  establish.clientVersion = 10800;
  RegistryCall post = request;
  post.method = RegistryMethod::Post;
  post.data.reset();  // an empty variant
  RegistryCall emptyArray = request;
  emptyArray.data = Bytes();
  for (const RegistryCall& call : {request, establish, post, emptyArray}) {
    Bytes body = EncodeRegistryCall(call);
    EXPECT_EQ(DecodeRegistryCall(body), call);
    for (size_t cut = 0; cut < body.size(); ++cut)
      EXPECT_THROW(DecodeRegistryCall(std::string_view(body).substr(0, cut)), DecodeError) << cut;
    EXPECT_THROW(DecodeRegistryCall(body + "x"), DecodeError);
  }
  EXPECT_EQ(Win1252FromWide(establish.userName), "K\xE4ytt\xE4j\xE4");
  EXPECT_EQ(establish.userName[1], u'\u00E4');
  EXPECT_EQ(WideFromWin1252("\x80"), u"\u20AC");
  // The exact bytes of a request: method, transport, connection, id, time-out, variant.
  EXPECT_EQ(
      EncodeRegistryCall(request),
      Bytes("\x04\x07\0\0\0\xEF\xBE\xAD\xDE\x03\0\0\0\xFB\xFF\xFF\xFF\x10\x27\0\0\x01\x03\0\0\0abc",
            29));
  EXPECT_THROW(DecodeRegistryCall(Bytes("\x09", 1)), DecodeError);

  RegistryReply reply;
  reply.messageId = 12;
  reply.error = 0;
  EXPECT_EQ(DecodeRegistryReply(RegistryMethod::Request,
                                EncodeRegistryReply(RegistryMethod::Request, reply)),
            reply);  // an empty variant stays empty
  reply.data = Bytes();
  EXPECT_EQ(DecodeRegistryReply(RegistryMethod::Request,
                                EncodeRegistryReply(RegistryMethod::Request, reply)),
            reply);
  RegistryReply failed;
  failed.status = kCallFailed;
  EXPECT_EQ(EncodeRegistryReply(RegistryMethod::Request, failed).size(), 4u);
}

TEST(RegistryCalls, DisplayNamesNeedTheExactPrefixAndAName) {
  EXPECT_EQ(RegistryDisplayName("Main"), "#KantaDBServer_Main");
  EXPECT_EQ(ServerNameOfDisplayName("#KantaDBServer_Main"), "Main");
  EXPECT_EQ(ServerNameOfDisplayName("#kantadbserver_Main"), std::nullopt);
  EXPECT_EQ(ServerNameOfDisplayName("#KantaDBServer_"), std::nullopt);
  EXPECT_EQ(ServerNameOfDisplayName("KantaDBServer_Main"), std::nullopt);
  EXPECT_EQ(RegistryEntryPath("/r", "a/b"), "/r/#KantaDBServer_a%2Fb");
  EXPECT_EQ(DisplayNameOfEntry("#KantaDBServer_a%2Fb"), "#KantaDBServer_a/b");
  EXPECT_EQ(DisplayNameOfEntry("kantadb-pipe-1-X"), std::nullopt);
}

}  // namespace
}  // namespace vantera
