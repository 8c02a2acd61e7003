#include "protocol/nxsdDataDictionary.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "core/win1252.h"
#include "protocol/nxllErrors.h"

namespace vantera {
namespace {

constexpr char kStreamIdent[] = "KantaDB";
constexpr uint32_t kInvalidFieldType = 10000;
constexpr uint32_t kInvalidFieldDescriptor = 10001;
constexpr uint32_t kMaxRecordSizeExceeded = 15495;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Win1252Upper(a) == Win1252Upper(b);
}

int64_t RoundUp4(int64_t v) {
  return (v + 3) / 4 * 4;
}

int32_t Clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// Fixed-size types must occupy exactly their storage length; the others need room for at
// least their terminator or length byte.
bool LengthFitsType(const TnxFieldDescriptor& f) {
  switch (f.type) {
    case nxtByteArray:
      return true;
    case nxtShortString:
    case nxtNullString:
      return f.length >= 1;
    case nxtWideString:
      return f.length >= 2;
    default:
      return f.length == FieldTypeLength(f.type, f.units);
  }
}

}  // namespace

TnxDataDictionary::TnxDataDictionary() {
  ResetToDefault();
}

TnxDataDictionary::~TnxDataDictionary() = default;
TnxDataDictionary::TnxDataDictionary(TnxDataDictionary&&) noexcept = default;
TnxDataDictionary& TnxDataDictionary::operator=(TnxDataDictionary&&) noexcept = default;

void TnxDataDictionary::ResetToDefault() {
  version_ = 2;
  signature_ = {{'N', 'X', '!', '1'}};
  engine_strings_ = {"", "nx1xDefault", "nx1xDefault", "nx1xDefault"};
  record_descriptor_.reset();
  blob_descriptor_.reset();
  files_.clear();
  auto file = std::make_unique<TnxFileDescriptor>();
  file->extension = "nx1";
  file->description = "Data/DataDict File";
  file->file_type = kDataFileType;
  files_.push_back(std::move(file));
  fields_.clear();
  indexes_.clear();
  auto index = std::make_unique<TnxIndexDescriptor>();
  index->name = "Sequential Access Index";
  index->file_number = 0;
  index->key = std::make_unique<TnxRefKeyDescriptor>();
  indexes_.push_back(std::move(index));
  customs_.clear();
  default_index_ = 0;
  fields_length_ = 0;
  data_length_ = 0;
}

void TnxDataDictionary::CheckWritable() const {
  if (read_only_)
    throw EnxDataDictionaryException(nxcode::kDictionaryReadOnly);
}

void TnxDataDictionary::Clear() {
  CheckWritable();
  ResetToDefault();
}

// ---- Reading ----

void TnxDataDictionary::ReadFromStream(TaggedReader& r) {
  CheckWritable();
  TnxDataDictionary fresh;
  try {
    fresh.ReadUnchecked(r);
    fresh.Check();
  } catch (const DecodeError&) {
    ResetToDefault();
    throw EnxDataDictionaryException(nxcode::kIncompatibleStream);
  } catch (...) {
    ResetToDefault();
    throw;
  }
  *this = std::move(fresh);
}

void TnxDataDictionary::ReadFromBytes(std::string_view bytes) {
  TaggedReader r(bytes);
  ReadFromStream(r);
}

void TnxDataDictionary::ReadUnchecked(TaggedReader& r) {
  r.ExpectIdent(kStreamIdent);
  version_ = r.ReadInt32();
  if (version_ != 1 && version_ != 2)
    throw TaggedStreamError("dictionary version " + std::to_string(version_));
  std::string_view sig = r.ReadRaw(4);
  std::copy(sig.begin(), sig.end(), signature_.begin());
  for (std::string& s : engine_strings_)
    s = r.ReadString();

  r.ExpectIdent("RecordDescriptor");
  record_descriptor_.reset();
  if (r.ReadBool()) {
    record_descriptor_ = RecordDescriptorRegistry().Create(r.ReadString());
    record_descriptor_->ReadPart(r);
  }
  r.ExpectIdent("BlobDescriptor");
  blob_descriptor_.reset();
  if (r.ReadBool()) {
    blob_descriptor_ = BlobDescriptorRegistry().Create(r.ReadString());
    blob_descriptor_->ReadPart(r);
  }

  r.ExpectIdent("FileDescriptor");
  files_.clear();
  int32_t n = ReadCount(r);
  bool has_blob_file = false;
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<TnxFileDescriptor> file = FileDescriptorRegistry().Create(r.ReadString());
    file->extension = r.ReadString();
    file->file_type = r.ReadInt32();
    if (file->file_type == kDataFileType && i > 0)
      throw EnxFileDescriptorException(nxcode::kInvalidDescriptor);
    if (file->file_type == kBlobFileType) {
      if (has_blob_file)
        throw EnxFileDescriptorException("A BLOB file has already been defined",
                                         nxcode::kInvalidDescriptor);
      has_blob_file = true;
    }
    file->ReadPart(r);
    files_.push_back(std::move(file));
  }

  r.ExpectIdent("FieldDescriptor");
  fields_.clear();
  n = ReadCount(r);
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<TnxFieldDescriptor> field = FieldDescriptorRegistry().Create(r.ReadString());
    field->name = r.ReadString();
    field->description = r.ReadString();
    std::string type_name = r.ReadString();
    if (!FieldTypeByName(type_name, &field->type))
      throw EnxFieldDescriptorException(kInvalidFieldType);
    field->units = r.ReadInt32();
    field->decimals = r.ReadInt32();
    field->required = r.ReadBool();
    SettleFieldType(field->type, &field->units, &field->decimals, &field->required);
    field->ReadPart(r);
    fields_.push_back(std::move(field));
  }

  r.ExpectIdent("IndexDescriptor");
  indexes_.clear();
  n = ReadCount(r);
  for (int32_t i = 0; i < n; ++i)
    indexes_.push_back(ReadIndexDescriptor(r));

  default_index_ = r.ReadInt32();
  fields_length_ = r.ReadInt32();
  data_length_ = version_ == 2 ? r.ReadInt32() : fields_length_;

  r.ExpectIdent("CustomDescriptor");
  customs_.clear();
  n = ReadCount(r);
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<TnxBaseCustomDescriptor> custom =
        CustomDescriptorRegistry().Create(r.ReadString());
    custom->name = r.ReadString();
    custom->ReadPart(r);
    customs_.push_back(std::move(custom));
  }
  r.ExpectIdent(kStreamIdent);
}

// ---- Checks ----

void TnxDataDictionary::Check() {
  if (fields_.empty())
    throw EnxDataDictionaryException("DataDictionary requires a minimum of one field",
                                     nxcode::kInvalidRecordStructure);
  if (indexes_.size() > static_cast<size_t>(kMaxIndexes))
    throw EnxIndexDescriptorException(nxcode::kTooManyIndexes);

  std::set<std::string> names;
  for (const auto& file : files_) {
    if (!names.insert(Win1252Upper(file->extension)).second)
      throw EnxFileDescriptorException("Duplicated file extension: \"" + file->extension + "\"",
                                       nxcode::kNameNotUnique);
  }
  names.clear();
  for (const auto& f : fields_) {
    if (!names.insert(Win1252Upper(f->name)).second)
      throw EnxFieldDescriptorException("Duplicated field name: " + f->name,
                                        nxcode::kNameNotUnique);
  }
  names.clear();
  for (const auto& ix : indexes_) {
    if (!names.insert(Win1252Upper(ix->name)).second)
      throw EnxIndexDescriptorException("Duplicated index name: " + ix->name,
                                        nxcode::kNameNotUnique);
  }

  int autoinc = 0;
  int recrev = 0;
  for (const auto& f : fields_) {
    if (f->default_value && !f->default_value->AllowedFor(f->type))
      throw EnxFieldDescriptorException("\"" + std::string(f->default_value->ClassName()) +
                                            "\" is not supported for field type \"" +
                                            FieldTypeName(f->type) + "\"",
                                        kInvalidFieldDescriptor);
    if (f->type == nxtAutoInc && ++autoinc > 1)
      throw EnxFieldDescriptorException(nxcode::kDuplicatedAutoInc);
    if (f->type == nxtRecRev && ++recrev > 1)
      throw EnxFieldDescriptorException(nxcode::kDuplicatedRecRev);
  }

  for (const auto& ix : indexes_) {
    if (ix->file_number < 0 || ix->file_number >= FileCount())
      throw EnxIndexDescriptorException("Invalid file number: " + std::to_string(ix->file_number),
                                        nxcode::kInvalidDescriptorNumber);
    if (const TnxCompKeyDescriptor* comp = ix->CompKey()) {
      if (comp->key_fields.empty())
        throw EnxKeyDescriptorException("Composite key requires a minimum of one field",
                                        nxcode::kInvalidDescriptor);
      for (const auto& kf : comp->key_fields) {
        if (kf->field_number < 0 || kf->field_number >= FieldCount())
          throw EnxKeyFieldDescriptorException(
              "Invalid field number: " + std::to_string(kf->field_number),
              nxcode::kInvalidDescriptorNumber);
        // Key values are written through the key fields' mappers; a final field has none.
        if (fields_[static_cast<size_t>(kf->field_number)]->is_final)
          throw EnxKeyFieldDescriptorException(
              "Key field without a field mapper: " +
                  fields_[static_cast<size_t>(kf->field_number)]->name + " in index " + ix->name,
              nxcode::kUnsupportedDescriptor);
      }
    }
  }

  if (indexes_.empty())
    default_index_ = -1;
  else if (default_index_ < 0)
    default_index_ = 0;
  else if (default_index_ >= IndexCount())
    throw EnxIndexDescriptorException(
        "Invalid default index number: " + std::to_string(default_index_),
        nxcode::kInvalidDescriptorNumber);

  CheckLayout();
}

// Offsets and lengths come from the peer and are used as they are; they must at least stay
// inside the data area, match their types' sizes, and give a record that requests can carry.
void TnxDataDictionary::CheckLayout() const {
  if (fields_length_ < 0 || data_length_ < 0)
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  int64_t data_end = NullOffset();
  for (const auto& f : fields_) {
    if (f->offset < 0 || f->length < 0 || int64_t{f->offset} + f->length > data_end)
      throw EnxFieldDescriptorException(nxcode::kInvalidRecordStructure);
    if (!LengthFitsType(*f))
      throw EnxFieldDescriptorException(kInvalidFieldDescriptor);
  }
  int64_t record_length = (version_ == 1 ? RoundUp4(fields_length_) : int64_t{data_length_}) +
                          4 * ((int64_t{FieldCount()} + 31) / 32);
  if (record_length > kMaxRecordLength)
    throw EnxDataDictionaryException(kMaxRecordSizeExceeded);
}

// ---- Writing ----

void TnxDataDictionary::WriteToStream(TaggedWriter& w) const {
  w.WriteIdent(kStreamIdent);
  w.WriteInt(version_);
  w.WriteRaw(std::string_view(signature_.data(), signature_.size()));
  for (const std::string& s : engine_strings_)
    w.WriteString(s);

  w.WriteIdent("RecordDescriptor");
  w.WriteBool(record_descriptor_ != nullptr);
  if (record_descriptor_) {
    w.WriteString(record_descriptor_->ClassName());
    record_descriptor_->WritePart(w);
  }
  w.WriteIdent("BlobDescriptor");
  w.WriteBool(blob_descriptor_ != nullptr);
  if (blob_descriptor_) {
    w.WriteString(blob_descriptor_->ClassName());
    blob_descriptor_->WritePart(w);
  }

  w.WriteIdent("FileDescriptor");
  w.WriteInt(FileCount());
  for (const auto& file : files_) {
    w.WriteString(file->ClassName());
    w.WriteString(file->extension);
    w.WriteInt(file->file_type);
    file->WritePart(w);
  }

  w.WriteIdent("FieldDescriptor");
  w.WriteInt(FieldCount());
  for (const auto& f : fields_) {
    w.WriteString(f->ClassName());
    w.WriteString(f->name);
    w.WriteString(f->description);
    w.WriteString(FieldTypeName(f->type));
    w.WriteInt(f->units);
    w.WriteInt(f->decimals);
    w.WriteBool(f->required);
    f->WritePart(w);
  }

  w.WriteIdent("IndexDescriptor");
  w.WriteInt(IndexCount());
  for (const auto& ix : indexes_)
    WriteIndexDescriptor(w, *ix);

  w.WriteInt(default_index_);
  w.WriteInt(fields_length_);
  if (version_ == 2)
    w.WriteInt(data_length_);

  w.WriteIdent("CustomDescriptor");
  w.WriteInt(CustomCount());
  for (const auto& c : customs_) {
    w.WriteString(c->ClassName());
    w.WriteString(c->name);
    c->WritePart(w);
  }
  w.WriteIdent(kStreamIdent);
}

Bytes TnxDataDictionary::ToBytes() const {
  Bytes out;
  TaggedWriter w(&out);
  WriteToStream(w);
  return out;
}

void TnxDataDictionary::Assign(const TnxDataDictionary& other) {
  if (&other == this)
    return;
  if (other.FieldCount() == 0) {  // the default dictionary does not pass the checks
    CheckWritable();
    Bytes bytes = other.ToBytes();
    TaggedReader r(bytes);
    TnxDataDictionary copy;
    try {
      copy.ReadUnchecked(r);
    } catch (const DecodeError&) {
      throw EnxDataDictionaryException(nxcode::kIncompatibleStream);
    }
    *this = std::move(copy);
    return;
  }
  ReadFromBytes(other.ToBytes());
}

// ---- Building ----

void TnxDataDictionary::SetVersion(int32_t version) {
  CheckWritable();
  if (version != 1 && version != 2)
    throw EnxDataDictionaryException(nxcode::kIncompatibleStream);
  version_ = version;
  if (version_ == 1)
    data_length_ = fields_length_;
  else
    data_length_ = Clamp32(RoundUp4(fields_length_));
}

TnxFieldDescriptor& TnxDataDictionary::AddField(std::string name, TnxFieldType type, int32_t units,
                                                int32_t decimals, bool required,
                                                std::string description) {
  CheckWritable();
  auto f = std::make_unique<TnxFieldDescriptor>();
  f->name = std::move(name);
  f->description = std::move(description);
  f->type = type;
  f->units = units;
  f->decimals = decimals;
  f->required = required;
  SettleFieldType(type, &f->units, &f->decimals, &f->required);
  f->offset = fields_length_;
  f->length = FieldTypeLength(type, f->units);
  fields_length_ = Clamp32(int64_t{fields_length_} + f->length);
  data_length_ = version_ == 1 ? fields_length_ : Clamp32(RoundUp4(fields_length_));
  fields_.push_back(std::move(f));
  return *fields_.back();
}

void TnxDataDictionary::SetDefaultValue(int field_number,
                                        std::unique_ptr<TnxBaseDefaultValueDescriptor> value) {
  CheckWritable();
  if (field_number < 0 || field_number >= FieldCount())
    throw EnxFieldDescriptorException(nxcode::kInvalidDescriptorNumber);
  fields_[static_cast<size_t>(field_number)]->default_value = std::move(value);
}

TnxFileDescriptor& TnxDataDictionary::AddFile(std::string extension, std::string description,
                                              int32_t file_type) {
  CheckWritable();
  if (file_type == kDataFileType && !files_.empty())
    throw EnxFileDescriptorException(nxcode::kInvalidDescriptor);
  if (file_type == kBlobFileType) {
    for (const auto& f : files_) {
      if (f->file_type == kBlobFileType)
        throw EnxFileDescriptorException("A BLOB file has already been defined",
                                         nxcode::kInvalidDescriptor);
    }
  }
  auto file = std::make_unique<TnxFileDescriptor>();
  file->extension = std::move(extension);
  file->description = std::move(description);
  file->file_type = file_type;
  files_.push_back(std::move(file));
  return *files_.back();
}

TnxIndexDescriptor& TnxDataDictionary::AddIndex(std::string name,
                                                std::unique_ptr<TnxBaseKeyDescriptor> key,
                                                bool allow_duplicates, int32_t file_number,
                                                std::string description) {
  CheckWritable();
  auto ix = std::make_unique<TnxIndexDescriptor>();
  ix->name = std::move(name);
  ix->key = std::move(key);
  ix->allow_duplicates = allow_duplicates;
  ix->file_number = file_number;
  ix->description = std::move(description);
  indexes_.push_back(std::move(ix));
  if (default_index_ < 0)
    default_index_ = 0;
  return *indexes_.back();
}

TnxIndexDescriptor& TnxDataDictionary::AddCompositeIndex(
    std::string name, const std::vector<std::string>& field_names, bool allow_duplicates,
    bool ignore_case) {
  auto key = std::make_unique<TnxCompKeyDescriptor>();
  for (const std::string& field_name : field_names) {
    int n = FieldNumber(field_name);
    if (n < 0)
      throw EnxKeyFieldDescriptorException("Invalid field name: " + field_name,
                                           nxcode::kInvalidDescriptorNumber);
    std::unique_ptr<TnxKeyFieldDescriptor> kf;
    if (IsStringType(Field(n).type) || Field(n).type == nxtWideString ||
        Field(n).type == nxtWideChar) {
      auto text = std::make_unique<TnxTextKeyFieldDescriptor>();
      text->ignore_case = ignore_case;
      kf = std::move(text);
    } else {
      kf = std::make_unique<TnxKeyFieldDescriptor>();
    }
    kf->field_number = n;
    key->key_fields.push_back(std::move(kf));
  }
  return AddIndex(std::move(name), std::move(key), allow_duplicates);
}

void TnxDataDictionary::SetDefaultIndex(int32_t index_number) {
  CheckWritable();
  default_index_ = index_number;
}

// ---- Contents ----

const TnxFileDescriptor& TnxDataDictionary::File(int n) const {
  if (n < 0 || n >= FileCount())
    throw EnxFileDescriptorException(nxcode::kInvalidDescriptorNumber);
  return *files_[static_cast<size_t>(n)];
}

const TnxFieldDescriptor& TnxDataDictionary::Field(int n) const {
  if (n < 0 || n >= FieldCount())
    throw EnxFieldDescriptorException(nxcode::kInvalidDescriptorNumber);
  return *fields_[static_cast<size_t>(n)];
}

const TnxIndexDescriptor& TnxDataDictionary::Index(int n) const {
  if (n < 0 || n >= IndexCount())
    throw EnxIndexDescriptorException(nxcode::kInvalidDescriptorNumber);
  return *indexes_[static_cast<size_t>(n)];
}

const TnxBaseCustomDescriptor& TnxDataDictionary::Custom(int n) const {
  if (n < 0 || n >= CustomCount())
    throw EnxCustomDescriptorException(nxcode::kInvalidDescriptorNumber);
  return *customs_[static_cast<size_t>(n)];
}

int TnxDataDictionary::FieldNumber(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (SameName(fields_[i]->name, name))
      return static_cast<int>(i);
  }
  return -1;
}

int TnxDataDictionary::IndexNumber(std::string_view name) const {
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (SameName(indexes_[i]->name, name))
      return static_cast<int>(i);
  }
  return -1;
}

// ---- Layout ----

int32_t TnxDataDictionary::NullOffset() const {
  return version_ == 1 ? fields_length_ : data_length_;
}

int32_t TnxDataDictionary::RecordLength() const {
  int64_t data = version_ == 1 ? RoundUp4(fields_length_) : int64_t{data_length_};
  return Clamp32(data + 4 * ((int64_t{FieldCount()} + 31) / 32));
}

int32_t TnxDataDictionary::KeyLength(int index_number) const {
  if (index_number < 0 || index_number >= IndexCount())
    return 0;
  const TnxIndexDescriptor& ix = *indexes_[static_cast<size_t>(index_number)];
  const TnxCompKeyDescriptor* comp = ix.CompKey();
  if (!comp)
    return 8;
  int64_t length = 0;
  for (const auto& kf : comp->key_fields) {
    if (kf->field_number >= 0 && kf->field_number < FieldCount())
      length += fields_[static_cast<size_t>(kf->field_number)]->length;
  }
  length += (static_cast<int64_t>(comp->key_fields.size()) + 7) / 8;
  return Clamp32(length);
}

int32_t TnxDataDictionary::BookmarkSize(int index_number) const {
  if (index_number < 0 || index_number >= IndexCount())
    return kBookmarkOverhead;
  return Clamp32(int64_t{KeyLength(index_number)} + kBookmarkOverhead);
}

// ---- Record images ----

void TnxDataDictionary::CheckRecord(size_t size, int field) const {
  if (size < static_cast<size_t>(RecordLength()))
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  if (field < 0 || field >= FieldCount())
    throw EnxFieldDescriptorException(nxcode::kInvalidDescriptorNumber);
  const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(field)];
  if (f.offset < 0 || f.length < 0 || static_cast<size_t>(f.offset) + f.length > size)
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
}

Bytes TnxDataDictionary::NewRecord(TimeStamp now) const {
  Bytes record(static_cast<size_t>(RecordLength()), '\0');
  InitRecord(record, now);
  return record;
}

void TnxDataDictionary::InitRecord(std::span<char> record, TimeStamp now) const {
  size_t length = static_cast<size_t>(RecordLength());
  if (record.size() < length)
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  std::fill(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(length), '\0');
  size_t null_bytes = (fields_.size() + 7) / 8;
  std::fill_n(record.begin() + NullOffset(), null_bytes, static_cast<char>(0xFF));
  for (int i = 0; i < FieldCount(); ++i) {
    const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(i)];
    if (f.default_value && NullFlag(std::string_view(record.data(), record.size()), i)) {
      f.default_value->Apply(
          record.subspan(static_cast<size_t>(f.offset), static_cast<size_t>(f.length)), f, now);
      ClearNull(record, i);
    }
  }
}

bool TnxDataDictionary::NullFlag(std::string_view record, int field) const {
  CheckRecord(record.size(), field);
  size_t byte = static_cast<size_t>(NullOffset()) + static_cast<size_t>(field) / 8;
  return (static_cast<unsigned char>(record[byte]) >> (field % 8)) & 1;
}

bool TnxDataDictionary::IsNull(std::string_view record, int field) const {
  if (NullFlag(record, field))
    return true;
  const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(field)];
  if (IsBlobType(f.type) && f.length >= 8)
    return DecodeFixed64(record.data() + f.offset) == 0;
  return false;
}

std::string_view TnxDataDictionary::GetFieldBytes(std::string_view record, int field,
                                                  bool* is_null) const {
  CheckRecord(record.size(), field);
  if (is_null)
    *is_null = IsNull(record, field);
  const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(field)];
  return record.substr(static_cast<size_t>(f.offset), static_cast<size_t>(f.length));
}

void TnxDataDictionary::SetFieldBytes(std::span<char> record, int field,
                                      std::string_view bytes) const {
  CheckRecord(record.size(), field);
  const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(field)];
  char* dst = record.data() + f.offset;
  size_t n = std::min(bytes.size(), static_cast<size_t>(f.length));
  std::memcpy(dst, bytes.data(), n);
  std::memset(dst + n, 0, static_cast<size_t>(f.length) - n);
  ClearNull(record, field);
}

void TnxDataDictionary::SetNull(std::span<char> record, int field) const {
  CheckRecord(record.size(), field);
  const TnxFieldDescriptor& f = *fields_[static_cast<size_t>(field)];
  std::memset(record.data() + f.offset, 0, static_cast<size_t>(f.length));
  size_t byte = static_cast<size_t>(NullOffset()) + static_cast<size_t>(field) / 8;
  record[byte] = static_cast<char>(static_cast<unsigned char>(record[byte]) | (1u << (field % 8)));
}

void TnxDataDictionary::ClearNull(std::span<char> record, int field) const {
  CheckRecord(record.size(), field);
  size_t byte = static_cast<size_t>(NullOffset()) + static_cast<size_t>(field) / 8;
  record[byte] = static_cast<char>(static_cast<unsigned char>(record[byte]) & ~(1u << (field % 8)));
}

}  // namespace vantera
