#include "protocol/tagged_stream.h"

#include <limits>
#include <stdexcept>

namespace vantera {

void TaggedWriter::PutTag(Tag t) {
  PutFixed8(dst_, static_cast<uint8_t>(t));
}

void TaggedWriter::WriteInt(int64_t v) {
  if (v >= std::numeric_limits<int8_t>::min() && v <= std::numeric_limits<int8_t>::max()) {
    PutTag(Tag::kInt8);
    PutFixed8(dst_, static_cast<uint8_t>(v));
  } else if (v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max()) {
    PutTag(Tag::kInt16);
    PutFixed16(dst_, static_cast<uint16_t>(v));
  } else if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
    PutTag(Tag::kInt32);
    PutFixed32(dst_, static_cast<uint32_t>(v));
  } else {
    PutTag(Tag::kInt64);
    PutFixed64(dst_, static_cast<uint64_t>(v));
  }
}

void TaggedWriter::WriteBool(bool v) {
  PutTag(v ? Tag::kTrue : Tag::kFalse);
}

void TaggedWriter::WriteString(std::string_view s) {
  if (s.size() <= 255) {
    PutTag(Tag::kShortString);
    PutFixed8(dst_, static_cast<uint8_t>(s.size()));
  } else {
    if (s.size() > std::numeric_limits<uint32_t>::max())
      throw std::invalid_argument("string too long for a tagged stream");
    PutTag(Tag::kLongString);
    PutFixed32(dst_, static_cast<uint32_t>(s.size()));
  }
  dst_->append(s);
}

void TaggedWriter::WriteIdent(std::string_view ident) {
  if (ident.size() > 255)
    throw std::invalid_argument("identifier longer than 255 bytes");
  PutTag(Tag::kIdent);
  PutFixed8(dst_, static_cast<uint8_t>(ident.size()));
  dst_->append(ident);
}

void TaggedWriter::WriteListBegin() {
  PutTag(Tag::kListBegin);
}

void TaggedWriter::WriteListEnd() {
  PutTag(Tag::kListEnd);
}

void TaggedWriter::WriteRaw(std::string_view bytes) {
  dst_->append(bytes);
}

void TaggedWriter::WriteList(std::string_view bytes) {
  WriteListBegin();
  WriteRaw(bytes);
  WriteListEnd();
}

uint8_t TaggedReader::GetTag() {
  if (in_.empty())
    throw TaggedStreamError("tagged stream ends where a value was expected");
  return in_.GetFixed8();
}

void TaggedReader::Unexpected(uint8_t tag, const char* wanted) const {
  throw TaggedStreamError("tag " + std::to_string(tag) + " where " + wanted + " was expected");
}

int32_t TaggedReader::ReadInt32() {
  uint8_t tag = GetTag();
  switch (static_cast<Tag>(tag)) {
    case Tag::kInt8:
      return static_cast<int8_t>(in_.GetFixed8());
    case Tag::kInt16:
      return static_cast<int16_t>(in_.GetFixed16());
    case Tag::kInt32:
      return static_cast<int32_t>(in_.GetFixed32());
    default:
      Unexpected(tag, "a 32-bit integer");
  }
}

int64_t TaggedReader::ReadInt64() {
  if (!in_.empty() && PeekTag() == Tag::kInt64) {
    (void)GetTag();
    return static_cast<int64_t>(in_.GetFixed64());
  }
  return ReadInt32();
}

bool TaggedReader::ReadBool() {
  uint8_t tag = GetTag();
  if (tag == static_cast<uint8_t>(Tag::kFalse))
    return false;
  if (tag == static_cast<uint8_t>(Tag::kTrue))
    return true;
  Unexpected(tag, "a Boolean");
}

std::string TaggedReader::ReadString() {
  uint8_t tag = GetTag();
  size_t n;
  if (tag == static_cast<uint8_t>(Tag::kShortString))
    n = in_.GetFixed8();
  else if (tag == static_cast<uint8_t>(Tag::kLongString))
    n = in_.GetFixed32();
  else
    Unexpected(tag, "a string");
  if (n > in_.remaining())
    throw TaggedStreamError("string of " + std::to_string(n) + " bytes with only " +
                            std::to_string(in_.remaining()) + " left");
  return std::string(in_.GetBytes(n));
}

std::string TaggedReader::ReadIdent() {
  uint8_t tag = GetTag();
  if (tag != static_cast<uint8_t>(Tag::kIdent))
    Unexpected(tag, "an identifier");
  size_t n = in_.GetFixed8();
  if (n > in_.remaining())
    throw TaggedStreamError("identifier runs past the end of the stream");
  return std::string(in_.GetBytes(n));
}

void TaggedReader::ExpectIdent(std::string_view expected) {
  std::string got = ReadIdent();
  if (got != expected)
    throw TaggedStreamError("identifier \"" + got + "\" where \"" + std::string(expected) +
                            "\" was expected");
}

void TaggedReader::ReadListBegin() {
  uint8_t tag = GetTag();
  if (tag != static_cast<uint8_t>(Tag::kListBegin))
    Unexpected(tag, "a list begin");
}

void TaggedReader::ReadListEnd() {
  uint8_t tag = GetTag();
  if (tag != static_cast<uint8_t>(Tag::kListEnd))
    Unexpected(tag, "a list end");
}

Tag TaggedReader::PeekTag() const {
  if (in_.empty())
    throw TaggedStreamError("tagged stream ends where a value was expected");
  Reader copy = in_;
  return static_cast<Tag>(copy.GetFixed8());
}

std::string_view TaggedReader::ReadRaw(size_t n) {
  if (n > in_.remaining())
    throw TaggedStreamError(std::to_string(n) + " raw bytes wanted, " +
                            std::to_string(in_.remaining()) + " left");
  return in_.GetBytes(n);
}

std::string_view TaggedReader::ReadList(size_t n) {
  ReadListBegin();
  std::string_view bytes = ReadRaw(n);
  ReadListEnd();
  return bytes;
}

}  // namespace vantera
