#include "msglink/twofish.h"

#include <gtest/gtest.h>
#include <nettle/twofish.h>

#include <cstring>
#include <random>

#include "tests/msglink/test_support.h"

namespace vantera {
namespace {

using testing::FromHex;
using testing::ToHex;
using testing::U8;

std::string Encrypt(const std::string& key, const std::string& block) {
  Twofish tf;
  tf.SetKey({U8(key), key.size()});
  std::string out(16, '\0');
  tf.EncryptBlock(U8(block), reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

TEST(Twofish, PublishedKnownAnswersFor128192And256BitKeys) {
  auto rows = testing::ReadVectorFile("twofish-ecb.txt");
  ASSERT_EQ(rows.size(), 12u);
  int per_length[3] = {0, 0, 0};
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 3u);
    std::string key = FromHex(row[0]);
    ASSERT_TRUE(key.size() == 16 || key.size() == 24 || key.size() == 32);
    ++per_length[(key.size() - 16) / 8];
    EXPECT_EQ(ToHex(Encrypt(key, FromHex(row[1]))), row[2]) << "key " << row[0];
  }
  EXPECT_GT(per_length[0], 0);
  EXPECT_GT(per_length[1], 0);
  EXPECT_GT(per_length[2], 0);
}

TEST(Twofish, ShortKeysArePaddedWithZeroBytes) {
  // 20 bytes (the line cipher's 160-bit key) run the 192-bit schedule with four zero bytes.
  std::string k20 = FromHex("0123456789ABCDEFFEDCBA987654321000112233");
  ASSERT_EQ(k20.size(), 20u);
  std::string block(16, '\x5A');
  EXPECT_EQ(Encrypt(k20, block), Encrypt(k20 + std::string(4, '\0'), block));
  EXPECT_NE(Encrypt(k20, block), Encrypt(k20 + std::string(4, '\1'), block));
  // The published 192-bit vector whose key ends in zero bytes, given as 160 bits.
  EXPECT_EQ(ToHex(Encrypt(FromHex("EFA71F788965BD4453F860178FC1910100000000"),
                          FromHex("88B2B2706B105E36B446BB6D731A1E88"))),
            "39DA69D6BA4997D585B6DC073CA341B2");
}

TEST(Twofish, MatchesNettleForEveryKeyLength) {
  std::mt19937 rng(20240611);
  for (std::size_t len = 1; len <= 32; ++len) {
    for (int round = 0; round < 8; ++round) {
      std::string key = testing::RandomBytes(rng, len);
      std::string block = testing::RandomBytes(rng, 16);
      twofish_ctx ctx;
      twofish_set_key(&ctx, len, U8(key));
      std::string expected(16, '\0');
      twofish_encrypt(&ctx, 16, reinterpret_cast<uint8_t*>(expected.data()), U8(block));
      ASSERT_EQ(ToHex(Encrypt(key, block)), ToHex(expected)) << "key length " << len;
    }
  }
}

TEST(Twofish, RefusesEmptyAndOverlongKeysAndWipesToZero) {
  Twofish tf;
  uint8_t key[33] = {1};
  EXPECT_THROW(tf.SetKey({key, 0}), std::invalid_argument);
  EXPECT_THROW(tf.SetKey({key, 33}), std::invalid_argument);

  tf.SetKey({key, 32});
  const auto* raw = reinterpret_cast<const unsigned char*>(&tf);
  auto nonzero = [&] {
    std::size_t n = 0;
    for (std::size_t i = 0; i < sizeof tf; ++i)
      n += raw[i] != 0;
    return n;
  };
  EXPECT_GT(nonzero(), sizeof tf / 2);
  tf.Wipe();
  EXPECT_EQ(nonzero(), 0u);
}

}  // namespace
}  // namespace vantera
