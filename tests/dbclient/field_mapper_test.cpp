#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

#include "protocol/nxsdDateTime.h"
#include "protocol/nxsdFieldMappers.h"

namespace vantera {
namespace {

using namespace std::string_literals;

// One field of the type in its own dictionary, with a fresh record.
struct OneField {
  explicit OneField(TnxFieldType type, int32_t units = 0) {
    dict.AddField("F", type, units);
    dict.Check();
    mapper = CreateFieldMapper(dict, 0);
    record = dict.NewRecord(TimeStamp{1, 0});
  }
  std::string Bytes() const { return record.substr(0, static_cast<size_t>(dict.Field(0).length)); }
  void Write(const FieldValue& v) { mapper->Write(record, v); }
  FieldValue Read() const { return mapper->Read(record); }
  void Store(const std::string& bytes) { dict.SetFieldBytes(record, 0, bytes); }

  TnxDataDictionary dict;
  std::unique_ptr<TnxBaseVclFieldMapper> mapper;
  vantera::Bytes record;
};

TEST(FieldMappers, IntegersOfEveryWidth) {
  OneField b(nxtBoolean);
  b.Write(true);
  EXPECT_EQ(b.Bytes(), "\xFF");
  b.Store("\x01");
  EXPECT_EQ(std::get<bool>(b.Read()), true);
  b.Write(false);
  EXPECT_EQ(b.Bytes(), "\x00"s);
  EXPECT_EQ(std::get<bool>(b.Read()), false);

  OneField u8(nxtByte);
  u8.Write(int64_t{300});  // narrowed
  EXPECT_EQ(u8.Bytes(), "\x2C");
  EXPECT_EQ(std::get<int64_t>(u8.Read()), 44);
  OneField i8(nxtInt8);
  i8.Write(int64_t{-5});
  EXPECT_EQ(i8.Bytes(), "\xFB");
  EXPECT_EQ(std::get<int64_t>(i8.Read()), -5);
  OneField w16(nxtWord16);
  w16.Write(int64_t{65535});
  EXPECT_EQ(std::get<int64_t>(w16.Read()), 65535);
  OneField i16(nxtInt16);
  i16.Write(int64_t{-2});
  EXPECT_EQ(i16.Bytes(), "\xFE\xFF");
  EXPECT_EQ(std::get<int64_t>(i16.Read()), -2);
  OneField w32(nxtWord32);
  w32.Write(int64_t{4294967295});
  EXPECT_EQ(std::get<int64_t>(w32.Read()), 4294967295);
  OneField i32(nxtInt32);
  i32.Write(int64_t{-100000});
  EXPECT_EQ(i32.Bytes(), "\x60\x79\xFE\xFF");
  EXPECT_EQ(std::get<int64_t>(i32.Read()), -100000);
  i32.Write(2.6);  // a double is rounded
  EXPECT_EQ(std::get<int64_t>(i32.Read()), 3);
  OneField i64(nxtInt64);
  i64.Write(int64_t{-(int64_t{1} << 40)});
  EXPECT_EQ(std::get<int64_t>(i64.Read()), -(int64_t{1} << 40));
  OneField ai(nxtAutoInc);
  ai.Write(int64_t{7});
  EXPECT_EQ(std::get<int64_t>(ai.Read()), 7);

  EXPECT_EQ(i32.mapper->Kind(), DatasetFieldKind::Integer);
  EXPECT_EQ(i16.mapper->Kind(), DatasetFieldKind::SmallInt);
  EXPECT_EQ(w16.mapper->Kind(), DatasetFieldKind::Word);
  EXPECT_EQ(i64.mapper->Kind(), DatasetFieldKind::LargeInt);

  // A text into a number field is refused and leaves the record as it was.
  Bytes before = i32.record;
  try {
    i32.Write(std::string("12"));
    ADD_FAILURE();
  } catch (const EnxDataDictionaryException& e) {
    EXPECT_EQ(e.ErrorCode(), 10002u);
  }
  EXPECT_EQ(i32.record, before);
}

TEST(FieldMappers, RecRevIsReadOnly) {
  OneField rr(nxtRecRev);
  rr.Store("\x09\x00\x00\x00"s);
  EXPECT_EQ(std::get<int64_t>(rr.Read()), 9);
  for (FieldValue v : {FieldValue{int64_t{1}}, FieldValue{}}) {
    try {
      rr.Write(v);
      ADD_FAILURE();
    } catch (const EnxDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), "RecRev fields are read-only [$3001/12289]");
      EXPECT_EQ(e.ErrorCode(), 12289u);
    }
  }
  EXPECT_EQ(std::get<int64_t>(rr.Read()), 9);
}

TEST(FieldMappers, FloatsAndCurrency) {
  OneField s(nxtSingle);
  s.Write(1.5);
  EXPECT_EQ(s.Bytes(), "\x00\x00\xC0\x3F"s);
  EXPECT_EQ(std::get<double>(s.Read()), 1.5);
  OneField d(nxtDouble);
  d.Write(-0.1);
  EXPECT_EQ(std::get<double>(d.Read()), -0.1);
  OneField e(nxtExtended);
  e.Write(1.5);
  EXPECT_EQ(e.Bytes(), "\x00\x00\x00\x00\x00\x00\x00\xC0\xFF\x3F"s);
  for (double v : {0.0, -2.0, 1e300, -1e-300, 4.9e-324, 123456.789, HUGE_VAL}) {
    e.Write(v);
    EXPECT_EQ(std::get<double>(e.Read()), v);
  }
  OneField c(nxtCurrency);
  c.Write(12.3456);
  EXPECT_EQ(c.Bytes(), "\x40\xE2\x01\x00\x00\x00\x00\x00"s);  // 123456
  EXPECT_EQ(std::get<double>(c.Read()), 12.3456);
  c.Write(-0.00006);  // -0.6 counts: rounded to the nearest
  EXPECT_EQ(std::get<double>(c.Read()), -0.0001);
  c.Write(0.00004);
  EXPECT_EQ(std::get<double>(c.Read()), 0.0);
  EXPECT_THROW(c.Write(1e300), EnxDataDictionaryException);
}

TEST(FieldMappers, DayNumbersAndClockValues) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayNumber(1899, 12, 30), kClockDayOffset);
  EXPECT_EQ(DayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(DayNumber(2000, 3, 1) - DayNumber(2000, 2, 28), 2);  // leap year
  EXPECT_EQ(DayNumber(1900, 3, 1) - DayNumber(1900, 2, 28), 1);  // not a leap year
  EXPECT_EQ(DayNumber(9999, 12, 31), 3652059);
  for (int32_t n : {1, 59, 60, 365, 366, 730120, 730179, 730180, 3652059}) {
    int y, m, dd;
    DayNumberToDate(n, &y, &m, &dd);
    EXPECT_EQ(DayNumber(y, m, dd), n);
  }
  int y, m, dd;
  DayNumberToDate(730179, &y, &m, &dd);  // 29 February 2000
  EXPECT_EQ(y * 10000 + m * 100 + dd, 20000229);

  OneField date(nxtDate);
  date.Write(36526.75);                          // 1 January 2000, 18:00: the time is dropped
  EXPECT_EQ(date.Bytes(), "\x08\x24\x0B\x00"s);  // 730120
  EXPECT_EQ(std::get<double>(date.Read()), 36526.0);
  date.Write(0.0);
  EXPECT_EQ(DecodeFixed32(date.Bytes().data()), 693594u);

  OneField time(nxtTime);
  time.Write(36526.5);
  EXPECT_EQ(DecodeFixed32(time.Bytes().data()), 43200000u);
  EXPECT_EQ(std::get<double>(time.Read()), 0.5);

  OneField stamp(nxtDateTime);
  stamp.Write(36526.75);
  EXPECT_EQ(std::bit_cast<double>(DecodeFixed64(stamp.Bytes().data())),
            730120.0 * 86400000 + 64800000);
  EXPECT_EQ(std::get<double>(stamp.Read()), 36526.75);
  // Before 30 December 1899 the time still runs forward within the day.
  stamp.Write(-1.25);
  EXPECT_EQ(std::bit_cast<double>(DecodeFixed64(stamp.Bytes().data())),
            693593.0 * 86400000 + 21600000);
  EXPECT_EQ(std::get<double>(stamp.Read()), -1.25);
  // Milliseconds that round up to a whole day carry into the next day.
  EXPECT_EQ(ClockToTimeStamp(1.0 - 1e-12), (TimeStamp{kClockDayOffset + 1, 0}));
  EXPECT_THROW(ClockToTimeStamp(NAN), EnxDataDictionaryException);
  EXPECT_THROW(ClockToTimeStamp(-700000.0), EnxDataDictionaryException);
  // A stored value that is no date-time is refused on reading.
  stamp.Store("\x00\x00\x00\x00\x00\x00\xF8\x7F"s);  // NaN
  EXPECT_THROW(stamp.Read(), EnxDataDictionaryException);
  stamp.Store(std::string(7, '\0') + "\xC0"s);  // -2.0
  EXPECT_THROW(stamp.Read(), EnxDataDictionaryException);
}

TEST(FieldMappers, TextBytesWideAndBlobs) {
  OneField ch(nxtChar);
  ch.Write(std::string("xyz"));
  EXPECT_EQ(ch.Bytes(), "x");
  EXPECT_EQ(std::get<std::string>(ch.Read()), "x");

  // A length byte beyond the field is not trusted.
  OneField ss(nxtShortString, 15);
  ss.Store(
      "\xC8"
      "abcdefghijklmnop");
  EXPECT_EQ(std::get<std::string>(ss.Read()), "abcdefghijklmno");
  ss.Write(std::string("\xE4\xF6"));  // bytes pass unconverted
  EXPECT_EQ(ss.Bytes(), "\x02\xE4\xF6"s + std::string(13, '\0'));

  // A null string without its terminator reads at most its units.
  OneField ns(nxtNullString, 4);
  ns.Store("abcde");
  EXPECT_EQ(std::get<std::string>(ns.Read()), "abcd");

  OneField ba(nxtByteArray, 4);
  ba.Write("\x01\x00\x02"s);
  EXPECT_EQ(ba.Bytes(), "\x01\x00\x02\x00"s);
  EXPECT_EQ(std::get<std::string>(ba.Read()), "\x01\x00\x02\x00"s);
  EXPECT_EQ(ba.mapper->Size(), 4);

  OneField ws(nxtWideString, 3);
  EXPECT_EQ(ws.dict.Field(0).length, 8);
  ws.Write(std::u16string(u"\u20ACbcd"));
  EXPECT_EQ(ws.Bytes(), "\xAC\x20\x62\x00\x63\x00\x00\x00"s);
  EXPECT_EQ(std::get<std::u16string>(ws.Read()), u"\u20ACbc");
  EXPECT_THROW(ws.Write(std::string("abc")), EnxDataDictionaryException);  // no guessing
  OneField wc(nxtWideChar);
  wc.Write(std::u16string());
  EXPECT_EQ(wc.Bytes(), "\x00\x00"s);
  EXPECT_FALSE(wc.mapper->IsNull(wc.record));

  OneField blob(nxtBlob);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(blob.Read()));
  blob.Write(int64_t{0x1234});
  EXPECT_EQ(std::get<int64_t>(blob.Read()), 0x1234);
  blob.Write(int64_t{0});  // blob number 0 counts as no blob
  EXPECT_TRUE(blob.mapper->IsNull(blob.record));
  blob.Write(FieldValue{});
  EXPECT_TRUE(blob.dict.NullFlag(blob.record, 0));
  EXPECT_EQ(blob.mapper->Kind(), DatasetFieldKind::Blob);
}

TEST(FieldMappers, KindsFamiliesAndFinalFields) {
  TnxDataDictionary d;
  TnxFieldType types[] = {nxtChar,     nxtShortString, nxtNullString, nxtByte,       nxtWord16,
                          nxtWord32,   nxtInt8,        nxtInt16,      nxtInt32,      nxtAutoInc,
                          nxtRecRev,   nxtInt64,       nxtDate,       nxtTime,       nxtDateTime,
                          nxtInterval, nxtBlob,        nxtBlobMemo,   nxtBlobGraphic};
  for (TnxFieldType t : types)
    d.AddField(FieldTypeName(t), t, 10);
  int n = 0;
  auto kind = [&](int f) { return CreateFieldMapper(d, f)->Kind(); };
  // Declared string fields accept the three string types.
  for (; n < 3; ++n)
    EXPECT_TRUE(SameFieldFamily(DatasetFieldKind::String, kind(n))) << n;
  // The declared 32-bit integer accepts every integer up to 32 bits, not Int64.
  for (; n < 11; ++n)
    EXPECT_TRUE(SameFieldFamily(DatasetFieldKind::Integer, kind(n))) << n;
  EXPECT_FALSE(SameFieldFamily(DatasetFieldKind::Integer, kind(n++)));
  for (; n < 16; ++n)
    EXPECT_TRUE(SameFieldFamily(DatasetFieldKind::DateTime, kind(n))) << n;
  for (; n < 19; ++n)
    EXPECT_TRUE(SameFieldFamily(DatasetFieldKind::Blob, kind(n))) << n;
  EXPECT_FALSE(SameFieldFamily(DatasetFieldKind::String, DatasetFieldKind::WideString));
  EXPECT_FALSE(SameFieldFamily(DatasetFieldKind::Float, DatasetFieldKind::Integer));
  EXPECT_STREQ(DatasetFieldKindName(DatasetFieldKind::ByteArray), "Bytes");
  EXPECT_STREQ(DatasetFieldKindName(kind(11)), "LargeInt");
  EXPECT_EQ(CreateFieldMapper(d, 1)->Size(), 10);

  EXPECT_EQ(FieldBindingMismatch("Maara", DatasetFieldKind::Integer, 0, *CreateFieldMapper(d, 11)),
            "Type mismatch for field 'Maara', expecting: Integer actual: LargeInt");
  EXPECT_EQ(FieldBindingMismatch("AsNo", DatasetFieldKind::String, 15, *CreateFieldMapper(d, 1)),
            "");
  TnxDataDictionary bytes;
  bytes.AddField("B", nxtByteArray, 8);
  EXPECT_EQ(FieldBindingMismatch("B", DatasetFieldKind::ByteArray, 4, *CreateFieldMapper(bytes, 0)),
            "Size mismatch for field 'B', expecting: 4 actual: 8");

  TnxDataDictionary fin;
  fin.AddField("Hidden", nxtInt32).is_final = true;
  EXPECT_EQ(CreateFieldMapper(fin, 0), nullptr);
}

}  // namespace
}  // namespace vantera
