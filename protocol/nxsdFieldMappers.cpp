#include "protocol/nxsdFieldMappers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "protocol/nxllErrors.h"

namespace vantera {
namespace {

constexpr uint32_t kInvalidTransformation = 10002;
constexpr uint32_t kOutOfBounds = 10019;

[[noreturn]] void CannotConvert() {
  throw EnxDataDictionaryException(kInvalidTransformation);
}

uint8_t Byte0(std::string_view b) {
  return static_cast<uint8_t>(b[0]);
}

void Put(std::span<char> dst, const Bytes& src) {
  std::memcpy(dst.data(), src.data(), std::min(dst.size(), src.size()));
}

template <class T>
void PutLE(std::span<char> dst, T v) {
  Bytes b;
  if constexpr (sizeof(T) == 1)
    PutFixed8(&b, static_cast<uint8_t>(v));
  else if constexpr (sizeof(T) == 2)
    PutFixed16(&b, static_cast<uint16_t>(v));
  else if constexpr (sizeof(T) == 4)
    PutFixed32(&b, static_cast<uint32_t>(v));
  else
    PutFixed64(&b, static_cast<uint64_t>(v));
  Put(dst, b);
}

const std::string& AsString(const FieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v))
    return *s;
  CannotConvert();
}

const std::u16string& AsWide(const FieldValue& v) {
  if (const auto* s = std::get_if<std::u16string>(&v))
    return *s;
  CannotConvert();
}

}  // namespace

// ---- Kinds ----

const char* DatasetFieldKindName(DatasetFieldKind kind) {
  switch (kind) {
    case DatasetFieldKind::String:
      return "String";
    case DatasetFieldKind::FixedChar:
      return "FixedChar";
    case DatasetFieldKind::WideString:
      return "WideString";
    case DatasetFieldKind::Word:
      return "Word";
    case DatasetFieldKind::SmallInt:
      return "SmallInt";
    case DatasetFieldKind::Integer:
      return "Integer";
    case DatasetFieldKind::LargeInt:
      return "LargeInt";
    case DatasetFieldKind::AutoInc:
      return "AutoInc";
    case DatasetFieldKind::Boolean:
      return "Boolean";
    case DatasetFieldKind::Float:
      return "Float";
    case DatasetFieldKind::Currency:
      return "Currency";
    case DatasetFieldKind::Date:
      return "Date";
    case DatasetFieldKind::Time:
      return "Time";
    case DatasetFieldKind::DateTime:
      return "DateTime";
    case DatasetFieldKind::Blob:
      return "Blob";
    case DatasetFieldKind::Memo:
      return "Memo";
    case DatasetFieldKind::Graphic:
      return "Graphic";
    case DatasetFieldKind::ByteArray:
      return "Bytes";
  }
  return "Unknown";
}

namespace {

int Family(DatasetFieldKind kind) {
  switch (kind) {
    case DatasetFieldKind::String:
    case DatasetFieldKind::FixedChar:
      return 1;
    case DatasetFieldKind::Word:
    case DatasetFieldKind::SmallInt:
    case DatasetFieldKind::Integer:
    case DatasetFieldKind::AutoInc:
      return 2;
    case DatasetFieldKind::LargeInt:
      return 3;
    case DatasetFieldKind::Boolean:
      return 4;
    case DatasetFieldKind::Float:
    case DatasetFieldKind::Currency:
      return 5;
    case DatasetFieldKind::Date:
    case DatasetFieldKind::Time:
    case DatasetFieldKind::DateTime:
      return 6;
    case DatasetFieldKind::Blob:
    case DatasetFieldKind::Memo:
    case DatasetFieldKind::Graphic:
      return 7;
    case DatasetFieldKind::ByteArray:
      return 8;
    case DatasetFieldKind::WideString:
      return 9;
  }
  return 0;
}

}  // namespace

bool SameFieldFamily(DatasetFieldKind declared, DatasetFieldKind actual) {
  return Family(declared) == Family(actual);
}

std::string FieldBindingMismatch(std::string_view field_name, DatasetFieldKind declared,
                                 int32_t declared_size, const TnxBaseVclFieldMapper& server) {
  std::string name(field_name);
  if (!SameFieldFamily(declared, server.Kind()))
    return "Type mismatch for field '" + name + "', expecting: " + DatasetFieldKindName(declared) +
           " actual: " + DatasetFieldKindName(server.Kind());
  if (declared == DatasetFieldKind::ByteArray && declared_size != server.Size())
    return "Size mismatch for field '" + name + "', expecting: " + std::to_string(declared_size) +
           " actual: " + std::to_string(server.Size());
  return {};
}

// ---- Coercions ----

int64_t FieldValueToInt64(const FieldValue& value) {
  if (const auto* i = std::get_if<int64_t>(&value))
    return *i;
  if (const auto* b = std::get_if<bool>(&value))
    return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&value)) {
    double r = std::round(*d);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
      throw EnxDataDictionaryException(kOutOfBounds);
    return static_cast<int64_t>(r);
  }
  CannotConvert();
}

double FieldValueToDouble(const FieldValue& value) {
  if (const auto* d = std::get_if<double>(&value))
    return *d;
  if (const auto* i = std::get_if<int64_t>(&value))
    return static_cast<double>(*i);
  CannotConvert();
}

double ExtendedToDouble(const char* p) {
  uint64_t mantissa = DecodeFixed64(p);
  uint16_t se = DecodeFixed16(p + 8);
  bool negative = (se & 0x8000) != 0;
  int exponent = se & 0x7FFF;
  double v;
  if (exponent == 0x7FFF)
    v = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::quiet_NaN();
  else if (exponent == 0 && mantissa == 0)
    v = 0.0;
  else
    v = std::ldexp(static_cast<double>(mantissa), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  return negative ? -v : v;
}

void DoubleToExtended(double value, char* p) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  uint16_t sign = (bits >> 63) ? 0x8000 : 0;
  int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  uint64_t mantissa;
  int ext_exponent;
  if (exponent == 0x7FF) {
    ext_exponent = 0x7FFF;
    mantissa = fraction == 0 ? uint64_t{1} << 63 : (uint64_t{3} << 62) | (fraction << 11);
  } else if (exponent == 0 && fraction == 0) {
    ext_exponent = 0;
    mantissa = 0;
  } else if (exponent == 0) {  // subnormal double: normalise
    int top = 63 - std::countl_zero(fraction);
    ext_exponent = top - 1074 + 16383;
    mantissa = fraction << (63 - top);
  } else {
    ext_exponent = exponent - 1023 + 16383;
    mantissa = (uint64_t{1} << 63) | (fraction << 11);
  }
  EncodeFixed64(p, mantissa);
  EncodeFixed16(p + 8, static_cast<uint16_t>(sign | ext_exponent));
}

// ---- Base ----

TnxBaseVclFieldMapper::TnxBaseVclFieldMapper(const TnxDataDictionary& dict, int field_number)
    : units_(dict.Field(field_number).units),
      field_number_(field_number),
      type_(dict.Field(field_number).type),
      required_(dict.Field(field_number).required),
      offset_(dict.Field(field_number).offset),
      length_(dict.Field(field_number).length),
      null_offset_(dict.NullOffset()),
      record_length_(dict.RecordLength()) {}

void TnxBaseVclFieldMapper::CheckRecord(size_t size) const {
  if (size < static_cast<size_t>(record_length_) ||
      static_cast<size_t>(offset_) + static_cast<size_t>(length_) > size)
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
}

bool TnxBaseVclFieldMapper::IsNull(std::string_view record) const {
  CheckRecord(record.size());
  size_t byte = static_cast<size_t>(null_offset_) + static_cast<size_t>(field_number_) / 8;
  if ((static_cast<unsigned char>(record[byte]) >> (field_number_ % 8)) & 1)
    return true;
  return IsBlobType(type_) && length_ >= 8 && DecodeFixed64(record.data() + offset_) == 0;
}

FieldValue TnxBaseVclFieldMapper::Read(std::string_view record) const {
  if (IsNull(record))
    return std::monostate{};
  return ReadValue(record.substr(static_cast<size_t>(offset_), static_cast<size_t>(length_)));
}

void TnxBaseVclFieldMapper::SetNullFlag(std::span<char> record, bool null) const {
  size_t byte = static_cast<size_t>(null_offset_) + static_cast<size_t>(field_number_) / 8;
  unsigned bit = 1u << (field_number_ % 8);
  unsigned char v = static_cast<unsigned char>(record[byte]);
  record[byte] = static_cast<char>(null ? (v | bit) : (v & ~bit));
}

void TnxBaseVclFieldMapper::Write(std::span<char> record, const FieldValue& value) const {
  if (type_ == nxtRecRev)
    throw EnxDatabaseError::WithoutComponent(nxcode::kNotSupported, "RecRev fields are read-only");
  CheckRecord(record.size());
  std::span<char> bytes =
      record.subspan(static_cast<size_t>(offset_), static_cast<size_t>(length_));
  if (std::holds_alternative<std::monostate>(value)) {
    std::memset(bytes.data(), 0, bytes.size());
    SetNullFlag(record, true);
    return;
  }
  // Convert into a scratch copy first so that a refused value leaves the record untouched.
  std::string scratch(bytes.size(), '\0');
  WriteValue(std::span<char>(scratch.data(), scratch.size()), value);
  std::memcpy(bytes.data(), scratch.data(), scratch.size());
  SetNullFlag(record, false);
}

// ---- Mappers ----

#define KIND(Name, K, S)                \
  DatasetFieldKind Name::Kind() const { \
    return DatasetFieldKind::K;         \
  }                                     \
  int32_t Name::Size() const {          \
    return S;                           \
  }

// Boolean: non-zero reads true; true is stored as 0xFF.
KIND(TnxBooleanVclFieldMapper, Boolean, 0)
FieldValue TnxBooleanVclFieldMapper::ReadValue(std::string_view b) const {
  return Byte0(b) != 0;
}
void TnxBooleanVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  bool flag;
  if (const auto* p = std::get_if<bool>(&v))
    flag = *p;
  else
    flag = FieldValueToInt64(v) != 0;
  b[0] = static_cast<char>(flag ? 0xFF : 0);
}

KIND(TnxCharVclFieldMapper, String, 1)
FieldValue TnxCharVclFieldMapper::ReadValue(std::string_view b) const {
  return std::string(1, b[0]);
}
void TnxCharVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  const std::string& s = AsString(v);
  b[0] = s.empty() ? '\0' : s[0];
}

KIND(TnxWideCharVclFieldMapper, WideString, 1)
FieldValue TnxWideCharVclFieldMapper::ReadValue(std::string_view b) const {
  return std::u16string(1, static_cast<char16_t>(DecodeFixed16(b.data())));
}
void TnxWideCharVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  const std::u16string& s = AsWide(v);
  EncodeFixed16(b.data(), s.empty() ? 0 : static_cast<uint16_t>(s[0]));
}

KIND(TnxByteVclFieldMapper, Word, 0)
FieldValue TnxByteVclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{Byte0(b)};
}
void TnxByteVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint8_t>(FieldValueToInt64(v)));
}

KIND(TnxWord16VclFieldMapper, Word, 0)
FieldValue TnxWord16VclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{DecodeFixed16(b.data())};
}
void TnxWord16VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint16_t>(FieldValueToInt64(v)));
}

KIND(TnxWord32VclFieldMapper, Integer, 0)
FieldValue TnxWord32VclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{DecodeFixed32(b.data())};
}
void TnxWord32VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint32_t>(FieldValueToInt64(v)));
}

KIND(TnxInt8VclFieldMapper, SmallInt, 0)
FieldValue TnxInt8VclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{static_cast<int8_t>(Byte0(b))};
}
void TnxInt8VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint8_t>(FieldValueToInt64(v)));
}

KIND(TnxInt16VclFieldMapper, SmallInt, 0)
FieldValue TnxInt16VclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{static_cast<int16_t>(DecodeFixed16(b.data()))};
}
void TnxInt16VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint16_t>(FieldValueToInt64(v)));
}

KIND(TnxInt32VclFieldMapper, Integer, 0)
FieldValue TnxInt32VclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{static_cast<int32_t>(DecodeFixed32(b.data()))};
}
void TnxInt32VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint32_t>(FieldValueToInt64(v)));
}

KIND(TnxInt64VclFieldMapper, LargeInt, 0)
FieldValue TnxInt64VclFieldMapper::ReadValue(std::string_view b) const {
  return static_cast<int64_t>(DecodeFixed64(b.data()));
}
void TnxInt64VclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint64_t>(FieldValueToInt64(v)));
}

KIND(TnxAutoIncVclFieldMapper, AutoInc, 0)
FieldValue TnxAutoIncVclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{DecodeFixed32(b.data())};
}
void TnxAutoIncVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint32_t>(FieldValueToInt64(v)));
}

KIND(TnxRecRevVclFieldMapper, Integer, 0)
FieldValue TnxRecRevVclFieldMapper::ReadValue(std::string_view b) const {
  return int64_t{DecodeFixed32(b.data())};
}
void TnxRecRevVclFieldMapper::WriteValue(std::span<char>, const FieldValue&) const {
  throw EnxDatabaseError::WithoutComponent(nxcode::kNotSupported, "RecRev fields are read-only");
}

KIND(TnxSingleVclFieldMapper, Float, 0)
FieldValue TnxSingleVclFieldMapper::ReadValue(std::string_view b) const {
  return static_cast<double>(std::bit_cast<float>(DecodeFixed32(b.data())));
}
void TnxSingleVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  double d = FieldValueToDouble(v);
  float f;
  if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
    throw EnxDataDictionaryException(kOutOfBounds);
  f = static_cast<float>(d);
  PutLE(b, std::bit_cast<uint32_t>(f));
}

KIND(TnxDoubleVclFieldMapper, Float, 0)
FieldValue TnxDoubleVclFieldMapper::ReadValue(std::string_view b) const {
  return std::bit_cast<double>(DecodeFixed64(b.data()));
}
void TnxDoubleVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, std::bit_cast<uint64_t>(FieldValueToDouble(v)));
}

KIND(TnxExtendedVclFieldMapper, Float, 0)
FieldValue TnxExtendedVclFieldMapper::ReadValue(std::string_view b) const {
  return ExtendedToDouble(b.data());
}
void TnxExtendedVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  DoubleToExtended(FieldValueToDouble(v), b.data());
}

// Currency: a count of 1/10000 units.
KIND(TnxCurrencyVclFieldMapper, Currency, 0)
FieldValue TnxCurrencyVclFieldMapper::ReadValue(std::string_view b) const {
  return static_cast<double>(static_cast<int64_t>(DecodeFixed64(b.data()))) / 10000.0;
}
void TnxCurrencyVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  double scaled = std::round(FieldValueToDouble(v) * 10000.0);
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
    throw EnxDataDictionaryException(kOutOfBounds);
  PutLE(b, static_cast<uint64_t>(static_cast<int64_t>(scaled)));
}

KIND(TnxDateVclFieldMapper, Date, 0)
FieldValue TnxDateVclFieldMapper::ReadValue(std::string_view b) const {
  return TimeStampToClock(TimeStamp{static_cast<int32_t>(DecodeFixed32(b.data())), 0});
}
void TnxDateVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint32_t>(ClockToTimeStamp(FieldValueToDouble(v)).date));
}

KIND(TnxTimeVclFieldMapper, Time, 0)
FieldValue TnxTimeVclFieldMapper::ReadValue(std::string_view b) const {
  return static_cast<double>(static_cast<int32_t>(DecodeFixed32(b.data()))) / kMSecsPerDay;
}
void TnxTimeVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  PutLE(b, static_cast<uint32_t>(ClockToTimeStamp(FieldValueToDouble(v)).time));
}

KIND(TnxDateTimeVclFieldMapper, DateTime, 0)
FieldValue TnxDateTimeVclFieldMapper::ReadValue(std::string_view b) const {
  return TimeStampToClock(MSecsToTimeStamp(std::bit_cast<double>(DecodeFixed64(b.data()))));
}
void TnxDateTimeVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  double ms = TimeStampToMSecs(ClockToTimeStamp(FieldValueToDouble(v)));
  PutLE(b, std::bit_cast<uint64_t>(ms));
}

KIND(TnxIntervalVclFieldMapper, DateTime, 0)
FieldValue TnxIntervalVclFieldMapper::ReadValue(std::string_view b) const {
  return TimeStampToClock(MSecsToTimeStamp(std::bit_cast<double>(DecodeFixed64(b.data()))));
}
void TnxIntervalVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  double ms = TimeStampToMSecs(ClockToTimeStamp(FieldValueToDouble(v)));
  PutLE(b, std::bit_cast<uint64_t>(ms));
}

// Blobs: the 64-bit blob number; the contents travel through blob streams.
#define BLOB_MAPPER(Name, K)                                            \
  KIND(Name, K, 0)                                                      \
  FieldValue Name::ReadValue(std::string_view b) const {                \
    return static_cast<int64_t>(DecodeFixed64(b.data()));               \
  }                                                                     \
  void Name::WriteValue(std::span<char> b, const FieldValue& v) const { \
    PutLE(b, static_cast<uint64_t>(FieldValueToInt64(v)));              \
  }
BLOB_MAPPER(TnxBlobVclFieldMapper, Blob)
BLOB_MAPPER(TnxBlobMemoVclFieldMapper, Memo)
BLOB_MAPPER(TnxBlobGraphicVclFieldMapper, Graphic)
#undef BLOB_MAPPER

KIND(TnxByteArrayVclFieldMapper, ByteArray, units_)
FieldValue TnxByteArrayVclFieldMapper::ReadValue(std::string_view b) const {
  return std::string(b.substr(0, std::min(b.size(), static_cast<size_t>(units_))));
}
void TnxByteArrayVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  const std::string& s = AsString(v);
  std::memcpy(b.data(), s.data(), std::min({s.size(), b.size(), static_cast<size_t>(units_)}));
}

// Short string: length byte, then the characters. Neither the length byte nor the units
// may carry a read or a write past the field's bytes.
KIND(TnxShortStringVclFieldMapper, String, units_)
FieldValue TnxShortStringVclFieldMapper::ReadValue(std::string_view b) const {
  if (b.empty())
    return std::string();
  size_t n = std::min({static_cast<size_t>(Byte0(b)), b.size() - 1, static_cast<size_t>(units_)});
  return std::string(b.substr(1, n));
}
void TnxShortStringVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  const std::string& s = AsString(v);
  if (b.empty())
    return;
  size_t n = std::min({s.size(), b.size() - 1, static_cast<size_t>(units_), size_t{255}});
  b[0] = static_cast<char>(n);
  std::memcpy(b.data() + 1, s.data(), n);
}

// Null string: at most units characters, ended by a zero byte.
KIND(TnxNullStringVclFieldMapper, String, units_)
FieldValue TnxNullStringVclFieldMapper::ReadValue(std::string_view b) const {
  std::string_view room = b.substr(0, std::min(b.size(), static_cast<size_t>(units_)));
  return std::string(room.substr(0, room.find('\0')));
}
void TnxNullStringVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  std::string_view s = AsString(v);
  s = s.substr(0, s.find('\0'));
  if (b.empty())
    return;
  size_t n = std::min({s.size(), b.size() - 1, static_cast<size_t>(units_)});
  std::memcpy(b.data(), s.data(), n);  // the terminator is the zeroed byte after them
}

// Wide string: 16-bit characters ended by a zero character.
KIND(TnxWideStringVclFieldMapper, WideString, units_)
FieldValue TnxWideStringVclFieldMapper::ReadValue(std::string_view b) const {
  size_t room = std::min(b.size() / 2, static_cast<size_t>(units_));
  std::u16string out;
  for (size_t i = 0; i < room; ++i) {
    char16_t c = static_cast<char16_t>(DecodeFixed16(b.data() + 2 * i));
    if (c == 0)
      break;
    out.push_back(c);
  }
  return out;
}
void TnxWideStringVclFieldMapper::WriteValue(std::span<char> b, const FieldValue& v) const {
  const std::u16string& s = AsWide(v);
  if (b.size() < 2)
    return;
  size_t n = std::min({s.size(), b.size() / 2 - 1, static_cast<size_t>(units_)});
  for (size_t i = 0; i < n && s[i] != 0; ++i)
    EncodeFixed16(b.data() + 2 * i, static_cast<uint16_t>(s[i]));
}

#undef KIND

// ---- Factory ----

std::unique_ptr<TnxBaseVclFieldMapper> CreateFieldMapper(const TnxDataDictionary& dict,
                                                         int field_number) {
  const TnxFieldDescriptor& f = dict.Field(field_number);
  if (f.is_final)
    return nullptr;
  switch (f.type) {
#define CASE(T, M) \
  case T:          \
    return std::make_unique<M>(dict, field_number);
    CASE(nxtBoolean, TnxBooleanVclFieldMapper)
    CASE(nxtChar, TnxCharVclFieldMapper)
    CASE(nxtWideChar, TnxWideCharVclFieldMapper)
    CASE(nxtByte, TnxByteVclFieldMapper)
    CASE(nxtWord16, TnxWord16VclFieldMapper)
    CASE(nxtWord32, TnxWord32VclFieldMapper)
    CASE(nxtInt8, TnxInt8VclFieldMapper)
    CASE(nxtInt16, TnxInt16VclFieldMapper)
    CASE(nxtInt32, TnxInt32VclFieldMapper)
    CASE(nxtInt64, TnxInt64VclFieldMapper)
    CASE(nxtAutoInc, TnxAutoIncVclFieldMapper)
    CASE(nxtSingle, TnxSingleVclFieldMapper)
    CASE(nxtDouble, TnxDoubleVclFieldMapper)
    CASE(nxtExtended, TnxExtendedVclFieldMapper)
    CASE(nxtCurrency, TnxCurrencyVclFieldMapper)
    CASE(nxtDate, TnxDateVclFieldMapper)
    CASE(nxtTime, TnxTimeVclFieldMapper)
    CASE(nxtDateTime, TnxDateTimeVclFieldMapper)
    CASE(nxtInterval, TnxIntervalVclFieldMapper)
    CASE(nxtBlob, TnxBlobVclFieldMapper)
    CASE(nxtBlobMemo, TnxBlobMemoVclFieldMapper)
    CASE(nxtBlobGraphic, TnxBlobGraphicVclFieldMapper)
    CASE(nxtByteArray, TnxByteArrayVclFieldMapper)
    CASE(nxtShortString, TnxShortStringVclFieldMapper)
    CASE(nxtNullString, TnxNullStringVclFieldMapper)
    CASE(nxtWideString, TnxWideStringVclFieldMapper)
    CASE(nxtRecRev, TnxRecRevVclFieldMapper)
#undef CASE
  }
  throw EnxFieldDescriptorException(10000);
}

}  // namespace vantera
