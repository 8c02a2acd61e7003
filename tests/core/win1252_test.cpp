#include "core/win1252.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

TEST(Win1252, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int c = 0; c < 256; ++c)
    all.push_back(static_cast<char>(c));
  std::string utf8 = Win1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToWin1252(utf8), all);
}

TEST(Win1252, FinnishLettersAndCurrencySign) {
  EXPECT_EQ(Win1252ToUtf8("\xE4\xF6\xC5\xA4\x80"), "äöÅ¤€");
  EXPECT_EQ(Utf8ToWin1252("Tyhjennä ¤"), "Tyhjenn\xE4 \xA4");
  // Outside the code page and malformed input both become '?'.
  EXPECT_EQ(Utf8ToWin1252("a\xE2\x98\x83"
                          "b"),
            "a?b");
  EXPECT_EQ(Utf8ToWin1252("\xC3"), "?");
  EXPECT_FALSE(IsValidUtf8("\xC3("));
}

TEST(Win1252, UpperCase) {
  EXPECT_EQ(Win1252Upper("abc\xE4\xF6\xE5\xF7\xFF"), "ABC\xC4\xD6\xC5\xF7\x9F");
  EXPECT_EQ(Win1252Upper("\x9A\x9C\x9E"), "\x8A\x8C\x8E");
}

}  // namespace
}  // namespace vantera
