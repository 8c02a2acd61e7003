#include "protocol/nxsdKeys.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "core/win1252.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxsdFieldMappers.h"

namespace vantera {
namespace {

template <class T>
int Cmp(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// NaN sorts first so that the order stays total.
int CmpDouble(double a, double b) {
  bool an = std::isnan(a);
  bool bn = std::isnan(b);
  if (an || bn)
    return Cmp(!an, !bn);
  return Cmp(a, b);
}

std::string_view TextOf(TnxFieldType type, std::string_view bytes, int32_t units) {
  size_t room = static_cast<size_t>(std::max(units, 0));
  switch (type) {
    case nxtChar:
      return bytes.substr(0, 1);
    case nxtShortString:
      if (bytes.empty())
        return {};
      return bytes.substr(1, std::min({static_cast<size_t>(static_cast<unsigned char>(bytes[0])),
                                       bytes.size() - 1, room}));
    default: {  // nxtNullString
      std::string_view s = bytes.substr(0, std::min(bytes.size(), room));
      return s.substr(0, s.find('\0'));
    }
  }
}

int CompareText(std::string_view a, std::string_view b, bool ignore_case, int partial) {
  if (partial > 0) {
    a = a.substr(0, std::min(a.size(), static_cast<size_t>(partial)));
    b = b.substr(0, std::min(b.size(), static_cast<size_t>(partial)));
  }
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ignore_case) {
      ca = Win1252Upper(ca);
      cb = Win1252Upper(cb);
    }
    if (ca != cb)
      return ca < cb ? -1 : 1;
  }
  return Cmp(a.size(), b.size());
}

std::u16string WideOf(std::string_view bytes, int32_t units) {
  size_t room = std::min(bytes.size() / 2, static_cast<size_t>(std::max(units, 0)));
  std::u16string out;
  for (size_t i = 0; i < room; ++i) {
    char16_t c = static_cast<char16_t>(DecodeFixed16(bytes.data() + 2 * i));
    if (c == 0)
      break;
    out.push_back(c);
  }
  return out;
}

template <class T>
void PutBigEndian(Bytes* out, T v) {
  for (int shift = 8 * static_cast<int>(sizeof(T)) - 8; shift >= 0; shift -= 8)
    out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Signed integers: flipping the sign bit makes the two's complement order unsigned.
template <class S, class U>
void PutSigned(Bytes* out, S v) {
  PutBigEndian<U>(out, static_cast<U>(static_cast<U>(v) ^ (U{1} << (8 * sizeof(U) - 1))));
}

// Doubles: negative numbers inverted, the others with the sign bit set; -0 is 0 and every
// NaN sorts first, as the comparison has them.
void PutSortableDouble(Bytes* out, double d) {
  if (std::isnan(d)) {
    PutBigEndian<uint64_t>(out, 0);
    return;
  }
  if (d == 0)
    d = 0;
  uint64_t bits = std::bit_cast<uint64_t>(d);
  bits = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
  PutBigEndian<uint64_t>(out, bits);
}

void PutSortableText(Bytes* out, std::string_view text, bool ignore_case, bool terminate) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (ignore_case)
      u = Win1252Upper(u);
    out->push_back(static_cast<char>(u));
    if (u == 0)
      out->push_back('\xFF');
  }
  if (terminate)
    out->append(2, '\0');
}

}  // namespace

KeyComparer::KeyComparer(const TnxDataDictionary& dict, int index_number)
    : record_length_(dict.RecordLength()), null_offset_(dict.NullOffset()) {
  const TnxCompKeyDescriptor* comp = dict.Index(index_number).CompKey();
  if (!comp) {
    key_length_ = dict.KeyLength(index_number);
    return;
  }
  int32_t key_offset = 0;
  for (const auto& kf : comp->key_fields) {
    const TnxFieldDescriptor& f = dict.Field(kf->field_number);
    parts_.push_back(Part{f.type, kf->field_number, f.offset, key_offset, f.length, f.units,
                          kf->ascending, kf->IgnoresCase()});
    key_offset += f.length;
  }
  key_length_ = dict.KeyLength(index_number);
}

bool KeyComparer::RecordNull(std::string_view record, int field_number) const {
  size_t byte = static_cast<size_t>(null_offset_) + static_cast<size_t>(field_number) / 8;
  return (static_cast<unsigned char>(record[byte]) >> (field_number % 8)) & 1;
}

int KeyComparer::Count(int field_count) const {
  int n = KeyFieldCount();
  return field_count < 0 || field_count > n ? n : field_count;
}

Bytes KeyComparer::ExtractKey(std::string_view record) const {
  if (record.size() < static_cast<size_t>(record_length_))
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  Bytes key(static_cast<size_t>(key_length_), '\0');
  if (parts_.empty())
    return key;
  size_t null_base = static_cast<size_t>(parts_.back().key_offset + parts_.back().length);
  for (size_t i = 0; i < parts_.size(); ++i) {
    const Part& p = parts_[i];
    key.replace(static_cast<size_t>(p.key_offset), static_cast<size_t>(p.length),
                record.substr(static_cast<size_t>(p.record_offset), static_cast<size_t>(p.length)));
    if (RecordNull(record, p.field_number))
      key[null_base + i / 8] = static_cast<char>(key[null_base + i / 8] | (1 << (i % 8)));
  }
  return key;
}

int KeyComparer::CompareRecords(std::string_view a, std::string_view b, int field_count,
                                int partial_length) const {
  if (a.size() < static_cast<size_t>(record_length_) ||
      b.size() < static_cast<size_t>(record_length_))
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  int n = Count(field_count);
  for (int i = 0; i < n; ++i) {
    const Part& p = parts_[static_cast<size_t>(i)];
    auto pos = static_cast<size_t>(p.record_offset);
    auto len = static_cast<size_t>(p.length);
    int c = Compare(p, a.substr(pos, len), RecordNull(a, p.field_number), b.substr(pos, len),
                    RecordNull(b, p.field_number), i == n - 1 ? partial_length : 0);
    if (c != 0)
      return c;
  }
  return 0;
}

int KeyComparer::CompareKeys(std::string_view key_a, std::string_view key_b, int field_count,
                             int partial_length) const {
  if (key_a.size() < static_cast<size_t>(key_length_) ||
      key_b.size() < static_cast<size_t>(key_length_))
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  if (parts_.empty())
    return 0;
  size_t null_base = static_cast<size_t>(parts_.back().key_offset + parts_.back().length);
  auto null_at = [&](std::string_view key, size_t i) {
    return (static_cast<unsigned char>(key[null_base + i / 8]) >> (i % 8)) & 1;
  };
  int n = Count(field_count);
  for (int i = 0; i < n; ++i) {
    const Part& p = parts_[static_cast<size_t>(i)];
    auto pos = static_cast<size_t>(p.key_offset);
    auto len = static_cast<size_t>(p.length);
    auto idx = static_cast<size_t>(i);
    int c = Compare(p, key_a.substr(pos, len), null_at(key_a, idx), key_b.substr(pos, len),
                    null_at(key_b, idx), i == n - 1 ? partial_length : 0);
    if (c != 0)
      return c;
  }
  return 0;
}

Bytes KeyComparer::SortableKey(std::string_view record, int field_count, int partial_length) const {
  if (record.size() < static_cast<size_t>(record_length_))
    throw EnxDataDictionaryException(nxcode::kInvalidRecordStructure);
  Bytes out;
  int n = Count(field_count);
  for (int i = 0; i < n; ++i) {
    const Part& p = parts_[static_cast<size_t>(i)];
    AppendSortable(
        p, record.substr(static_cast<size_t>(p.record_offset), static_cast<size_t>(p.length)),
        RecordNull(record, p.field_number), i == n - 1 ? partial_length : 0, &out);
  }
  return out;
}

void KeyComparer::AppendSortable(const Part& p, std::string_view a, bool null, int partial_length,
                                 Bytes* out) const {
  size_t start = out->size();
  if (null) {
    out->push_back('\0');
  } else {
    out->push_back('\x01');
    const char* x = a.data();
    switch (p.type) {
      case nxtBoolean:
        out->push_back(x[0] != 0 ? '\x01' : '\0');
        break;
      case nxtByte:
        out->push_back(x[0]);
        break;
      case nxtInt8:
        PutSigned<int8_t, uint8_t>(out, static_cast<int8_t>(x[0]));
        break;
      case nxtWideChar:
      case nxtWord16:
        PutBigEndian<uint16_t>(out, DecodeFixed16(x));
        break;
      case nxtInt16:
        PutSigned<int16_t, uint16_t>(out, static_cast<int16_t>(DecodeFixed16(x)));
        break;
      case nxtWord32:
      case nxtAutoInc:
      case nxtRecRev:
        PutBigEndian<uint32_t>(out, DecodeFixed32(x));
        break;
      case nxtInt32:
      case nxtDate:
      case nxtTime:
        PutSigned<int32_t, uint32_t>(out, static_cast<int32_t>(DecodeFixed32(x)));
        break;
      case nxtInt64:
      case nxtCurrency:
        PutSigned<int64_t, uint64_t>(out, static_cast<int64_t>(DecodeFixed64(x)));
        break;
      case nxtBlob:
      case nxtBlobMemo:
      case nxtBlobGraphic:
        PutBigEndian<uint64_t>(out, DecodeFixed64(x));
        break;
      case nxtSingle:
        PutSortableDouble(out, std::bit_cast<float>(DecodeFixed32(x)));
        break;
      case nxtDouble:
      case nxtDateTime:
      case nxtInterval:
        PutSortableDouble(out, std::bit_cast<double>(DecodeFixed64(x)));
        break;
      case nxtExtended:
        PutSortableDouble(out, ExtendedToDouble(x));
        break;
      case nxtByteArray:
        out->append(a);
        break;
      case nxtChar:
      case nxtShortString:
      case nxtNullString: {
        // A text shorter than the partial length is matched whole, so it keeps its end.
        std::string_view text = TextOf(p.type, a, p.units);
        bool cut = partial_length > 0 && text.size() >= static_cast<size_t>(partial_length);
        if (cut)
          text = text.substr(0, static_cast<size_t>(partial_length));
        PutSortableText(out, text, p.ignore_case, !cut);
        break;
      }
      case nxtWideString: {
        std::u16string text = WideOf(a, p.units);
        bool cut = partial_length > 0 && text.size() >= static_cast<size_t>(partial_length);
        if (cut)
          text.resize(static_cast<size_t>(partial_length));
        for (char16_t c : text)
          PutBigEndian<uint16_t>(out, static_cast<uint16_t>(c));
        if (!cut)
          out->append(2, '\0');
        break;
      }
    }
  }
  if (!p.ascending) {
    for (size_t i = start; i < out->size(); ++i)
      (*out)[i] = static_cast<char>(~static_cast<unsigned char>((*out)[i]));
  }
}

int KeyComparer::Compare(const Part& p, std::string_view a, bool a_null, std::string_view b,
                         bool b_null, int partial_length) const {
  int c;
  if (a_null || b_null) {
    c = Cmp(!a_null, !b_null);
  } else {
    const char* x = a.data();
    const char* y = b.data();
    switch (p.type) {
      case nxtBoolean:
        c = Cmp(x[0] != 0, y[0] != 0);
        break;
      case nxtByte:
        c = Cmp(static_cast<uint8_t>(x[0]), static_cast<uint8_t>(y[0]));
        break;
      case nxtInt8:
        c = Cmp(static_cast<int8_t>(x[0]), static_cast<int8_t>(y[0]));
        break;
      case nxtWideChar:
      case nxtWord16:
        c = Cmp(DecodeFixed16(x), DecodeFixed16(y));
        break;
      case nxtInt16:
        c = Cmp(static_cast<int16_t>(DecodeFixed16(x)), static_cast<int16_t>(DecodeFixed16(y)));
        break;
      case nxtWord32:
      case nxtAutoInc:
      case nxtRecRev:
        c = Cmp(DecodeFixed32(x), DecodeFixed32(y));
        break;
      case nxtInt32:
      case nxtDate:
      case nxtTime:
        c = Cmp(static_cast<int32_t>(DecodeFixed32(x)), static_cast<int32_t>(DecodeFixed32(y)));
        break;
      case nxtInt64:
      case nxtCurrency:
        c = Cmp(static_cast<int64_t>(DecodeFixed64(x)), static_cast<int64_t>(DecodeFixed64(y)));
        break;
      case nxtBlob:
      case nxtBlobMemo:
      case nxtBlobGraphic:
        c = Cmp(DecodeFixed64(x), DecodeFixed64(y));
        break;
      case nxtSingle:
        c = CmpDouble(std::bit_cast<float>(DecodeFixed32(x)),
                      std::bit_cast<float>(DecodeFixed32(y)));
        break;
      case nxtDouble:
      case nxtDateTime:
      case nxtInterval:
        c = CmpDouble(std::bit_cast<double>(DecodeFixed64(x)),
                      std::bit_cast<double>(DecodeFixed64(y)));
        break;
      case nxtExtended:
        c = CmpDouble(ExtendedToDouble(x), ExtendedToDouble(y));
        break;
      case nxtByteArray:
        c = CompareText(a, b, false, 0);
        break;
      case nxtChar:
      case nxtShortString:
      case nxtNullString:
        c = CompareText(TextOf(p.type, a, p.units), TextOf(p.type, b, p.units), p.ignore_case,
                        partial_length);
        break;
      case nxtWideString: {
        std::u16string wa = WideOf(a, p.units);
        std::u16string wb = WideOf(b, p.units);
        if (partial_length > 0) {
          wa.resize(std::min(wa.size(), static_cast<size_t>(partial_length)));
          wb.resize(std::min(wb.size(), static_cast<size_t>(partial_length)));
        }
        c = wa.compare(wb) < 0 ? -1 : (wa == wb ? 0 : 1);
        break;
      }
      default:
        c = 0;
        break;
    }
  }
  return p.ascending ? c : -c;
}

}  // namespace vantera
