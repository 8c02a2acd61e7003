#include "app/transport_key.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

TEST(TransportKeyTest, EncodesAndDecodesByTheDocumentedForm) {
  // "abc" XOR "Tar" = 35 03 11.
  EXPECT_EQ(EncodeTransportKey("abc"), "350311");
  EXPECT_EQ(DecodeTransportKey("350311"), "abc");
  EXPECT_EQ(DecodeTransportKey("350311"), DecodeTransportKey("350311"));
  // The mask cycles after 11 bytes: byte 11 is XOR-ed with "T" again.
  EXPECT_EQ(EncodeTransportKey(std::string(12, 'T'))->substr(22), "00");

  std::string all;
  for (int b = 1; b < 128; ++b)
    all.push_back(static_cast<char>(b + 128 * (b % 2)));  // every kind of byte but NUL
  std::optional<std::string> text = EncodeTransportKey(all);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 254u);
  EXPECT_EQ(DecodeTransportKey(*text), all);
  std::string lower = *text;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(DecodeTransportKey(lower), all);
}

TEST(TransportKeyTest, RefusesWhatCannotBeAKey) {
  EXPECT_EQ(EncodeTransportKey(""), std::nullopt);
  EXPECT_EQ(EncodeTransportKey(std::string(128, 'k')), std::nullopt);
  EXPECT_EQ(EncodeTransportKey(std::string("a\0b", 3)), std::nullopt);
  EXPECT_EQ(DecodeTransportKey(""), std::nullopt);
  EXPECT_EQ(DecodeTransportKey("35031"), std::nullopt);   // odd length
  EXPECT_EQ(DecodeTransportKey("35031G"), std::nullopt);  // not hexadecimal
  EXPECT_EQ(DecodeTransportKey("35 311"), std::nullopt);
  EXPECT_EQ(DecodeTransportKey("3561"), std::nullopt);  // second byte decodes to NUL
  EXPECT_EQ(kPlaceholderTransportKey.size(), 1u);
}

}  // namespace
}  // namespace vantera
