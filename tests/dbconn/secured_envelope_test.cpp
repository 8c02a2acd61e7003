// Sealed envelopes and the credentials stream, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "protocol/secured_envelope.h"
#include "protocol/tagged_stream.h"
#include "protocol/tunnel_account.h"
#include "protocol/tunnel_credentials.h"

namespace vantera {
namespace {

// The envelope a sender with initial value `iv` must produce, built here field by field.
Bytes Expected(const std::string& key, CipherWords iv, uint32_t messageId, uint32_t word,
               const std::string& payload, size_t length) {
  Bytes plain;
  PutFixed32(&plain, messageId);
  PutFixed32(&plain, word);
  PutFixed32(&plain, static_cast<uint32_t>(payload.size()));
  plain += payload;
  plain.resize(length - 16, '\0');
  TnxBlowFishRC4 c(key);
  c.SetIV(iv);
  c.Encrypt(plain.data(), plain.size());
  CipherWords mac = c.MAC();
  Bytes env;
  PutFixed32(&env, iv.w0);
  PutFixed32(&env, iv.w1);
  PutFixed32(&env, mac.w0);
  PutFixed32(&env, mac.w1);
  return env + plain;
}

TEST(SealedEnvelope, LengthsAndBytesMatchTheLayout) {
  for (const std::string& key : {std::string(), std::string("salainen avain \xE4")}) {
    TnxBlowFishRC4 sender(key);
    for (auto [n, length] :
         {std::pair<size_t, size_t>{0, 32}, {4, 32}, {5, 40}, {12, 40}, {13, 48}, {1000, 1032}}) {
      std::string payload(n, '\0');
      for (size_t i = 0; i < n; ++i)
        payload[i] = static_cast<char>(i * 31 + 7);
      Bytes env = SealEnvelope(sender, 77, 10000, payload);
      ASSERT_EQ(env.size(), length) << n;
      EXPECT_EQ(SealedEnvelope::LengthFor(n), length);
      const CipherWords iv{DecodeFixed32(env.data()), DecodeFixed32(env.data() + 4)};
      EXPECT_EQ(env, Expected(key, iv, 77, 10000, payload, length)) << n;

      TnxBlowFishRC4 receiver(key);
      Bytes buffer;
      OpenedEnvelope opened;
      ASSERT_EQ(OpenEnvelope(receiver, env, buffer, opened), EnvelopeCheck::Ok);
      EXPECT_EQ(opened.messageId, 77u);
      EXPECT_EQ(opened.word, 10000u);
      EXPECT_EQ(opened.payload, payload);
      EXPECT_EQ(opened.iv, iv);
    }
  }
  // Two envelopes of the same message differ: each draws its own initial value.
  TnxBlowFishRC4 c("k");
  EXPECT_NE(SealEnvelope(c, 1, 0, "abc"), SealEnvelope(c, 1, 0, "abc"));
}

TEST(SealedEnvelope, EveryDamageIsRefused) {
  TnxBlowFishRC4 sender("avain");
  const Bytes env = SealEnvelope(sender, 5, 0, "payload of the real message");  // 56 bytes
  TnxBlowFishRC4 receiver("avain");
  Bytes buffer;
  OpenedEnvelope opened;
  // Every cut: shorter than 28 or not a multiple of 8 is a length failure; a cut at a
  // multiple of 8 fails the MAC.
  for (size_t cut = 0; cut < env.size(); ++cut) {
    EnvelopeCheck r = OpenEnvelope(receiver, std::string_view(env).substr(0, cut), buffer, opened);
    EXPECT_EQ(r, cut >= 28 && cut % 8 == 0 ? EnvelopeCheck::BadMac : EnvelopeCheck::BadLength)
        << cut;
  }
  EXPECT_EQ(OpenEnvelope(receiver, env + "12345678", buffer, opened), EnvelopeCheck::BadMac);
  // One flipped bit anywhere: initial value, MAC or enciphered part.
  for (size_t i = 0; i < env.size(); ++i) {
    Bytes bad = env;
    bad[i] = static_cast<char>(bad[i] ^ 0x10);
    EXPECT_EQ(OpenEnvelope(receiver, bad, buffer, opened), EnvelopeCheck::BadMac) << i;
  }
  TnxBlowFishRC4 other("Avain");
  EXPECT_EQ(OpenEnvelope(other, env, buffer, opened), EnvelopeCheck::BadMac);
  TnxBlowFishRC4 empty("");
  EXPECT_EQ(OpenEnvelope(empty, env, buffer, opened), EnvelopeCheck::BadMac);
  EXPECT_EQ(OpenEnvelope(receiver, env, buffer, opened), EnvelopeCheck::Ok);

  // A correctly sealed envelope that announces more payload than it carries.
  Bytes forged = Expected("avain", CipherWords{1, 2}, 5, 0, std::string(4, 'x'), 32);
  Bytes lying = Expected("avain", CipherWords{1, 2}, 5, 0, std::string(4, 'x'), 32);
  {
    // Re-seal with n = 5 in a 32-byte envelope (room for 4).
    Bytes plain;
    PutFixed32(&plain, 5);
    PutFixed32(&plain, 0);
    PutFixed32(&plain, 5);
    plain += "xxxx";
    TnxBlowFishRC4 c("avain");
    c.SetIV(1, 2);
    c.Encrypt(plain.data(), plain.size());
    CipherWords mac = c.MAC();
    lying.clear();
    PutFixed32(&lying, 1);
    PutFixed32(&lying, 2);
    PutFixed32(&lying, mac.w0);
    PutFixed32(&lying, mac.w1);
    lying += plain;
  }
  EXPECT_EQ(OpenEnvelope(receiver, forged, buffer, opened), EnvelopeCheck::Ok);
  EXPECT_EQ(OpenEnvelope(receiver, lying, buffer, opened), EnvelopeCheck::BadPayloadLength);
}

TEST(TunnelCredentials, TaggedStreamBytesAndStrictReading) {
  TunnelCredentials c;
  c.userName = "AB";
  c.password = "";
  c.timeout = 10000;
  const Bytes bytes = c.Encode();
  EXPECT_EQ(bytes, Bytes("\x06\x02"
                         "AB"
                         "\x06\x00"
                         "\x03\x10\x27"
                         "\x03\x30\x2A",
                         12));
  TunnelCredentials back = TunnelCredentials::Decode(bytes);
  EXPECT_EQ(back.userName, "AB");
  EXPECT_EQ(back.password, "");
  EXPECT_EQ(back.timeout, 10000u);
  EXPECT_EQ(back.clientVersion, 10800u);
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_THROW(TunnelCredentials::Decode(bytes.substr(0, cut)), DecodeError) << cut;
  EXPECT_THROW(TunnelCredentials::Decode(bytes + '\0'), DecodeError);

  // An infinite time-out is a 32-bit Int: -1, tag 2 and one byte.
  c.timeout = 0xFFFFFFFFu;
  c.password = std::string(256, 'p');  // a long string
  const Bytes wide = c.Encode();
  EXPECT_EQ(wide.substr(4, 5), Bytes("\x0C\x00\x01\x00\x00", 5));
  EXPECT_EQ(wide.substr(4 + 5 + 256, 2), Bytes("\x02\xFF", 2));
  EXPECT_EQ(TunnelCredentials::Decode(wide).timeout, 0xFFFFFFFFu);

  EXPECT_EQ(
      kTunnelUserName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
      std::string_view::npos);
  EXPECT_EQ(
      kTunnelPassword.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
      std::string_view::npos);
}

}  // namespace
}  // namespace vantera
