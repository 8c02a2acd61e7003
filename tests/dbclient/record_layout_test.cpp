#include <gtest/gtest.h>

#include <string>

#include "protocol/nxsdDataDictionary.h"
#include "protocol/nxsdFieldMappers.h"
#include "protocol/workstation_tables.h"
#include "tests/dbclient/hand_stream.h"

namespace vantera {
namespace {

using namespace std::string_literals;

const TimeStamp kNow{730120, 64800000};  // 1 January 2000, 18:00

TEST(RecordLayout, NullFlagsFollowTheDataArea) {
  TnxDataDictionary v2;
  v2.ReadFromBytes(hand::HandStream(hand::ThreeFieldDictionary(2)));
  Bytes rec = v2.NewRecord(kNow);
  EXPECT_EQ(rec, std::string(28, '\0') + "\xFF"s + std::string(3, '\0'));
  for (int f = 0; f < 3; ++f)
    EXPECT_TRUE(v2.IsNull(rec, f));

  TnxDataDictionary v1;
  v1.ReadFromBytes(hand::HandStream(hand::ThreeFieldDictionary(1)));
  EXPECT_EQ(v1.RecordLength(), 32);
  EXPECT_EQ(v1.NewRecord(kNow), rec);

  // Lengths 16, 4 and 5: S = 25, null flags at 25, record length 28 + 4.
  hand::HandDictionary h = hand::ThreeFieldDictionary(1);
  h.fields[2] = {"Lyh", "nxtShortString", 4, false, 20, 5, "", ""};
  h.s = 25;
  v1.ReadFromBytes(hand::HandStream(h));
  EXPECT_EQ(v1.NullOffset(), 25);
  EXPECT_EQ(v1.RecordLength(), 32);
  EXPECT_EQ(v1.NewRecord(kNow), std::string(25, '\0') + "\xFF"s + std::string(6, '\0'));

  // Setting a value clears its flag; setting null zeroes the bytes and sets it again.
  rec = v1.NewRecord(kNow);
  v1.SetFieldBytes(rec, 1, "\x05\x00\x00\x00"s);
  EXPECT_EQ(static_cast<unsigned char>(rec[25]), 0xFDu);
  bool null = true;
  EXPECT_EQ(v1.GetFieldBytes(rec, 1, &null), "\x05\x00\x00\x00"s);
  EXPECT_FALSE(null);
  v1.SetNull(rec, 1);
  EXPECT_EQ(rec, std::string(25, '\0') + "\xFF"s + std::string(6, '\0'));
  // A short image is refused, not read past.
  EXPECT_THROW(v1.IsNull(std::string(31, '\0'), 0), EnxDataDictionaryException);
  EXPECT_THROW(v1.IsNull(rec, 3), EnxFieldDescriptorException);
}

TEST(RecordLayout, ThirtyThreeFieldsNeedTwoFlagWords) {
  TnxDataDictionary d;
  for (int i = 0; i < 33; ++i)
    d.AddField("F" + std::to_string(i), nxtInt32);
  d.Check();
  EXPECT_EQ(d.FieldsLength(), 132);
  EXPECT_EQ(d.RecordLength(), 140);
  Bytes rec = d.NewRecord(kNow);
  EXPECT_EQ(rec, std::string(132, '\0') + std::string(5, '\xFF') + std::string(3, '\0'));
  d.ClearNull(rec, 32);  // bit 0 of the second word
  EXPECT_EQ(static_cast<unsigned char>(rec[136]), 0xFEu);
  EXPECT_TRUE(d.IsNull(rec, 31));
  EXPECT_FALSE(d.IsNull(rec, 32));
}

TEST(RecordLayout, KeyLengthAndBookmarkSize) {
  TnxDataDictionary d;
  d.AddField("Lyh", nxtShortString, 15);  // 16 bytes
  d.AddField("Maara", nxtInt32);
  d.AddCompositeIndex("ix", {"Lyh", "Maara"}, true);
  d.Check();
  EXPECT_EQ(d.KeyLength(1), 21);
  EXPECT_EQ(d.BookmarkSize(1), 45);
  EXPECT_EQ(d.BookmarkSize(0), 32);
  EXPECT_EQ(d.BookmarkSize(-1), 24);
  // Nine key fields take two bytes of null flags.
  TnxDataDictionary nine;
  std::vector<std::string> names;
  for (int i = 0; i < 9; ++i) {
    names.push_back("B" + std::to_string(i));
    nine.AddField(names.back(), nxtByte);
  }
  nine.AddCompositeIndex("ix", names, true);
  EXPECT_EQ(nine.KeyLength(1), 11);
}

TEST(RecordLayout, DefaultsFillNewRecords) {
  TnxDataDictionary d;
  d.AddField("Const", nxtInt32);
  d.AddField("Day", nxtDate);
  d.AddField("Clock", nxtTime);
  d.AddField("Stamp", nxtDateTime);
  d.AddField("Empty", nxtShortString, 3);
  d.AddField("Plain", nxtInt16);
  auto c = std::make_unique<TnxConstDefaultValueDescriptor>();
  c->value = "\x2A\x00\x00\x00"s;
  d.SetDefaultValue(0, std::move(c));
  for (int f = 1; f <= 3; ++f)
    d.SetDefaultValue(f, std::make_unique<TnxCurrentDateTimeDefaultValueDescriptor>());
  d.SetDefaultValue(4, std::make_unique<TnxEmptyDefaultValueDescriptor>());
  d.Check();

  Bytes rec = d.NewRecord(kNow);
  Bytes want;
  PutFixed32(&want, 42);
  PutFixed32(&want, 730120);
  PutFixed32(&want, 64800000);
  PutDouble(&want, 730120.0 * 86400000 + 64800000);
  want += std::string(4, '\0') + std::string(2, '\0');  // Empty, Plain
  want.resize(static_cast<size_t>(d.NullOffset()), '\0');
  want += "\xE0"s + std::string(3, '\0');  // Plain (field 5) and the unused bits
  EXPECT_EQ(rec, want);

  // Defaults survive a stream round trip.
  TnxDataDictionary copy;
  copy.Assign(d);
  EXPECT_EQ(copy.NewRecord(kNow), want);
}

// A lookup key for a stored customer number on ASSORMI's AsNo index, in both string types.
TEST(RecordLayout, StoredCustomerNumberKey) {
  const std::string stored = "          12345";  // 15 characters, right-aligned
  for (TnxFieldType type : {nxtShortString, nxtNullString}) {
    TnxDataDictionary d = AssormiDictionary(type);
    int as_no = d.FieldNumber("AsNo");
    auto mapper = CreateFieldMapper(d, as_no);
    Bytes key = d.NewRecord(kNow);
    Bytes blank = key;
    mapper->Write(key, stored);
    const TnxFieldDescriptor& f = d.Field(as_no);
    EXPECT_EQ(f.length, 16);
    std::string want_bytes = type == nxtShortString ? "\x0F"s + stored : stored + "\x00"s;
    EXPECT_EQ(key.substr(static_cast<size_t>(f.offset), 16), want_bytes);
    EXPECT_FALSE(d.IsNull(key, as_no));
    // Every other byte is as in a new record, except the AsNo null bit.
    Bytes expected = blank;
    expected.replace(static_cast<size_t>(f.offset), 16, want_bytes);
    size_t flag = static_cast<size_t>(d.NullOffset());
    expected[flag] = static_cast<char>(expected[flag] & ~(1 << as_no));
    EXPECT_EQ(key, expected);
    EXPECT_EQ(std::get<std::string>(mapper->Read(key)), stored);
  }
}

TEST(RecordLayout, LongTextIsCutToTheFieldSize) {
  const std::string text = "ABCDEFGHIJKLMNOPQRST";  // 20 characters
  TnxDataDictionary d;
  d.AddField("S16", nxtShortString, 16);
  d.AddField("S15", nxtShortString, 15);
  d.AddField("N16", nxtNullString, 16);
  d.Check();
  Bytes rec = d.NewRecord(kNow);
  for (int f = 0; f < 3; ++f)
    CreateFieldMapper(d, f)->Write(rec, text);
  EXPECT_EQ(d.Field(0).length, 17);
  EXPECT_EQ(d.Field(1).length, 16);
  EXPECT_EQ(rec.substr(0, 17), "\x10"s + text.substr(0, 16));
  EXPECT_EQ(rec.substr(17, 16), "\x0F"s + text.substr(0, 15));
  EXPECT_EQ(rec.substr(33, 17), text.substr(0, 16) + "\x00"s);
  EXPECT_EQ(std::get<std::string>(CreateFieldMapper(d, 0)->Read(rec)), text.substr(0, 16));
  EXPECT_EQ(std::get<std::string>(CreateFieldMapper(d, 1)->Read(rec)), text.substr(0, 15));
  EXPECT_EQ(std::get<std::string>(CreateFieldMapper(d, 2)->Read(rec)), text.substr(0, 16));
  // A shorter text after a longer one leaves no tail behind.
  CreateFieldMapper(d, 2)->Write(rec, std::string("xy"));
  EXPECT_EQ(rec.substr(33, 17), "xy"s + std::string(15, '\0'));
}

}  // namespace
}  // namespace vantera
