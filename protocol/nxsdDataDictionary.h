// TnxDataDictionary: the description of one table (fields, indexes, files) that the server
// sends with every opened cursor, and the record image layout that follows from it.
//
// Dictionary stream (tagged values, in this order; every Int 1 below must be 1):
//   Ident "KantaDB", Int version (1 or 2), 4 raw signature bytes, 4 Str engine strings
//   Ident "RecordDescriptor", Bool present [, Str class, part]
//   Ident "BlobDescriptor",   Bool present [, Str class, part]
//   Ident "FileDescriptor",   Int n, n x (Str class, Str extension, Int file type, part)
//   Ident "FieldDescriptor",  Int n, n x (Str class, Str name, Str description, Str type,
//                                         Int units, Int decimals, Bool required, part)
//   Ident "IndexDescriptor",  Int n, n x (Str class, Str key class, Str name, Int file, part)
//   Int default index, Int S (sum of field lengths), [version 2: Int D (data length)]
//   Ident "CustomDescriptor", Int n, n x (Str class, Str name, part)
//   Ident "KantaDB"
//
// Record image (RecordLength() bytes):
//   offset 0            field data, each field at its own offset and length (as sent)
//   NullOffset()        null flags: bit f%32 of the little-endian u32 word f/32, set = null
//                       (D in version 2, S in version 1)
//   RecordLength()      (version 1: S rounded up to 4; version 2: D) + 4 * ceil(n / 32)
//
// Failures throw EnxDataDictionaryException or one of its descriptor subclasses; a failed
// read leaves the default dictionary. Not thread-safe; an instance belongs to one cursor.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"
#include "protocol/nxsdDateTime.h"
#include "protocol/nxsdDescriptors.h"
#include "protocol/nxsdExceptions.h"
#include "protocol/nxsdFieldTypes.h"
#include "protocol/tagged_stream.h"

namespace vantera {

// The largest record image the client accepts: record requests carry its length in 16 bits.
inline constexpr int32_t kMaxRecordLength = 65535;
// Bookmark bytes besides the key.
inline constexpr int32_t kBookmarkOverhead = 24;
inline constexpr int32_t kMaxIndexes = 256;

class TnxDataDictionary {
 public:
  // The default dictionary: version 2, signature "NX!1", the data file "nx1" and the
  // "Sequential Access Index"; no fields.
  TnxDataDictionary();
  ~TnxDataDictionary();
  TnxDataDictionary(const TnxDataDictionary&) = delete;
  TnxDataDictionary& operator=(const TnxDataDictionary&) = delete;
  TnxDataDictionary(TnxDataDictionary&&) noexcept;
  TnxDataDictionary& operator=(TnxDataDictionary&&) noexcept;

  // ---- Stream ----

  // Clears, reads one dictionary stream from the reader's position (nothing after it is
  // consumed) and checks it. Any failure leaves the default dictionary and throws: 15498 for
  // a malformed or truncated stream, the check's own code otherwise. A read-only dictionary
  // throws 15500 and stays as it is.
  void ReadFromStream(TaggedReader& r);
  // The same over a whole byte string (bytes after the dictionary are ignored).
  void ReadFromBytes(std::string_view bytes);
  void WriteToStream(TaggedWriter& w) const;
  Bytes ToBytes() const;
  // Copy through a stream written and read back.
  void Assign(const TnxDataDictionary& other);
  // Back to the default dictionary (15500 when read-only).
  void Clear();

  // The checks made after reading; call after building a dictionary by hand.
  void Check();

  // ---- Building (each throws 15500 on a read-only dictionary) ----

  void SetVersion(int32_t version);  // 1 or 2
  // Appends a field after the last one: offset S, the type's length; S and D grow.
  TnxFieldDescriptor& AddField(std::string name, TnxFieldType type, int32_t units = 0,
                               int32_t decimals = 0, bool required = false,
                               std::string description = {});
  void SetDefaultValue(int field_number, std::unique_ptr<TnxBaseDefaultValueDescriptor> value);
  TnxFileDescriptor& AddFile(std::string extension, std::string description, int32_t file_type);
  TnxIndexDescriptor& AddIndex(std::string name, std::unique_ptr<TnxBaseKeyDescriptor> key,
                               bool allow_duplicates, int32_t file_number = 0,
                               std::string description = {});
  // A composite index over fields by name, each a text key field (ignore case as given)
  // when the field is a string type, else a plain key field; all ascending.
  TnxIndexDescriptor& AddCompositeIndex(std::string name,
                                        const std::vector<std::string>& field_names,
                                        bool allow_duplicates, bool ignore_case = false);
  void SetDefaultIndex(int32_t index_number);

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }

  // ---- Contents ----

  int32_t Version() const { return version_; }
  const std::array<char, 4>& Signature() const { return signature_; }
  const std::array<std::string, 4>& EngineStrings() const { return engine_strings_; }
  const TnxBaseRecordDescriptor* RecordDescriptor() const { return record_descriptor_.get(); }
  const TnxBaseBlobDescriptor* BlobDescriptor() const { return blob_descriptor_.get(); }

  int FileCount() const { return static_cast<int>(files_.size()); }
  const TnxFileDescriptor& File(int n) const;
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Field by number (from 0); 9999 when out of range.
  const TnxFieldDescriptor& Field(int n) const;
  int IndexCount() const { return static_cast<int>(indexes_.size()); }
  const TnxIndexDescriptor& Index(int n) const;
  int CustomCount() const { return static_cast<int>(customs_.size()); }
  const TnxBaseCustomDescriptor& Custom(int n) const;

  // Numbers by name, without regard to case; -1 when absent.
  int FieldNumber(std::string_view name) const;
  int IndexNumber(std::string_view name) const;
  int DefaultIndex() const { return default_index_; }

  // ---- Layout ----

  int32_t FieldsLength() const { return fields_length_; }  // S
  int32_t DataLength() const { return data_length_; }      // D (version 1: S)
  int32_t NullOffset() const;
  int32_t RecordLength() const;
  // Key length of an index: 8 for a reference key; for a composite key the sum of its key
  // fields' lengths + ceil(k / 8). 0 for an index number out of range.
  int32_t KeyLength(int index_number) const;
  // Key length + 24; 24 for a number outside the index list (such as -1).
  int32_t BookmarkSize(int index_number) const;

  // ---- Record images ----
  // Every function checks that the image holds at least RecordLength() bytes (else 10003)
  // and that the field number is in range (else 9999).

  // A new record image: zeros, every field null, then defaults applied.
  Bytes NewRecord(TimeStamp now = CurrentLocalTimeStamp()) const;
  void InitRecord(std::span<char> record, TimeStamp now = CurrentLocalTimeStamp()) const;
  // Null flag set, or (for a blob field) blob number 0.
  bool IsNull(std::string_view record, int field) const;
  bool NullFlag(std::string_view record, int field) const;
  // The field's bytes; *is_null receives IsNull when given.
  std::string_view GetFieldBytes(std::string_view record, int field, bool* is_null = nullptr) const;
  // Copies the bytes (cut or zero-padded to the field's length) and clears the null flag.
  void SetFieldBytes(std::span<char> record, int field, std::string_view bytes) const;
  // Sets the null flag and zeroes the field's bytes.
  void SetNull(std::span<char> record, int field) const;
  void ClearNull(std::span<char> record, int field) const;

 private:
  void CheckWritable() const;
  void CheckRecord(size_t size, int field) const;
  void ReadUnchecked(TaggedReader& r);
  void ResetToDefault();
  void CheckLayout() const;

  int32_t version_ = 2;
  std::array<char, 4> signature_{{'N', 'X', '!', '1'}};
  std::array<std::string, 4> engine_strings_;
  std::unique_ptr<TnxBaseRecordDescriptor> record_descriptor_;
  std::unique_ptr<TnxBaseBlobDescriptor> blob_descriptor_;
  std::vector<std::unique_ptr<TnxFileDescriptor>> files_;
  std::vector<std::unique_ptr<TnxFieldDescriptor>> fields_;
  std::vector<std::unique_ptr<TnxIndexDescriptor>> indexes_;
  std::vector<std::unique_ptr<TnxBaseCustomDescriptor>> customs_;
  int32_t default_index_ = 0;
  int32_t fields_length_ = 0;
  int32_t data_length_ = 0;
  bool read_only_ = false;
};

}  // namespace vantera
