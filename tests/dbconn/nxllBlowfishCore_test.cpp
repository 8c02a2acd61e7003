#include "protocol/nxllBlowfishCore.h"

#include <gtest/gtest.h>
#include <nettle/blowfish.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "tests/dbconn/test_vectors.h"

namespace vantera {
namespace {

using testing::Fields;
using testing::FromHex;
using testing::PseudoRandomBytes;

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

uint32_t ReverseBytes(uint32_t x) {
  return (x >> 24) | ((x >> 8) & 0xFF00) | ((x << 8) & 0xFF0000) | (x << 24);
}

uint32_t Be32(const std::string& s, size_t at) {
  const auto* b = U(s) + at;
  return (static_cast<uint32_t>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

std::string BeBlock(uint32_t l, uint32_t r) {
  std::string out(8, '\0');
  for (int k = 0; k < 4; ++k) {
    out[k] = static_cast<char>(l >> (24 - 8 * k));
    out[4 + k] = static_cast<char>(r >> (24 - 8 * k));
  }
  return out;
}

// The published form with big-endian data words, as the published vectors and nettle use.
template <BlowfishForm Form>
std::string EncryptBe(const BlowfishCore<Form>& core, const std::string& block) {
  uint32_t l = Be32(block, 0), r = Be32(block, 4);
  core.EncryptBlock(l, r);
  return BeBlock(l, r);
}
template <BlowfishForm Form>
std::string DecryptBe(const BlowfishCore<Form>& core, const std::string& block) {
  uint32_t l = Be32(block, 0), r = Be32(block, 4);
  core.DecryptBlock(l, r);
  return BeBlock(l, r);
}

std::string NettleEncrypt(const std::string& key, const std::string& block) {
  blowfish_ctx ctx;
  blowfish_set_key(&ctx, key.size(), U(key));
  std::string out(8, '\0');
  blowfish_encrypt(&ctx, 8, reinterpret_cast<uint8_t*>(out.data()), U(block));
  return out;
}

// The tables are too large for the stack of some test runners.
template <BlowfishForm Form>
std::unique_ptr<BlowfishCore<Form>> Keyed(const std::string& key) {
  auto core = std::make_unique<BlowfishCore<Form>>();
  core->SetKey(U(key), key.size());
  return core;
}

TEST(BlowfishCore, PublishedFormMatchesPublishedVectors) {
  int fixed = 0, variable = 0;
  std::string variable_key;
  for (const std::string& line : testing::VectorLines("blowfish-ecb.txt")) {
    auto f = Fields(line);
    if (f.size() == 3) {
      auto core = Keyed<kPublishedBlowfish>(FromHex(f[0]));
      EXPECT_EQ(EncryptBe(*core, FromHex(f[1])), FromHex(f[2])) << line;
      EXPECT_EQ(DecryptBe(*core, FromHex(f[2])), FromHex(f[1])) << line;
      ++fixed;
    } else {
      // Variable key length: key = first n bytes of the key text, n = 1, 2, ...
      ASSERT_EQ(f.size(), 1u) << line;
      ++variable;
      const std::string key =
          FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677").substr(0, variable);
      auto core = Keyed<kPublishedBlowfish>(key);
      EXPECT_EQ(EncryptBe(*core, FromHex("FEDCBA9876543210")), FromHex(f[0])) << variable;
    }
  }
  EXPECT_EQ(fixed, 34);
  EXPECT_EQ(variable, 24);
}

TEST(BlowfishCore, PublishedFormAgreesWithNettle) {
  for (size_t len = 8; len <= 56; len += 4) {
    const std::string key = PseudoRandomBytes(len, static_cast<unsigned>(len));
    const std::string block = PseudoRandomBytes(8, static_cast<unsigned>(100 + len));
    auto core = Keyed<kPublishedBlowfish>(key);
    const std::string expect = NettleEncrypt(key, block);
    EXPECT_EQ(EncryptBe(*core, block), expect) << len;
    EXPECT_EQ(DecryptBe(*core, expect), block) << len;
  }
}

// Little-endian key packing is the published packing of the key with every group of four
// bytes reversed (for keys whose length is a multiple of four).
TEST(BlowfishCore, LittleEndianKeyPackingIsPublishedPackingOfReversedGroups) {
  constexpr BlowfishForm kLittleEndianKeyOnly{true, false};
  for (size_t len : {8u, 16u, 32u, 56u}) {
    const std::string key = PseudoRandomBytes(len, static_cast<unsigned>(7 * len));
    std::string reversed = key;
    for (size_t g = 0; g < len; g += 4)
      std::reverse(reversed.begin() + static_cast<std::ptrdiff_t>(g),
                   reversed.begin() + static_cast<std::ptrdiff_t>(g + 4));
    const std::string block = PseudoRandomBytes(8, static_cast<unsigned>(len));
    auto core = Keyed<kLittleEndianKeyOnly>(key);
    EXPECT_EQ(EncryptBe(*core, block), NettleEncrypt(reversed, block)) << len;
    EXPECT_NE(EncryptBe(*core, block), NettleEncrypt(key, block)) << len;
  }
}

// The protocol's round function on chosen tables, worked by hand:
//   x = 0x11223344; bytes from least significant: 44 33 22 11.
//   protocol:  ((S0[44] + S1[33]) ^ S2[22]) + S3[11]
//   published: ((S0[11] + S1[22]) ^ S2[33]) + S3[44]
TEST(BlowfishCore, RoundFunctionIndexesSBoxZeroByTheLowByte) {
  auto proto = std::make_unique<BlowfishCore<kProtocolBlowfish>>();
  auto pub = std::make_unique<BlowfishCore<kPublishedBlowfish>>();
  for (auto* s : {&proto->S(), &pub->S()}) {
    (*s)[0][0x44] = 0xFFFFFFF0;  // + 0x20 wraps to 0x10
    (*s)[1][0x33] = 0x00000020;
    (*s)[2][0x22] = 0x00000110;  // 0x10 ^ 0x110 = 0x100
    (*s)[3][0x11] = 0x00001000;  // 0x100 + 0x1000 = 0x1100
    (*s)[0][0x11] = 0x00000001;  // published: (1 + 0) ^ 0 + 0 = 1
  }
  EXPECT_EQ(proto->F(0x11223344), 0x00001100u);
  EXPECT_EQ(pub->F(0x11223344), 0x00000001u);
  EXPECT_EQ(pub->F(0x44332211), 0x00001100u);

  // On any tables, the protocol's F of x is the published F of x with its bytes reversed.
  std::mt19937 gen(11);
  for (auto& box : proto->S())
    for (auto& e : box)
      e = gen();
  std::memcpy(pub->S(), proto->S(), sizeof proto->S());
  for (int k = 0; k < 1000; ++k) {
    const uint32_t x = gen();
    ASSERT_EQ(proto->F(x), pub->F(ReverseBytes(x))) << x;
  }
}

TEST(BlowfishCore, ProtocolFormRoundTripsAndDiffersFromPublished) {
  for (const std::string& key :
       {std::string(" "), std::string("KantaDB"), PseudoRandomBytes(80, 5)}) {
    auto proto = Keyed<kProtocolBlowfish>(key);
    auto pub = Keyed<kPublishedBlowfish>(key);
    std::mt19937 gen(static_cast<unsigned>(key.size()));
    for (int k = 0; k < 100; ++k) {
      const uint32_t l0 = gen(), r0 = gen();
      uint32_t l = l0, r = r0;
      proto->EncryptBlock(l, r);
      uint32_t pl = l0, pr = r0;
      pub->EncryptBlock(pl, pr);
      EXPECT_FALSE(l == pl && r == pr);
      proto->DecryptBlock(l, r);
      ASSERT_EQ(l, l0);
      ASSERT_EQ(r, r0);
    }
  }
}

}  // namespace
}  // namespace vantera
