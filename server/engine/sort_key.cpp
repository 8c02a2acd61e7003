#include "server/engine/sort_key.h"

#include "core/win1252.h"

namespace vantera {

namespace {

unsigned char Byte(std::string_view b, size_t i) {
  return static_cast<unsigned char>(b[i]);
}

// Little-endian bytes of the field, most significant first.
void AppendBigEndian(Bytes* out, std::string_view le, bool flip_sign) {
  for (size_t i = le.size(); i-- > 0;) {
    unsigned char c = Byte(le, i);
    if (flip_sign && i + 1 == le.size())
      c ^= 0x80;
    out->push_back(static_cast<char>(c));
  }
}

void AppendFloat(Bytes* out, std::string_view le) {
  size_t start = out->size();
  AppendBigEndian(out, le, false);
  bool negative = (static_cast<unsigned char>((*out)[start]) & 0x80) != 0;
  bool zero = true;
  for (size_t i = start; i < out->size(); ++i) {
    unsigned char c = static_cast<unsigned char>((*out)[i]);
    if ((i == start ? (c & 0x7F) : c) != 0)
      zero = false;
  }
  if (negative && !zero) {
    for (size_t i = start; i < out->size(); ++i)
      (*out)[i] = static_cast<char>(~(*out)[i]);
  } else {
    (*out)[start] = static_cast<char>(static_cast<unsigned char>((*out)[start] & 0x7F) | 0x80);
  }
}

unsigned char TextWeight(unsigned char c, bool ignore_case) {
  if (!ignore_case)
    return c;
  unsigned char u = Win1252Upper(c);
  return u == 0x9F ? 0xFF : u;
}

// Appends a text field's characters; `limit` < 0 means all, followed by the terminator.
void AppendText(Bytes* out, std::string_view chars, bool ignore_case, int32_t limit) {
  size_t n = 0;
  for (char ch : chars) {
    if (ch == 0 || (limit >= 0 && n >= static_cast<size_t>(limit)))
      break;
    out->push_back(static_cast<char>(TextWeight(static_cast<unsigned char>(ch), ignore_case)));
    ++n;
  }
  if (limit < 0)
    out->push_back(0);
}

void AppendWide(Bytes* out, std::string_view le, bool ignore_case, int32_t limit) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < le.size(); i += 2) {
    unsigned ch = Byte(le, i) | (Byte(le, i + 1) << 8);
    if (ch == 0 || (limit >= 0 && n >= static_cast<size_t>(limit)))
      break;
    if (ignore_case && ch < 0x100)
      ch = TextWeight(static_cast<unsigned char>(ch), true);
    out->push_back(static_cast<char>(ch >> 8));
    out->push_back(static_cast<char>(ch & 0xFF));
    ++n;
  }
  if (limit < 0) {
    out->push_back(0);
    out->push_back(0);
  }
}

// The characters of a text field as stored.
std::string_view TextChars(TnxFieldType type, std::string_view bytes) {
  if (type == nxtShortString && !bytes.empty()) {
    size_t len = Byte(bytes, 0);
    if (len > bytes.size() - 1)
      len = bytes.size() - 1;
    return bytes.substr(1, len);
  }
  return bytes;
}

// One key field's part; `limit` >= 0 cuts text to that many characters without terminator.
void AppendField(Bytes* out, const TableSchema& schema, const KeyFieldLayout& kf,
                 std::string_view image, int32_t limit) {
  size_t start = out->size();
  auto fno = static_cast<size_t>(kf.field);
  if (schema.IsNull(image, fno)) {
    out->push_back(0);
  } else {
    out->push_back(1);
    const FieldLayout& f = schema.fields[fno];
    std::string_view v = schema.FieldBytes(image, fno);
    switch (f.type) {
      case nxtBoolean:
        out->push_back(v.empty() || v[0] == 0 ? 0 : 1);
        break;
      case nxtChar:
      case nxtShortString:
      case nxtNullString:
        AppendText(out, TextChars(f.type, v), kf.ignore_case, limit);
        break;
      case nxtWideChar:
      case nxtWideString:
        AppendWide(out, v, kf.ignore_case, limit);
        break;
      case nxtByte:
      case nxtWord16:
      case nxtWord32:
      case nxtAutoInc:
      case nxtRecRev:
      case nxtBlob:
      case nxtBlobMemo:
      case nxtBlobGraphic:
        AppendBigEndian(out, v, false);
        break;
      case nxtInt8:
      case nxtInt16:
      case nxtInt32:
      case nxtInt64:
      case nxtCurrency:
      case nxtDate:
      case nxtTime:
        AppendBigEndian(out, v, true);
        break;
      case nxtSingle:
      case nxtDouble:
      case nxtExtended:
      case nxtDateTime:
      case nxtInterval:
        AppendFloat(out, v);
        break;
      case nxtByteArray:
        out->append(v);
        break;
    }
  }
  if (!kf.ascending)
    for (size_t i = start; i < out->size(); ++i)
      (*out)[i] = static_cast<char>(~(*out)[i]);
}

}  // namespace

Bytes RecordSortKey(const TableSchema& schema, const IndexLayout& index, std::string_view image,
                    int64_t row) {
  Bytes key;
  if (index.ref_key) {
    for (int i = 7; i >= 0; --i)
      key.push_back(static_cast<char>((static_cast<uint64_t>(row) >> (8 * i)) & 0xFF));
    return key;
  }
  for (const KeyFieldLayout& kf : index.key_fields)
    AppendField(&key, schema, kf, image, -1);
  return key;
}

Bytes KeyPrefix(const TableSchema& schema, const IndexLayout& index, std::string_view image,
                int32_t field_count, int32_t partial_length) {
  Bytes key;
  if (index.ref_key || field_count <= 0)
    return key;
  size_t n = std::min(static_cast<size_t>(field_count), index.key_fields.size());
  for (size_t i = 0; i < n; ++i) {
    const KeyFieldLayout& kf = index.key_fields[i];
    TnxFieldType type = schema.fields[static_cast<size_t>(kf.field)].type;
    bool text = IsStringType(type) || type == nxtWideString || type == nxtWideChar;
    int32_t limit = (i + 1 == n && partial_length > 0 && text) ? partial_length : -1;
    AppendField(&key, schema, kf, image, limit);
  }
  return key;
}

std::optional<Bytes> PrefixSuccessor(std::string_view prefix) {
  Bytes s(prefix);
  while (!s.empty() && static_cast<unsigned char>(s.back()) == 0xFF)
    s.pop_back();
  if (s.empty())
    return std::nullopt;
  s.back() = static_cast<char>(static_cast<unsigned char>(s.back()) + 1);
  return s;
}

}  // namespace vantera
