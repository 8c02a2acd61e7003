#include "core/coding.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

TEST(Coding, FixedWidthIntegersAreLittleEndian) {
  Bytes b;
  PutFixed8(&b, 0xAB);
  PutFixed16(&b, 0x1234);
  PutFixed32(&b, 0x89ABCDEF);
  PutFixed64(&b, 0x0102030405060708ULL);
  EXPECT_EQ(b, std::string("\xAB\x34\x12\xEF\xCD\xAB\x89\x08\x07\x06\x05\x04\x03\x02\x01", 15));

  Reader r(b);
  EXPECT_EQ(r.GetFixed8(), 0xAB);
  EXPECT_EQ(r.GetFixed16(), 0x1234);
  EXPECT_EQ(r.GetFixed32(), 0x89ABCDEFu);
  EXPECT_EQ(r.GetFixed64(), 0x0102030405060708ULL);
  EXPECT_TRUE(r.empty());
}

TEST(Coding, EveryTruncatedPrefixFailsCleanly) {
  Bytes b;
  PutFixed32(&b, 7);
  PutDouble(&b, 1.5);
  for (size_t n = 0; n < b.size(); ++n) {
    Reader r(std::string_view(b).substr(0, n));
    EXPECT_THROW(
        {
          (void)r.GetFixed32();
          (void)r.GetDouble();
        },
        DecodeError)
        << "prefix of " << n << " bytes";
  }
  Reader whole(b);
  EXPECT_EQ(whole.GetFixed32(), 7u);
  EXPECT_EQ(whole.GetDouble(), 1.5);
}

TEST(Coding, ShortStringFieldIsLengthByteTextAndPadding) {
  Bytes b;
  PutShortString(&b, "abc", 5);
  EXPECT_EQ(b, std::string("\x03"
                           "abc\0\0",
                           6));
  Bytes cut;
  PutShortString(&cut, "abcdefgh", 4);
  EXPECT_EQ(cut, std::string("\x04"
                             "abcd",
                             5));
  Reader r(b);
  EXPECT_EQ(r.GetShortString(5), "abc");

  // A length byte larger than the field is refused, not followed.
  std::string bad(
      "\x09"
      "abc\0\0",
      6);
  Reader rb(bad);
  EXPECT_THROW(rb.GetShortString(5), DecodeError);
}

}  // namespace
}  // namespace vantera
