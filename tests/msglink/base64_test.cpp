#include "msglink/base64.h"

#include <gtest/gtest.h>
#include <nettle/base64.h>

#include <random>

#include "tests/msglink/test_support.h"

namespace vantera {
namespace {

TEST(Base64, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> kVectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, text] : kVectors) {
    EXPECT_EQ(Base64Encode(plain), text);
    EXPECT_EQ(Base64Decode(text), plain);
  }
  // The upper end of the alphabet and bytes above 0x7F.
  EXPECT_EQ(Base64Encode("\xFB\xEF\xFF"), "++//");
  EXPECT_EQ(Base64Decode("++//"), "\xFB\xEF\xFF");
}

TEST(Base64, MatchesNettleForRandomBytes) {
  std::mt19937 rng(11);
  for (std::size_t len = 0; len <= 100; ++len) {
    std::string bytes = testing::RandomBytes(rng, len);
    std::string expected(BASE64_ENCODE_RAW_LENGTH(len), '\0');
    base64_encode_raw(expected.data(), len, testing::U8(bytes));
    EXPECT_EQ(Base64Encode(bytes), expected);
    EXPECT_EQ(Base64EncodedSize(len), expected.size());
    EXPECT_EQ(Base64Decode(expected), bytes);
  }
}

TEST(Base64, DecodingRulesForShortGroupsPaddingAndStrayCharacters) {
  // A final group of fewer than four characters is ignored.
  EXPECT_EQ(Base64Decode("Zm9vYmFy"), "foobar");
  EXPECT_EQ(Base64Decode("Zm9vYmF"), "foo");
  EXPECT_EQ(Base64Decode("Zm9vY"), "foo");
  EXPECT_EQ(Base64Decode("Zm9"), "");
  // "=" in the third place: one byte, whatever stands fourth.
  EXPECT_EQ(Base64Decode("Zg=="), "f");
  EXPECT_EQ(Base64Decode("Zg=x"), "f");
  // "=" only in the fourth place: two bytes.
  EXPECT_EQ(Base64Decode("Zm8="), "fo");
  // Padding inside the text ends only its own group.
  EXPECT_EQ(Base64Decode("Zg==Zm9v"), "ffoo");
  // Characters outside the alphabet count as "A" (value 0), "=" in the first two places too.
  EXPECT_EQ(Base64Decode("Zm9*"), Base64Decode("Zm9A"));
  EXPECT_EQ(Base64Decode("\r\n\xFF\x80"), std::string(3, '\0'));
  EXPECT_EQ(Base64Decode("==Zv"), Base64Decode("AAZv"));
  EXPECT_EQ(Base64Decode("===="), std::string(1, '\0'));
}

}  // namespace
}  // namespace vantera
