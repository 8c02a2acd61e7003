// Field mappers: conversion between a field's bytes in a record image and the value that
// the dataset shows for it. One mapper class per field type; CreateFieldMapper picks it.
//
// Values (FieldValue) by dataset kind:
//   null                      std::monostate
//   Boolean                   bool
//   integers, AutoInc         int64_t (Word32, AutoInc and RecRev read unsigned)
//   Float, Currency           double
//   Date, Time, DateTime      double clock value (days since 30 December 1899, time as
//                             fraction); stored as day number, milliseconds of the day, or
//                             day number * 86400000 + milliseconds
//   String, Bytes             std::string (bytes as stored, no character conversion)
//   WideString                std::u16string
//   Blob, Memo, Graphic       int64_t blob number (0 reads as null)
//
// A mapper keeps the field's layout, not the dictionary, so it stays valid on its own.
// Writes never leave the field's bytes; reads never trust a stored length beyond them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/nxsdDataDictionary.h"

namespace vantera {

enum class DatasetFieldKind {
  String,
  FixedChar,
  WideString,
  Word,
  SmallInt,
  Integer,
  LargeInt,
  AutoInc,
  Boolean,
  Float,
  Currency,
  Date,
  Time,
  DateTime,
  Blob,
  Memo,
  Graphic,
  ByteArray,  // named "Bytes" in messages
};

// "String", "SmallInt", ... as messages name the kinds.
const char* DatasetFieldKindName(DatasetFieldKind kind);
// True when a declared field of kind `declared` may be bound to a server field of kind
// `actual` (same family: strings; 16/32-bit integers and AutoInc; LargeInt; Boolean; Float
// and Currency; Date, Time and DateTime; blobs; Bytes; WideString).
bool SameFieldFamily(DatasetFieldKind declared, DatasetFieldKind actual);

class TnxBaseVclFieldMapper;

// Why a declared field cannot be bound to the server's field of the same name: empty when
// the kinds are of one family (and, for Bytes, the sizes equal); else
// "Type mismatch for field '%s', expecting: %s actual: %s" or
// "Size mismatch for field '%s', expecting: %d actual: %d".
std::string FieldBindingMismatch(std::string_view field_name, DatasetFieldKind declared,
                                 int32_t declared_size, const TnxBaseVclFieldMapper& server);

using FieldValue = std::variant<std::monostate, bool, int64_t, double, std::string, std::u16string>;

class TnxBaseVclFieldMapper {
 public:
  explicit TnxBaseVclFieldMapper(const TnxDataDictionary& dict, int field_number);
  virtual ~TnxBaseVclFieldMapper() = default;
  TnxBaseVclFieldMapper(const TnxBaseVclFieldMapper&) = delete;
  TnxBaseVclFieldMapper& operator=(const TnxBaseVclFieldMapper&) = delete;

  virtual DatasetFieldKind Kind() const = 0;
  // Dataset field size: units for string, wide string and byte fields, else 0.
  virtual int32_t Size() const { return 0; }

  int FieldNumber() const { return field_number_; }
  TnxFieldType Type() const { return type_; }
  bool Required() const { return required_; }

  bool IsNull(std::string_view record) const;
  // The field's value, std::monostate when null.
  FieldValue Read(std::string_view record) const;
  // std::monostate sets the field null; any other value is stored and clears the null flag.
  // A value of a kind the field cannot take throws EnxDataDictionaryException 10002.
  void Write(std::span<char> record, const FieldValue& value) const;

 protected:
  virtual FieldValue ReadValue(std::string_view bytes) const = 0;
  // Fills `bytes` (the field's own bytes, already zeroed) from the value.
  virtual void WriteValue(std::span<char> bytes, const FieldValue& value) const = 0;

  int32_t units_;

 private:
  void CheckRecord(size_t size) const;
  void SetNullFlag(std::span<char> record, bool null) const;

  int field_number_;
  TnxFieldType type_;
  bool required_;
  int32_t offset_;
  int32_t length_;
  int32_t null_offset_;
  int32_t record_length_;
};

// Value coercions shared by the mappers; each throws EnxDataDictionaryException 10002 for
// a value it cannot convert (10019 for a number out of range).
int64_t FieldValueToInt64(const FieldValue& value);
double FieldValueToDouble(const FieldValue& value);

// 80-bit extended float <-> double.
double ExtendedToDouble(const char* ten_bytes);
void DoubleToExtended(double value, char* ten_bytes);

// The mapper of a dictionary field; null for a field whose final flag is set.
std::unique_ptr<TnxBaseVclFieldMapper> CreateFieldMapper(const TnxDataDictionary& dict,
                                                         int field_number);

// ---- One mapper class per field type ----

#define VANTERA_DECLARE_MAPPER(Name)                                            \
  class Name : public TnxBaseVclFieldMapper {                                   \
   public:                                                                      \
    using TnxBaseVclFieldMapper::TnxBaseVclFieldMapper;                         \
    DatasetFieldKind Kind() const override;                                     \
    int32_t Size() const override;                                              \
                                                                                \
   protected:                                                                   \
    FieldValue ReadValue(std::string_view bytes) const override;                \
    void WriteValue(std::span<char> bytes, const FieldValue& v) const override; \
  };

VANTERA_DECLARE_MAPPER(TnxBooleanVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxCharVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxWideCharVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxByteVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxWord16VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxWord32VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxInt8VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxInt16VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxInt32VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxInt64VclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxAutoIncVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxSingleVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxDoubleVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxExtendedVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxCurrencyVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxDateVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxTimeVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxDateTimeVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxIntervalVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxBlobVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxBlobMemoVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxBlobGraphicVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxByteArrayVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxShortStringVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxNullStringVclFieldMapper)
VANTERA_DECLARE_MAPPER(TnxWideStringVclFieldMapper)
// Writing throws EnxDatabaseError 12289 "RecRev fields are read-only [$3001/12289]".
VANTERA_DECLARE_MAPPER(TnxRecRevVclFieldMapper)

#undef VANTERA_DECLARE_MAPPER

}  // namespace vantera
