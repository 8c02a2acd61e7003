#include "msglink/msgcipher.h"

#include <gtest/gtest.h>
#include <nettle/base64.h>
#include <nettle/sha1.h>
#include <nettle/twofish.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>

#include "msglink/base64.h"
#include "msglink/msgkey.h"
#include "tests/msglink/test_support.h"

namespace vantera {
namespace {

using testing::U8;

// The whole wire format computed with nettle alone: SHA-1 of the key text as a 160-bit
// Twofish key, IV = E(0), 8-bit cipher feedback, Base64.
struct NettleLine {
  twofish_ctx ctx;
  uint8_t iv[16];

  explicit NettleLine(std::string_view key_text) {
    sha1_ctx sha;
    sha1_init(&sha);
    sha1_update(&sha, key_text.size(), reinterpret_cast<const uint8_t*>(key_text.data()));
    uint8_t digest[SHA1_DIGEST_SIZE];
    sha1_digest(&sha, sizeof digest, digest);
    twofish_set_key(&ctx, sizeof digest, digest);
    uint8_t zero[16] = {};
    twofish_encrypt(&ctx, 16, iv, zero);
  }

  std::string CipherBytes(const std::string& plain) const {
    uint8_t cv[16], t[16];
    std::memcpy(cv, iv, 16);
    std::string out;
    for (char p : plain) {
      twofish_encrypt(&ctx, 16, t, cv);
      auto c = static_cast<uint8_t>(static_cast<uint8_t>(p) ^ t[0]);
      std::memmove(cv, cv + 1, 15);
      cv[15] = c;
      out += static_cast<char>(c);
    }
    return out;
  }

  std::string Wire(const std::string& plain) const {
    std::string bytes = CipherBytes(plain);
    std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(text.data(), bytes.size(), U8(bytes));
    return text;
  }
};

std::string Encrypt(const std::string& plain) {
  Chipper c;
  c.SetKeyText(kMessageKey);
  std::string wire = c.EncryptLine(plain);
  c.WipeKey();
  return wire;
}

std::string Decrypt(std::string_view wire) {
  Chipper c;
  c.SetKeyText(kMessageKey);
  std::string plain = c.DecryptLine(wire);
  c.WipeKey();
  return plain;
}

TEST(Chipper, WireTextMatchesNettleForRandomLinesUpTo436Bytes) {
  NettleLine reference(kMessageKey);
  std::mt19937 rng(436);
  std::uniform_int_distribution<std::size_t> length(0, 436);
  Chipper c;  // one object through many per-line cycles, as the session uses it
  for (int i = 0; i < 300; ++i) {
    std::string plain =
        testing::RandomBytes(rng, i < 3 ? static_cast<std::size_t>(i * 218) : length(rng));
    c.SetKeyText(kMessageKey);
    std::string wire = c.EncryptLine(plain);
    c.WipeKey();
    ASSERT_EQ(wire, reference.Wire(plain)) << "length " << plain.size();
    c.SetKeyText(kMessageKey);
    ASSERT_EQ(c.DecryptLine(wire), plain);
    c.WipeKey();
  }
  // Another key text gives another wire text.
  EXPECT_NE(NettleLine("other").Wire("Ping^-^Vantera01^-^0^Ping^"),
            Encrypt("Ping^-^Vantera01^-^0^Ping^"));
}

TEST(Chipper, LengthsPaddingAndDeterminism) {
  EXPECT_EQ(Encrypt(""), "");
  EXPECT_EQ(Decrypt(""), "");
  std::string one = Encrypt("P"), two = Encrypt("Pi"), three = Encrypt("Pin");
  ASSERT_EQ(one.size(), 4u);
  EXPECT_EQ(one.substr(2), "==");
  ASSERT_EQ(two.size(), 4u);
  EXPECT_EQ(two[3], '=');
  EXPECT_NE(two[2], '=');
  ASSERT_EQ(three.size(), 4u);
  EXPECT_EQ(three.find('='), std::string::npos);
  EXPECT_EQ(Encrypt(std::string(436, 'x')).size(), 584u);

  const std::string line = "Ping^-^Vantera01^-^0^Ping^";
  EXPECT_EQ(Encrypt(line), Encrypt(line));

  // A changed last byte changes only the last cipher byte: at most the last 4 characters.
  std::string changed = line;
  changed.back() = 'X';
  std::string a = Encrypt(line), b = Encrypt(changed);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(a.substr(0, a.size() - 4), b.substr(0, b.size() - 4));
  EXPECT_NE(a, b);

  // A wire text whose last group lacks characters: that group is ignored.
  const std::string login = "Moi^-^Vantera01^-^0^QXVKM^";  // 26 bytes: 36 characters
  std::string wire = Encrypt(login);
  ASSERT_EQ(wire.size(), 36u);
  EXPECT_EQ(Decrypt(wire), login);
  EXPECT_EQ(Decrypt(wire.substr(0, 35)), login.substr(0, 24));
  EXPECT_EQ(Decrypt(wire.substr(0, 33)), login.substr(0, 24));
}

TEST(Chipper, RefusesWorkWithoutKeyAndRestartsOnEverySetKeyText) {
  Chipper c;
  EXPECT_FALSE(c.HasKey());
  try {
    (void)c.EncryptLine("x");
    ADD_FAILURE() << "no error without a key";
  } catch (const ECipherError& e) {
    EXPECT_STREQ(e.what(), "Cipher not initialized");
  }
  EXPECT_THROW((void)c.DecryptLine("AAAA"), ECipherError);

  c.SetKeyText(kMessageKey);
  EXPECT_TRUE(c.HasKey());
  std::string first = c.EncryptLine("abc");
  // Without a new key the register continues: the same line enciphers differently.
  EXPECT_NE(c.EncryptLine("abc"), first);
  // SetKeyText over a set key starts again from the same register.
  c.SetKeyText(kMessageKey);
  EXPECT_EQ(c.EncryptLine("abc"), first);
  // ResetFeedback starts again from the same register without a new key, for both ways.
  EXPECT_NE(c.EncryptLine("abc"), first);
  c.ResetFeedback();
  EXPECT_EQ(c.EncryptLine("abc"), first);
  c.ResetFeedback();
  EXPECT_EQ(c.DecryptLine(first), "abc");
  c.ResetFeedback();
  EXPECT_EQ(c.DecryptLine(first), "abc");
  c.WipeKey();
  EXPECT_FALSE(c.HasKey());
  EXPECT_THROW((void)c.EncryptLine(""), ECipherError);
  EXPECT_THROW(c.ResetFeedback(), ECipherError);
}

TEST(Chipper, WipeKeyOverwritesTheKeyMaterialInTheObject) {
  NettleLine reference(kMessageKey);
  Chipper c;
  const auto* raw = reinterpret_cast<const unsigned char*>(&c);
  const std::string_view object(reinterpret_cast<const char*>(raw), sizeof c);
  const std::string_view iv(reinterpret_cast<const char*>(reference.iv), 16);
  // The first whitening subkey word, as it sits in the expanded key.
  const std::string_view subkey0(reinterpret_cast<const char*>(&reference.ctx.keys[0]), 4);

  c.SetKeyText(kMessageKey);
  ASSERT_NE(object.find(iv), std::string_view::npos);
  ASSERT_NE(object.find(subkey0), std::string_view::npos);
  c.WipeKey();
  EXPECT_EQ(object.find(iv), std::string_view::npos);
  EXPECT_EQ(object.find(subkey0), std::string_view::npos);
  // IV and CV are filled with 0xFF: 32 of them in a row.
  EXPECT_NE(object.find(std::string(32, '\xFF')), std::string_view::npos);
}

TEST(Chipper, HostileWireTextsDecipherWithoutFailing) {
  std::mt19937 rng(99);
  Chipper c;
  for (std::size_t len : {1u, 2u, 3u, 5u, 7u, 401u, 100000u}) {
    std::string junk = testing::RandomBytes(rng, len);
    std::replace(junk.begin(), junk.end(), '=', '!');
    c.SetKeyText(kMessageKey);
    std::string plain = c.DecryptLine(junk);
    c.WipeKey();
    // Every complete group gives three bytes; an incomplete last one nothing.
    ASSERT_EQ(plain.size(), len / 4 * 3) << len;
    // Deciphering is the inverse of enciphering even for junk: enciphering the result gives
    // back the canonical Base64 of what the junk decoded to.
    c.SetKeyText(kMessageKey);
    EXPECT_EQ(c.EncryptLine(plain), Base64Encode(Base64Decode(junk)));
    c.WipeKey();
  }
}

TEST(MessageKey, Has28BytesOfMixedCharactersSomeAbove7Bit) {
  ASSERT_EQ(kMessageKey.size(), 28u);
  auto count = [](auto pred) {
    return std::count_if(kMessageKey.begin(), kMessageKey.end(), pred);
  };
  EXPECT_GT(count([](char ch) { return std::isupper(static_cast<unsigned char>(ch)) != 0; }), 0);
  EXPECT_GT(count([](char ch) { return std::islower(static_cast<unsigned char>(ch)) != 0; }), 0);
  EXPECT_GT(count([](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; }), 0);
  EXPECT_GT(count([](char ch) { return static_cast<unsigned char>(ch) >= 0x80; }), 0);
}

}  // namespace
}  // namespace vantera
