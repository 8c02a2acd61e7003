// Field types of the record layout: their names in the dictionary stream, their storage
// length in a record image and how units and decimals are settled when a field is defined.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantera {

enum TnxFieldType : uint8_t {
  nxtBoolean = 0,
  nxtChar = 1,
  nxtWideChar = 2,
  nxtByte = 3,
  nxtWord16 = 4,
  nxtWord32 = 5,
  nxtInt8 = 6,
  nxtInt16 = 7,
  nxtInt32 = 8,
  nxtInt64 = 9,
  nxtAutoInc = 10,
  nxtSingle = 11,
  nxtDouble = 12,
  nxtExtended = 13,
  nxtCurrency = 14,
  nxtDate = 15,
  nxtTime = 16,
  nxtDateTime = 17,
  nxtInterval = 18,
  nxtBlob = 19,
  nxtBlobMemo = 20,
  nxtBlobGraphic = 21,
  nxtByteArray = 22,
  nxtShortString = 23,
  nxtNullString = 24,
  nxtWideString = 25,
  nxtRecRev = 26,
};

inline constexpr int kFieldTypeCount = 27;

// "nxtBoolean" ... "nxtRecRev".
const char* FieldTypeName(TnxFieldType type);
// The type of a name; false when the name is none of them (compared exactly).
bool FieldTypeByName(std::string_view name, TnxFieldType* type);

// Storage length in a record image for the settled units.
int32_t FieldTypeLength(TnxFieldType type, int32_t units);

// Settles units, decimals and the required flag by the type's rules (units clamped to the
// type's range, decimals 0 except for the floating and currency types, auto-increment and
// record revision never required).
void SettleFieldType(TnxFieldType type, int32_t* units, int32_t* decimals, bool* required);

// Type groups used by defaults, mappers and key comparison.
bool IsBlobType(TnxFieldType type);
bool IsStringType(TnxFieldType type);    // nxtChar, nxtShortString, nxtNullString
bool IsDateTimeType(TnxFieldType type);  // date, time, date-time, interval

}  // namespace vantera
