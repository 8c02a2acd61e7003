// The descriptors that a data dictionary is made of, and one class registry per kind.
//
// Each descriptor reads and writes its own part of the dictionary stream. A part opens with
// the item part (Int 1, list begin, one Str per free string, list end) and goes on with the
// class's own values, each group opened by Int 1. The dictionary (nxsdDataDictionary.h)
// writes the class names and the values that precede each part, and checks the whole after
// reading. Reading failures are TaggedStreamError (the dictionary turns them into 15498);
// a block size that is not allowed throws EnxFileDescriptorException 10004.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/nxsdDateTime.h"
#include "protocol/nxsdFieldTypes.h"
#include "protocol/tagged_stream.h"

namespace vantera {

class TnxFieldDescriptor;

// Base of every descriptor: a free list of strings that the client only carries.
class TnxDictionaryItem {
 public:
  virtual ~TnxDictionaryItem() = default;
  virtual const char* ClassName() const = 0;

  std::vector<std::string> strings;

 protected:
  void ReadItemPart(TaggedReader& r);
  void WriteItemPart(TaggedWriter& w) const;
};

// Reads the Int 1 that opens each group of values; any other value is a TaggedStreamError.
void ReadPartVersion(TaggedReader& r);
// Reads a list count: a tagged integer from 0 up to the bytes that remain.
int32_t ReadCount(TaggedReader& r);

// ---- Storage engine descriptors: carried, never interpreted ----

class TnxBaseBlockHeapDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxBaseBlockHeapDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  std::string name;
};

class TnxBaseHeapDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxBaseHeapDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  std::string name;
  std::unique_ptr<TnxBaseBlockHeapDescriptor> block_heap;  // optional
};

class TnxBaseRecordDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxBaseRecordDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  std::string engine_name;
};

class TnxHeapRecordDescriptor : public TnxBaseRecordDescriptor {
 public:
  const char* ClassName() const override { return "TnxHeapRecordDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
  std::unique_ptr<TnxBaseHeapDescriptor> heap;  // optional
};

class TnxBaseBlobDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxBaseBlobDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  std::string engine_name;
};

class TnxHeapBlobDescriptor : public TnxBaseBlobDescriptor {
 public:
  const char* ClassName() const override { return "TnxHeapBlobDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
  std::unique_ptr<TnxBaseHeapDescriptor> heap;  // optional
};

// ---- Files ----

inline constexpr int32_t kDataFileType = 0;
inline constexpr int32_t kBlobFileType = 2;

class TnxFileDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxFileDescriptor"; }
  void ReadPart(TaggedReader& r);
  void WritePart(TaggedWriter& w) const;
  // 4096, 8192, 16384, 32768 or 65536; any other value throws EnxFileDescriptorException
  // 10004 "%d is not a valid BlockSize".
  void SetBlockSize(int32_t size);
  int32_t block_size() const { return block_size_; }

  std::string extension;
  std::string description;
  int32_t file_type = kDataFileType;
  int32_t value1 = 4;
  int32_t value2 = 1;

 private:
  int32_t block_size_ = 4096;
};

// ---- Default values of fields ----

class TnxBaseDefaultValueDescriptor : public TnxDictionaryItem {
 public:
  virtual void ReadPart(TaggedReader& r, const TnxFieldDescriptor& field);
  virtual void WritePart(TaggedWriter& w, const TnxFieldDescriptor& field) const;
  virtual bool AllowedFor(TnxFieldType type) const = 0;
  // Fills the field's bytes (field.length of them) of a new record.
  virtual void Apply(std::span<char> bytes, const TnxFieldDescriptor& field,
                     TimeStamp now) const = 0;
};

// The field's length in raw bytes, copied into a new record. Not for blob types.
class TnxConstDefaultValueDescriptor : public TnxBaseDefaultValueDescriptor {
 public:
  const char* ClassName() const override { return "TnxConstDefaultValueDescriptor"; }
  void ReadPart(TaggedReader& r, const TnxFieldDescriptor& field) override;
  void WritePart(TaggedWriter& w, const TnxFieldDescriptor& field) const override;
  bool AllowedFor(TnxFieldType type) const override;
  void Apply(std::span<char> bytes, const TnxFieldDescriptor& field, TimeStamp now) const override;
  std::string value;  // raw bytes; cut or zero-padded to the field's length when used
};

// Today's day number, the time of day, or both. Only for date, time and date-time.
class TnxCurrentDateTimeDefaultValueDescriptor : public TnxBaseDefaultValueDescriptor {
 public:
  const char* ClassName() const override { return "TnxCurrentDateTimeDefaultValueDescriptor"; }
  bool AllowedFor(TnxFieldType type) const override;
  void Apply(std::span<char> bytes, const TnxFieldDescriptor& field, TimeStamp now) const override;
};

// Zero bytes. Not for date, time, date-time, interval and blob types.
class TnxEmptyDefaultValueDescriptor : public TnxBaseDefaultValueDescriptor {
 public:
  const char* ClassName() const override { return "TnxEmptyDefaultValueDescriptor"; }
  bool AllowedFor(TnxFieldType type) const override;
  void Apply(std::span<char> bytes, const TnxFieldDescriptor& field, TimeStamp now) const override;
};

// ---- Fields ----

class TnxFieldDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxFieldDescriptor"; }
  // The part after the values that the dictionary writes before it.
  void ReadPart(TaggedReader& r);
  void WritePart(TaggedWriter& w) const;

  std::string name;
  std::string description;
  TnxFieldType type = nxtInt32;
  int32_t units = 0;
  int32_t decimals = 0;
  bool required = false;
  int32_t offset = 0;                                            // in the record image
  int32_t length = 0;                                            // in the record image
  std::unique_ptr<TnxBaseDefaultValueDescriptor> default_value;  // optional
  bool is_final = false;  // true: no dataset field, no mapper
};

// ---- Keys ----

class TnxKeyFieldDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxKeyFieldDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  // True for a text key field that compares without regard to case.
  virtual bool IgnoresCase() const { return false; }

  int32_t field_number = 0;
  std::string string1;
  std::string string2;
  bool ascending = true;
};

class TnxTextKeyFieldDescriptor : public TnxKeyFieldDescriptor {
 public:
  const char* ClassName() const override { return "TnxTextKeyFieldDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
  bool IgnoresCase() const override { return ignore_case; }
  bool ignore_case = false;
};

class TnxExtTextKeyFieldDescriptor : public TnxTextKeyFieldDescriptor {
 public:
  const char* ClassName() const override { return "TnxExtTextKeyFieldDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
  int32_t locale = 2048;
  std::array<bool, 5> flags{};
};

class TnxBaseKeyDescriptor : public TnxDictionaryItem {
 public:
  virtual void ReadPart(TaggedReader& r) = 0;
  virtual void WritePart(TaggedWriter& w) const = 0;
};

// The key is the record's 8-byte reference number.
class TnxRefKeyDescriptor : public TnxBaseKeyDescriptor {
 public:
  const char* ClassName() const override { return "TnxRefKeyDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
};

// An ordered list of key fields.
class TnxCompKeyDescriptor : public TnxBaseKeyDescriptor {
 public:
  const char* ClassName() const override { return "TnxCompKeyDescriptor"; }
  void ReadPart(TaggedReader& r) override;
  void WritePart(TaggedWriter& w) const override;
  std::vector<std::unique_ptr<TnxKeyFieldDescriptor>> key_fields;
};

// ---- Indexes ----

class TnxIndexDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxIndexDescriptor"; }
  // The part; `key` must already exist (its class name comes earlier in the stream).
  void ReadPart(TaggedReader& r);
  void WritePart(TaggedWriter& w) const;
  // The composite key, or null for any other key.
  const TnxCompKeyDescriptor* CompKey() const;

  std::string name;
  int32_t file_number = 0;
  std::unique_ptr<TnxBaseKeyDescriptor> key;
  std::string sub_engine = "nx1xDefault";
  std::string description;
  bool allow_duplicates = false;
};

// One index as the dictionary stream carries it (and a request that adds an index):
// Str index class, Str key class, Str name, Int file number, then the index's part.
void WriteIndexDescriptor(TaggedWriter& w, const TnxIndexDescriptor& index);
std::unique_ptr<TnxIndexDescriptor> ReadIndexDescriptor(TaggedReader& r);

// ---- Custom descriptors ----

class TnxBaseCustomDescriptor : public TnxDictionaryItem {
 public:
  const char* ClassName() const override { return "TnxBaseCustomDescriptor"; }
  virtual void ReadPart(TaggedReader& r);
  virtual void WritePart(TaggedWriter& w) const;
  std::string name;
};

// ---- Registries: classes created by name, one registry per kind ----

template <class T>
class TnxDescriptorRegistry {
 public:
  using Factory = std::unique_ptr<T> (*)();
  using Failure = void (*)(const std::string& text);  // must throw

  TnxDescriptorRegistry(const char* kind, Failure fail,
                        std::vector<std::pair<std::string, Factory>> classes)
      : kind_(kind), fail_(fail), classes_(std::move(classes)) {}

  const char* Kind() const { return kind_; }

  // A new descriptor of the class; a name the registry lacks throws the kind's exception
  // with 15499 "<kind> class is not supported: <name>".
  std::unique_ptr<T> Create(std::string_view class_name) const {
    for (const auto& [name, factory] : classes_) {
      if (name == class_name)
        return factory();
    }
    fail_(std::string(kind_) + " class is not supported: " + std::string(class_name));
    return nullptr;  // not reached: fail_ throws
  }

 private:
  const char* kind_;
  Failure fail_;
  std::vector<std::pair<std::string, Factory>> classes_;
};

const TnxDescriptorRegistry<TnxBaseRecordDescriptor>& RecordDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseBlobDescriptor>& BlobDescriptorRegistry();
const TnxDescriptorRegistry<TnxFileDescriptor>& FileDescriptorRegistry();
const TnxDescriptorRegistry<TnxFieldDescriptor>& FieldDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseDefaultValueDescriptor>& DefaultValueDescriptorRegistry();
const TnxDescriptorRegistry<TnxIndexDescriptor>& IndexDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseKeyDescriptor>& KeyDescriptorRegistry();
const TnxDescriptorRegistry<TnxKeyFieldDescriptor>& KeyFieldDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseHeapDescriptor>& HeapDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseBlockHeapDescriptor>& BlockHeapDescriptorRegistry();
const TnxDescriptorRegistry<TnxBaseCustomDescriptor>& CustomDescriptorRegistry();

}  // namespace vantera
