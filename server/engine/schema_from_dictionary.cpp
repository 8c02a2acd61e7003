#include "server/engine/schema_from_dictionary.h"

#include "protocol/nxllException.h"
#include "protocol/nxsdDescriptors.h"

namespace vantera {

namespace {
constexpr int32_t kMaxStoredRecordLength = kMaxRecordLength;  // record requests carry 16 bits
}

TableSchema SchemaFromDictionaryStream(std::string_view stream) {
  TnxDataDictionary dict;
  dict.ReadFromBytes(stream);
  return SchemaFromDictionary(dict);
}

TableSchema SchemaFromDictionary(const TnxDataDictionary& dict) {
  TableSchema s;
  s.record_length = dict.RecordLength();
  s.null_offset = dict.NullOffset();
  s.default_index = dict.IndexCount() > 0 ? dict.DefaultIndex() : -1;
  if (s.record_length <= 0 || s.record_length > kMaxStoredRecordLength || s.null_offset < 0 ||
      static_cast<int64_t>(s.null_offset) + 4 * ((dict.FieldCount() + 31) / 32) > s.record_length)
    throw EnxBaseException(10003);  // Invalid record structure.
  for (int f = 0; f < dict.FieldCount(); ++f) {
    const TnxFieldDescriptor& d = dict.Field(f);
    if (d.offset < 0 || d.length < 0 || static_cast<int64_t>(d.offset) + d.length > s.null_offset)
      throw EnxBaseException(10003);
    bool fixed_too_short = false;
    switch (d.type) {
      case nxtBlob:
      case nxtBlobMemo:
      case nxtBlobGraphic:
      case nxtInt64:
      case nxtCurrency:
      case nxtDouble:
      case nxtDateTime:
      case nxtInterval:
        fixed_too_short = d.length < 8;
        break;
      case nxtWord32:
      case nxtInt32:
      case nxtAutoInc:
      case nxtRecRev:
      case nxtDate:
      case nxtTime:
      case nxtSingle:
        fixed_too_short = d.length < 4;
        break;
      default:
        break;
    }
    if (fixed_too_short)
      throw EnxBaseException(10003);
    s.fields.push_back({d.name, d.type, d.offset, d.length, d.required});
  }
  for (int i = 0; i < dict.IndexCount(); ++i) {
    const TnxIndexDescriptor& d = dict.Index(i);
    IndexLayout index;
    index.name = d.name;
    index.unique = !d.allow_duplicates;
    index.key_length = dict.KeyLength(i);
    if (const TnxCompKeyDescriptor* comp = d.CompKey()) {
      for (const auto& kf : comp->key_fields)
        index.key_fields.push_back({kf->field_number, kf->ascending, kf->IgnoresCase()});
    } else {
      index.ref_key = true;
    }
    s.indexes.push_back(std::move(index));
  }
  return s;
}

}  // namespace vantera
