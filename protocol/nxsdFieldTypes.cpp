#include "protocol/nxsdFieldTypes.h"

namespace vantera {
namespace {

const char* const kNames[kFieldTypeCount] = {
    "nxtBoolean",    "nxtChar",        "nxtWideChar",  "nxtByte",        "nxtWord16",
    "nxtWord32",     "nxtInt8",        "nxtInt16",     "nxtInt32",       "nxtInt64",
    "nxtAutoInc",    "nxtSingle",      "nxtDouble",    "nxtExtended",    "nxtCurrency",
    "nxtDate",       "nxtTime",        "nxtDateTime",  "nxtInterval",    "nxtBlob",
    "nxtBlobMemo",   "nxtBlobGraphic", "nxtByteArray", "nxtShortString", "nxtNullString",
    "nxtWideString", "nxtRecRev"};

int32_t ClampUnits(int32_t units, int32_t max) {
  return units < 0 || units > max ? max : units;
}

int32_t Capped(int64_t length) {
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

}  // namespace

const char* FieldTypeName(TnxFieldType type) {
  return type < kFieldTypeCount ? kNames[type] : "nxtUnknown";
}

bool FieldTypeByName(std::string_view name, TnxFieldType* type) {
  for (int i = 0; i < kFieldTypeCount; ++i) {
    if (name == kNames[i]) {
      *type = static_cast<TnxFieldType>(i);
      return true;
    }
  }
  return false;
}

int32_t FieldTypeLength(TnxFieldType type, int32_t units) {
  switch (type) {
    case nxtBoolean:
    case nxtChar:
    case nxtByte:
    case nxtInt8:
      return 1;
    case nxtWideChar:
    case nxtWord16:
    case nxtInt16:
      return 2;
    case nxtWord32:
    case nxtInt32:
    case nxtAutoInc:
    case nxtSingle:
    case nxtDate:
    case nxtTime:
    case nxtRecRev:
      return 4;
    case nxtInt64:
    case nxtDouble:
    case nxtCurrency:
    case nxtDateTime:
    case nxtInterval:
    case nxtBlob:
    case nxtBlobMemo:
    case nxtBlobGraphic:
      return 8;
    case nxtExtended:
      return 10;
    case nxtByteArray:
      return units;
    case nxtShortString:
    case nxtNullString:
      return Capped(int64_t{units} + 1);
    case nxtWideString:
      return Capped(int64_t{units} * 2 + 2);
  }
  return 0;
}

void SettleFieldType(TnxFieldType type, int32_t* units, int32_t* decimals, bool* required) {
  switch (type) {
    case nxtSingle:
    case nxtDouble:
    case nxtExtended:
    case nxtCurrency:
      return;  // as declared
    case nxtBoolean:
    case nxtDate:
    case nxtTime:
    case nxtDateTime:
    case nxtInterval:
    case nxtBlob:
    case nxtBlobMemo:
    case nxtBlobGraphic:
      *units = 0;
      break;
    case nxtChar:
    case nxtWideChar:
      *units = 1;
      break;
    case nxtByte:
    case nxtInt8:
      *units = ClampUnits(*units, 3);
      break;
    case nxtWord16:
    case nxtInt16:
      *units = ClampUnits(*units, 5);
      break;
    case nxtWord32:
    case nxtInt32:
      *units = ClampUnits(*units, 10);
      break;
    case nxtInt64:
      *units = ClampUnits(*units, 20);
      break;
    case nxtAutoInc:
    case nxtRecRev:
      *units = 10;
      *required = false;
      break;
    case nxtShortString:
      // A negative size holds nothing; more than a length byte can count is cut.
      *units = *units < 0 ? 0 : (*units > 255 ? 255 : *units);
      break;
    case nxtByteArray:
    case nxtNullString:
    case nxtWideString:
      if (*units < 0)
        *units = 0;
      break;
  }
  *decimals = 0;
}

bool IsBlobType(TnxFieldType type) {
  return type == nxtBlob || type == nxtBlobMemo || type == nxtBlobGraphic;
}

bool IsStringType(TnxFieldType type) {
  return type == nxtChar || type == nxtShortString || type == nxtNullString;
}

bool IsDateTimeType(TnxFieldType type) {
  return type == nxtDate || type == nxtTime || type == nxtDateTime || type == nxtInterval;
}

}  // namespace vantera
