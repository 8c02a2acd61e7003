// Bytes of the transport: the frame header, the login block, discovery datagrams and the
// socket error messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/discovery_datagrams.h"
#include "protocol/login_block.h"
#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/nxllException.h"
#include "protocol/transport_frame.h"
#include "protocol/winsock_errors.h"

namespace vantera {
namespace {

TEST(TransportFrame, HeaderBytesAreLittleEndianAtTheirOffsets) {
  FrameHeader h;
  h.transportId = 0x04030201;
  h.sessionId = 0x08070605;
  h.reserved = 0x0C0B0A09;
  h.messageId = 0x100F0E0D;
  h.SetPayloadLength(4);
  h.pipeMessageCount = 0x18171615;
  h.errorCode = 0x2C0C;
  h.kind = mkSessionOpened;
  h.compressType = 0x1B;
  h.uncompressedLength = 0x1F1E1D1C;
  Bytes b;
  h.AppendTo(&b);
  EXPECT_EQ(b, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10"
                           "\x24\x00\x00\x00\x15\x16\x17\x18\x0C\x2C\x15\x1B\x1C\x1D\x1E\x1F",
                           32));
  EXPECT_EQ(FrameHeader::DecodeFrom(b), h);
  EXPECT_EQ(h.PayloadLength(), 4u);
  EXPECT_TRUE(h.IsCompressed());

  // Every truncated prefix fails cleanly.
  for (size_t n = 0; n < b.size(); ++n)
    EXPECT_THROW(FrameHeader::DecodeFrom(std::string_view(b).substr(0, n)), DecodeError);

  // A total length of 32 or less announces no payload; a length without a compression
  // type is a plain payload.
  FrameHeader small;
  small.totalLength = 7;
  EXPECT_EQ(small.PayloadLength(), 0u);
  small.uncompressedLength = 100;
  EXPECT_FALSE(small.IsCompressed());
  EXPECT_EQ(MessageKindName(mkHeartbeat), "mkHeartbeat");
  EXPECT_EQ(MessageKindName(77), "unknown kind");
}

TEST(LoginBlock, LayoutAndCipherRoundTrip) {
  LoginBlock clear;
  clear.userName = "k\xE4ytt\xE4j\xE4";
  clear.password = std::string(300, 'p');
  clear.timeout = 10000;
  Bytes bytes = clear.Encode();
  ASSERT_EQ(bytes.size(), 536u);
  EXPECT_EQ(bytes[0], 8);
  EXPECT_EQ(bytes.substr(1, 8), "k\xE4ytt\xE4j\xE4");
  EXPECT_EQ(static_cast<unsigned char>(bytes[256]), 255);  // cut to 255 characters
  EXPECT_EQ(bytes.substr(512, 8), std::string("\x10\x27\x00\x00\x30\x2A\x00\x00", 8));

  ASSERT_EQ(kLoginCipherKey.size(), 64u);
  TnxBlowFishRC4 sender{std::string(kLoginCipherKey)};
  TnxBlowFishRC4 receiver{std::string(kLoginCipherKey)};
  Bytes sealed = SealLoginBlock(sender, "anna", "salasana", 5000);
  ASSERT_EQ(sealed.size(), 536u);
  EXPECT_NE(sealed.substr(0, 5), std::string("\x04"
                                             "anna",
                                             5));  // enciphered

  // The receiver deciphers with the clear initial value and checks the clear MAC.
  TnxBlowFishRC4 check{std::string(kLoginCipherKey)};
  Bytes plain = sealed;
  check.SetIV(DecodeFixed32(plain.data() + 520), DecodeFixed32(plain.data() + 524));
  check.Decrypt(plain.data(), 520);
  CipherWords mac = check.MAC();
  EXPECT_EQ(mac.w0, DecodeFixed32(sealed.data() + 528));
  EXPECT_EQ(mac.w1, DecodeFixed32(sealed.data() + 532));

  LoginBlock opened;
  ASSERT_EQ(OpenLoginBlock(receiver, sealed, opened), LoginBlockCheck::Ok);
  EXPECT_EQ(opened.userName, "anna");
  EXPECT_EQ(opened.password, "salasana");
  EXPECT_EQ(opened.timeout, 5000u);
  EXPECT_EQ(opened.clientVersion, 10800u);

  Bytes tampered = sealed;
  tampered[100] ^= 1;
  EXPECT_EQ(OpenLoginBlock(receiver, tampered, opened), LoginBlockCheck::BadMac);
  EXPECT_EQ(OpenLoginBlock(receiver, sealed.substr(0, 535), opened), LoginBlockCheck::WrongSize);
  TnxBlowFishRC4 otherKey{"another key"};
  EXPECT_EQ(OpenLoginBlock(otherKey, sealed, opened), LoginBlockCheck::BadMac);
  EXPECT_THROW(LoginBlock::Decode(Bytes(537, '\0')), DecodeError);
}

TEST(DiscoveryDatagrams, QueryAndAnswerTexts) {
  EXPECT_EQ(kDiscoveryQuery.size(), 23u);
  EXPECT_EQ(kDiscoveryQuery.back(), '\0');
  EXPECT_TRUE(IsDiscoveryQuery(kDiscoveryQuery));
  EXPECT_TRUE(IsDiscoveryQuery("KANTA/NXWINSOCK/client"));
  EXPECT_FALSE(IsDiscoveryQuery("Kanta/nxWinsock/Clients"));
  EXPECT_FALSE(IsDiscoveryQuery(""));

  EXPECT_EQ(BuildDiscoveryAnswer("Main"), std::string("Kanta/nxWinsock/Server:Main\0", 28));
  const uint32_t sender = 0x0A000005;  // 10.0.0.5
  EXPECT_EQ(ParseDiscoveryAnswer(BuildDiscoveryAnswer("Main"), sender), "Main@10.0.0.5");
  EXPECT_EQ(ParseDiscoveryAnswer("kanta/NXWINSOCK/server:x\0junk", sender), "x@10.0.0.5");
  EXPECT_EQ(ParseDiscoveryAnswer("Kanta/nxWinsock/Server:", sender), "");  // no name
  EXPECT_EQ(ParseDiscoveryAnswer(std::string("Kanta/nxWinsock/Server:\0Main", 28), sender), "");
  EXPECT_EQ(ParseDiscoveryAnswer("Kanta/nxWinsock/Servex:Main", sender), "");
  EXPECT_EQ(DottedAddress(0x7F000001), "127.0.0.1");
}

TEST(ServerNames, SortedWithoutRegardToCaseAndWithoutDuplicates) {
  std::vector<std::string> list;
  for (const char* n : {"beta@1.1.1.1", "Alpha@2.2.2.2", "BETA@1.1.1.1", "alpha@2.2.2.2",
                        "\xE4ij\xE4@3.3.3.3", "Gamma@4.4.4.4"})
    AddSortedServerName(list, n);
  EXPECT_EQ(list, (std::vector<std::string>{"Alpha@2.2.2.2", "beta@1.1.1.1", "Gamma@4.4.4.4",
                                            "\xE4ij\xE4@3.3.3.3"}));
}

TEST(SocketErrors, MessagesAndCodes) {
  EXPECT_EQ(WinsockCodeFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WinsockCodeFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockCodeFromErrno(EALREADY), 10037);
  EXPECT_EQ(WinsockCodeFromErrno(ENOBUFS), 10055);
  EXPECT_EQ(WinsockCodeFromErrno(0), 0);
  EXPECT_EQ(SocketErrorMessage(10061),
            "Win32 Error in [unknown].  Code: 10061.\nNo connection could be made because the "
            "target machine actively refused it.");
  EXPECT_EQ(SocketErrorMessage(0), "A Win32 API function failed in [unknown].");
  try {
    RaiseSocketError(10054);
    ADD_FAILURE();
  } catch (const EnxOSError& e) {
    EXPECT_EQ(e.OSErrorCode(), 10054u);
    EXPECT_EQ(nxExceptionToCode(std::current_exception()), 11047u);
  }
  // A closing connection fails silently; code 0 is still reported.
  EXPECT_THROW(RaiseSocketError(10054, true), EnxAbort);
  EXPECT_THROW(RaiseSocketError(0, true), EnxOSError);
}

}  // namespace
}  // namespace vantera
