#include <gtest/gtest.h>

#include <string>

#include "protocol/request_codec_parts.h"

namespace vantera {
namespace {

using request_codec::FixedRecord;

struct Sample {
  int32_t id = 0;
  std::string name;
  uint8_t flag = 0;
  uint16_t size = 0;
  int64_t number = 0;
};
using SampleLayout =
    FixedRecord<&Sample::id, &Sample::name, &Sample::flag, &Sample::size, &Sample::number>;

// The field list alone decides the bytes: little-endian integers in list order, a short
// string as 256 bytes; decoding reads the same order and refuses a short or long payload.
TEST(FixedRecord, FieldsInListOrderBothWays) {
  Sample s;
  s.id = -2;
  s.name = "AB";
  s.flag = 7;
  s.size = 0x0102;
  s.number = 0x0807060504030201;
  Bytes b = SampleLayout::Encode(s);
  ASSERT_EQ(b.size(), 4u + 256u + 1u + 2u + 8u);
  EXPECT_EQ(b.substr(0, 4), Bytes("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(b.substr(4, 3), Bytes("\x02"
                                  "AB",
                                  3));
  EXPECT_EQ(b.substr(7, 253), Bytes(253, '\0'));
  EXPECT_EQ(b.substr(260, 3), Bytes("\x07\x02\x01", 3));
  EXPECT_EQ(b.substr(263), Bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8));

  Sample back = SampleLayout::Decode<Sample>(b, "sample");
  EXPECT_EQ(back.id, -2);
  EXPECT_EQ(back.name, "AB");
  EXPECT_EQ(back.flag, 7);
  EXPECT_EQ(back.size, 0x0102);
  EXPECT_EQ(back.number, 0x0807060504030201);

  EXPECT_THROW(SampleLayout::Decode<Sample>(std::string_view(b).substr(0, b.size() - 1), "sample"),
               DecodeError);
  try {
    SampleLayout::Decode<Sample>(b + Bytes("xy"), "sample");
    FAIL() << "two bytes after the last field were taken";
  } catch (const DecodeError& e) {
    EXPECT_EQ(std::string(e.what()), "sample: 2 bytes after the last field");
  }
}

struct WithKey {
  int32_t id = 0;
  uint8_t flag = 0;
  Bytes key;
};
using WithKeyLayout = FixedRecord<&WithKey::id, request_codec::Fill8{9}, &WithKey::flag,
                                  request_codec::Rest<&WithKey::key>{}>;

// A fill byte is written as stated and skipped when read; the rest of the payload, however
// long (also none), is the last member; a payload too short for the fixed part is refused.
TEST(FixedRecord, FillBytesAndTheRestOfThePayload) {
  WithKey k;
  k.id = 3;
  k.flag = 1;
  k.key = Bytes("\x00key", 4);
  Bytes b = WithKeyLayout::Encode(k);
  EXPECT_EQ(b, Bytes("\x03\x00\x00\x00\x09\x01\x00key", 10));

  Bytes other_fill = b;
  other_fill[4] = '\x55';
  WithKey back = WithKeyLayout::Decode<WithKey>(other_fill, "with key");
  EXPECT_EQ(back.id, 3);
  EXPECT_EQ(back.flag, 1);
  EXPECT_EQ(back.key, k.key);

  WithKey empty = WithKeyLayout::Decode<WithKey>(std::string_view(b).substr(0, 6), "with key");
  EXPECT_EQ(empty.flag, 1);
  EXPECT_TRUE(empty.key.empty());
  EXPECT_THROW(WithKeyLayout::Decode<WithKey>(std::string_view(b).substr(0, 5), "with key"),
               DecodeError);
}

struct WithData {
  int32_t id = 0;
  Bytes data;
  uint8_t flag = 0;
};
using WithDataLayout =
    FixedRecord<&WithData::id, request_codec::Sized<&WithData::data>{}, &WithData::flag>;

// Sized bytes go as their int32 count and the bytes; a negative count or one beyond the
// payload is refused with the record's name, never read past the end.
TEST(FixedRecord, SizedBytesCarryTheirCount) {
  WithData d;
  d.id = 1;
  d.data = "abc";
  d.flag = 2;
  Bytes b = WithDataLayout::Encode(d);
  EXPECT_EQ(b, Bytes("\x01\x00\x00\x00\x03\x00\x00\x00"
                     "abc\x02",
                     12));
  WithData back = WithDataLayout::Decode<WithData>(b, "with data");
  EXPECT_EQ(back.data, "abc");
  EXPECT_EQ(back.flag, 2);

  Bytes too_long = b;
  too_long[4] = '\x09';
  try {
    WithDataLayout::Decode<WithData>(too_long, "with data");
    FAIL() << "a count beyond the payload was taken";
  } catch (const DecodeError& e) {
    EXPECT_EQ(std::string(e.what()), "with data length 9 exceeds the 4 bytes that remain");
  }
  Bytes negative = b;
  negative[7] = '\xff';
  EXPECT_THROW(WithDataLayout::Decode<WithData>(negative, "with data"), DecodeError);
}

}  // namespace
}  // namespace vantera
