#include "protocol/nxsdDescriptors.h"

#include <algorithm>
#include <cstring>

#include "protocol/nxllErrors.h"
#include "protocol/nxsdExceptions.h"

namespace vantera {

// ---- Shared pieces of every part ----

void ReadPartVersion(TaggedReader& r) {
  int32_t version = r.ReadInt32();
  if (version != 1)
    throw TaggedStreamError("descriptor version " + std::to_string(version));
}

int32_t ReadCount(TaggedReader& r) {
  int32_t n = r.ReadInt32();
  // Every entry takes at least one byte, so a count beyond the rest cannot be honest.
  if (n < 0 || static_cast<size_t>(n) > r.remaining())
    throw TaggedStreamError("list count " + std::to_string(n) + " out of bounds");
  return n;
}

void TnxDictionaryItem::ReadItemPart(TaggedReader& r) {
  ReadPartVersion(r);
  r.ReadListBegin();
  strings.clear();
  while (r.PeekTag() != Tag::kListEnd)
    strings.push_back(r.ReadString());
  r.ReadListEnd();
}

void TnxDictionaryItem::WriteItemPart(TaggedWriter& w) const {
  w.WriteInt(1);
  w.WriteListBegin();
  for (const std::string& s : strings)
    w.WriteString(s);
  w.WriteListEnd();
}

// ---- Storage engine descriptors ----

void TnxBaseBlockHeapDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  name = r.ReadString();
}

void TnxBaseBlockHeapDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(name);
}

void TnxBaseHeapDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  name = r.ReadString();
  block_heap.reset();
  if (r.ReadBool()) {
    block_heap = BlockHeapDescriptorRegistry().Create(r.ReadString());
    block_heap->ReadPart(r);
  }
}

void TnxBaseHeapDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(name);
  w.WriteBool(block_heap != nullptr);
  if (block_heap) {
    w.WriteString(block_heap->ClassName());
    block_heap->WritePart(w);
  }
}

namespace {

void ReadHeap(TaggedReader& r, std::unique_ptr<TnxBaseHeapDescriptor>* heap) {
  ReadPartVersion(r);
  heap->reset();
  if (r.ReadBool()) {
    *heap = HeapDescriptorRegistry().Create(r.ReadString());
    (*heap)->ReadPart(r);
  }
}

void WriteHeap(TaggedWriter& w, const std::unique_ptr<TnxBaseHeapDescriptor>& heap) {
  w.WriteInt(1);
  w.WriteBool(heap != nullptr);
  if (heap) {
    w.WriteString(heap->ClassName());
    heap->WritePart(w);
  }
}

}  // namespace

void TnxBaseRecordDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  engine_name = r.ReadString();
}

void TnxBaseRecordDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(engine_name);
}

void TnxHeapRecordDescriptor::ReadPart(TaggedReader& r) {
  TnxBaseRecordDescriptor::ReadPart(r);
  ReadHeap(r, &heap);
}

void TnxHeapRecordDescriptor::WritePart(TaggedWriter& w) const {
  TnxBaseRecordDescriptor::WritePart(w);
  WriteHeap(w, heap);
}

void TnxBaseBlobDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  engine_name = r.ReadString();
}

void TnxBaseBlobDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(engine_name);
}

void TnxHeapBlobDescriptor::ReadPart(TaggedReader& r) {
  TnxBaseBlobDescriptor::ReadPart(r);
  ReadHeap(r, &heap);
}

void TnxHeapBlobDescriptor::WritePart(TaggedWriter& w) const {
  TnxBaseBlobDescriptor::WritePart(w);
  WriteHeap(w, heap);
}

// ---- Files ----

void TnxFileDescriptor::SetBlockSize(int32_t size) {
  switch (size) {
    case 4096:
    case 8192:
    case 16384:
    case 32768:
    case 65536:
      block_size_ = size;
      return;
    default:
      throw EnxFileDescriptorException(std::to_string(size) + " is not a valid BlockSize",
                                       nxcode::kInvalidDescriptor);
  }
}

void TnxFileDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  description = r.ReadString();
  SetBlockSize(r.ReadInt32());
  value1 = r.ReadInt32();
  value2 = r.ReadInt32();
}

void TnxFileDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(description);
  w.WriteInt(block_size_);
  w.WriteInt(value1);
  w.WriteInt(value2);
}

// ---- Default values ----

void TnxBaseDefaultValueDescriptor::ReadPart(TaggedReader& r, const TnxFieldDescriptor&) {
  ReadItemPart(r);
}

void TnxBaseDefaultValueDescriptor::WritePart(TaggedWriter& w, const TnxFieldDescriptor&) const {
  WriteItemPart(w);
}

void TnxConstDefaultValueDescriptor::ReadPart(TaggedReader& r, const TnxFieldDescriptor& field) {
  TnxBaseDefaultValueDescriptor::ReadPart(r, field);
  ReadPartVersion(r);
  if (field.length < 0)
    throw TaggedStreamError("default value of a field with a negative length");
  value = std::string(r.ReadRaw(static_cast<size_t>(field.length)));
}

void TnxConstDefaultValueDescriptor::WritePart(TaggedWriter& w,
                                               const TnxFieldDescriptor& field) const {
  TnxBaseDefaultValueDescriptor::WritePart(w, field);
  w.WriteInt(1);
  std::string bytes = value;
  bytes.resize(static_cast<size_t>(std::max(field.length, 0)), '\0');
  w.WriteRaw(bytes);
}

bool TnxConstDefaultValueDescriptor::AllowedFor(TnxFieldType type) const {
  return !IsBlobType(type);
}

void TnxConstDefaultValueDescriptor::Apply(std::span<char> bytes, const TnxFieldDescriptor&,
                                           TimeStamp) const {
  std::fill(bytes.begin(), bytes.end(), '\0');
  std::memcpy(bytes.data(), value.data(), std::min(bytes.size(), value.size()));
}

bool TnxCurrentDateTimeDefaultValueDescriptor::AllowedFor(TnxFieldType type) const {
  return type == nxtDate || type == nxtTime || type == nxtDateTime;
}

void TnxCurrentDateTimeDefaultValueDescriptor::Apply(std::span<char> bytes,
                                                     const TnxFieldDescriptor& field,
                                                     TimeStamp now) const {
  Bytes v;
  if (field.type == nxtDate)
    PutFixed32(&v, static_cast<uint32_t>(now.date));
  else if (field.type == nxtTime)
    PutFixed32(&v, static_cast<uint32_t>(now.time));
  else
    PutDouble(&v, TimeStampToMSecs(now));
  std::fill(bytes.begin(), bytes.end(), '\0');
  std::memcpy(bytes.data(), v.data(), std::min(bytes.size(), v.size()));
}

bool TnxEmptyDefaultValueDescriptor::AllowedFor(TnxFieldType type) const {
  return !IsDateTimeType(type) && !IsBlobType(type);
}

void TnxEmptyDefaultValueDescriptor::Apply(std::span<char> bytes, const TnxFieldDescriptor&,
                                           TimeStamp) const {
  std::fill(bytes.begin(), bytes.end(), '\0');
}

// ---- Fields ----

void TnxFieldDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  offset = r.ReadInt32();
  length = r.ReadInt32();
  default_value.reset();
  if (r.ReadBool()) {
    default_value = DefaultValueDescriptorRegistry().Create(r.ReadString());
    default_value->ReadPart(r, *this);
  }
  is_final = r.ReadBool();
}

void TnxFieldDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteInt(offset);
  w.WriteInt(length);
  w.WriteBool(default_value != nullptr);
  if (default_value) {
    w.WriteString(default_value->ClassName());
    default_value->WritePart(w, *this);
  }
  w.WriteBool(is_final);
}

// ---- Keys ----

void TnxKeyFieldDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  string1 = r.ReadString();
  string2 = r.ReadString();
  ascending = r.ReadBool();
}

void TnxKeyFieldDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(string1);
  w.WriteString(string2);
  w.WriteBool(ascending);
}

void TnxTextKeyFieldDescriptor::ReadPart(TaggedReader& r) {
  TnxKeyFieldDescriptor::ReadPart(r);
  ReadPartVersion(r);
  ignore_case = r.ReadBool();
}

void TnxTextKeyFieldDescriptor::WritePart(TaggedWriter& w) const {
  TnxKeyFieldDescriptor::WritePart(w);
  w.WriteInt(1);
  w.WriteBool(ignore_case);
}

void TnxExtTextKeyFieldDescriptor::ReadPart(TaggedReader& r) {
  TnxTextKeyFieldDescriptor::ReadPart(r);
  ReadPartVersion(r);
  locale = r.ReadInt32();
  for (bool& flag : flags)
    flag = r.ReadBool();
}

void TnxExtTextKeyFieldDescriptor::WritePart(TaggedWriter& w) const {
  TnxTextKeyFieldDescriptor::WritePart(w);
  w.WriteInt(1);
  w.WriteInt(locale);
  for (bool flag : flags)
    w.WriteBool(flag);
}

void TnxRefKeyDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
}

void TnxRefKeyDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
}

void TnxCompKeyDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  int32_t k = ReadCount(r);
  key_fields.clear();
  for (int32_t i = 0; i < k; ++i) {
    std::unique_ptr<TnxKeyFieldDescriptor> kf = KeyFieldDescriptorRegistry().Create(r.ReadString());
    kf->field_number = r.ReadInt32();
    kf->ReadPart(r);
    key_fields.push_back(std::move(kf));
  }
}

void TnxCompKeyDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteInt(static_cast<int64_t>(key_fields.size()));
  for (const auto& kf : key_fields) {
    w.WriteString(kf->ClassName());
    w.WriteInt(kf->field_number);
    kf->WritePart(w);
  }
}

// ---- Indexes ----

void TnxIndexDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
  ReadPartVersion(r);
  sub_engine = r.ReadString();
  description = r.ReadString();
  allow_duplicates = r.ReadBool();
  key->ReadPart(r);
}

void TnxIndexDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
  w.WriteInt(1);
  w.WriteString(sub_engine);
  w.WriteString(description);
  w.WriteBool(allow_duplicates);
  key->WritePart(w);
}

const TnxCompKeyDescriptor* TnxIndexDescriptor::CompKey() const {
  return dynamic_cast<const TnxCompKeyDescriptor*>(key.get());
}

void WriteIndexDescriptor(TaggedWriter& w, const TnxIndexDescriptor& index) {
  w.WriteString(index.ClassName());
  w.WriteString(index.key->ClassName());
  w.WriteString(index.name);
  w.WriteInt(index.file_number);
  index.WritePart(w);
}

std::unique_ptr<TnxIndexDescriptor> ReadIndexDescriptor(TaggedReader& r) {
  std::unique_ptr<TnxIndexDescriptor> index = IndexDescriptorRegistry().Create(r.ReadString());
  index->key = KeyDescriptorRegistry().Create(r.ReadString());
  index->name = r.ReadString();
  index->file_number = r.ReadInt32();
  index->ReadPart(r);
  return index;
}

// ---- Custom ----

void TnxBaseCustomDescriptor::ReadPart(TaggedReader& r) {
  ReadItemPart(r);
}

void TnxBaseCustomDescriptor::WritePart(TaggedWriter& w) const {
  WriteItemPart(w);
}

// ---- Registries ----

namespace {

template <class Base, class Derived>
std::unique_ptr<Base> Make() {
  return std::make_unique<Derived>();
}

template <class E>
void Fail(const std::string& text) {
  throw E(text, nxcode::kUnsupportedDescriptor);
}

}  // namespace

const TnxDescriptorRegistry<TnxBaseRecordDescriptor>& RecordDescriptorRegistry() {
  using B = TnxBaseRecordDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "RecordDescriptor", Fail<EnxRecordDescriptorException>,
      {{"TnxBaseRecordDescriptor", Make<B, TnxBaseRecordDescriptor>},
       {"TnxHeapRecordDescriptor", Make<B, TnxHeapRecordDescriptor>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseBlobDescriptor>& BlobDescriptorRegistry() {
  using B = TnxBaseBlobDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "BlobDescriptor", Fail<EnxBlobDescriptorException>,
      {{"TnxBaseBlobDescriptor", Make<B, TnxBaseBlobDescriptor>},
       {"TnxHeapBlobDescriptor", Make<B, TnxHeapBlobDescriptor>}});
  return registry;
}

const TnxDescriptorRegistry<TnxFileDescriptor>& FileDescriptorRegistry() {
  using B = TnxFileDescriptor;
  static const TnxDescriptorRegistry<B> registry("FileDescriptor", Fail<EnxFileDescriptorException>,
                                                 {{"TnxFileDescriptor", Make<B, B>}});
  return registry;
}

const TnxDescriptorRegistry<TnxFieldDescriptor>& FieldDescriptorRegistry() {
  using B = TnxFieldDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "FieldDescriptor", Fail<EnxFieldDescriptorException>, {{"TnxFieldDescriptor", Make<B, B>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseDefaultValueDescriptor>& DefaultValueDescriptorRegistry() {
  using B = TnxBaseDefaultValueDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "DefaultValueDescriptor", Fail<EnxDefaultValueDescriptorException>,
      {{"TnxConstDefaultValueDescriptor", Make<B, TnxConstDefaultValueDescriptor>},
       {"TnxCurrentDateTimeDefaultValueDescriptor",
        Make<B, TnxCurrentDateTimeDefaultValueDescriptor>},
       {"TnxEmptyDefaultValueDescriptor", Make<B, TnxEmptyDefaultValueDescriptor>}});
  return registry;
}

const TnxDescriptorRegistry<TnxIndexDescriptor>& IndexDescriptorRegistry() {
  using B = TnxIndexDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "IndexDescriptor", Fail<EnxIndexDescriptorException>, {{"TnxIndexDescriptor", Make<B, B>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseKeyDescriptor>& KeyDescriptorRegistry() {
  using B = TnxBaseKeyDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "KeyDescriptor", Fail<EnxKeyDescriptorException>,
      {{"TnxRefKeyDescriptor", Make<B, TnxRefKeyDescriptor>},
       {"TnxCompKeyDescriptor", Make<B, TnxCompKeyDescriptor>}});
  return registry;
}

const TnxDescriptorRegistry<TnxKeyFieldDescriptor>& KeyFieldDescriptorRegistry() {
  using B = TnxKeyFieldDescriptor;
  static const TnxDescriptorRegistry<B> registry(
      "KeyFieldDescriptor", Fail<EnxKeyFieldDescriptorException>,
      {{"TnxKeyFieldDescriptor", Make<B, TnxKeyFieldDescriptor>},
       {"TnxTextKeyFieldDescriptor", Make<B, TnxTextKeyFieldDescriptor>},
       {"TnxExtTextKeyFieldDescriptor", Make<B, TnxExtTextKeyFieldDescriptor>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseHeapDescriptor>& HeapDescriptorRegistry() {
  using B = TnxBaseHeapDescriptor;
  static const TnxDescriptorRegistry<B> registry("HeapDescriptor", Fail<EnxHeapDescriptorException>,
                                                 {{"TnxBaseHeapDescriptor", Make<B, B>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseBlockHeapDescriptor>& BlockHeapDescriptorRegistry() {
  using B = TnxBaseBlockHeapDescriptor;
  static const TnxDescriptorRegistry<B> registry("BlockHeapDescriptor",
                                                 Fail<EnxBlockHeapDescriptorException>,
                                                 {{"TnxBaseBlockHeapDescriptor", Make<B, B>}});
  return registry;
}

const TnxDescriptorRegistry<TnxBaseCustomDescriptor>& CustomDescriptorRegistry() {
  using B = TnxBaseCustomDescriptor;
  static const TnxDescriptorRegistry<B> registry("CustomDescriptor",
                                                 Fail<EnxCustomDescriptorException>,
                                                 {{"TnxBaseCustomDescriptor", Make<B, B>}});
  return registry;
}

}  // namespace vantera
