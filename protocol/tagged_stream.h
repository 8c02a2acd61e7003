// Tagged stream: the self-describing byte format of request payloads, dictionary streams and
// the tunnel's credentials message. Every value starts with a one-byte tag; every number
// after a tag is little-endian.
//
//   tag  value that follows
//   ---  -----------------------------------------------
//    0   nothing: end of list
//    1   nothing: begin of list
//    2   int8
//    3   int16
//    4   int32
//    6   short string: u8 length, then that many bytes
//    7   identifier:   u8 length, then that many bytes
//    8   Boolean false
//    9   Boolean true
//   12   long string: u32 length, then that many bytes
//   19   int64
//
// Integers are written with the smallest of tags 2, 3, 4 that holds them; tag 19 only for
// values outside the 32-bit range. Strings take tag 6 up to 255 bytes, else tag 12. Raw
// bytes (record images, bookmarks) carry no tag; a list around them is tag 1 ... tag 0.
//
// The reader is fed by the network: every tag is checked against the tags the value may
// have, and every length against the bytes that remain, before anything is copied. Any
// failure throws DecodeError: TaggedStreamError for a wrong tag, identifier or length, the
// plain DecodeError of core/coding.h for a value cut off. Nothing is allocated beyond the
// input.
// Neither class does I/O; both work on memory the caller owns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/coding.h"

namespace vantera {

enum class Tag : uint8_t {
  kListEnd = 0,
  kListBegin = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kShortString = 6,
  kIdent = 7,
  kFalse = 8,
  kTrue = 9,
  kLongString = 12,
  kInt64 = 19,
};

// A tagged stream that does not hold what the reader asked for: an unexpected tag, a
// wrong identifier, a length past the end, or a value out of range.
class TaggedStreamError : public DecodeError {
 public:
  using DecodeError::DecodeError;
};

// Appends tagged values to a byte buffer that the caller owns and keeps alive.
class TaggedWriter {
 public:
  explicit TaggedWriter(Bytes* dst) : dst_(dst) {}

  void WriteInt(int64_t v);
  void WriteBool(bool v);
  void WriteString(std::string_view s);
  // An identifier has at most 255 bytes; a longer one is a programming error
  // (std::invalid_argument).
  void WriteIdent(std::string_view ident);
  void WriteListBegin();
  void WriteListEnd();
  // Raw bytes without a tag of their own.
  void WriteRaw(std::string_view bytes);
  // List begin, the raw bytes, list end.
  void WriteList(std::string_view bytes);

  Bytes* buffer() const { return dst_; }

 private:
  void PutTag(Tag t);
  Bytes* dst_;
};

// Reads tagged values from a view of received bytes. The view must outlive the reader.
class TaggedReader {
 public:
  explicit TaggedReader(std::string_view data) : in_(data) {}

  // Tags 2, 3, 4, each widened with its sign.
  int32_t ReadInt32();
  // Tags 2, 3, 4 and 19.
  int64_t ReadInt64();
  // Tags 8 and 9.
  bool ReadBool();
  // Tags 6 and 12.
  std::string ReadString();
  // Tag 7; returns the identifier.
  std::string ReadIdent();
  // Tag 7 whose text equals `expected` exactly, else TaggedStreamError.
  void ExpectIdent(std::string_view expected);
  void ReadListBegin();
  void ReadListEnd();
  // The next tag without consuming it.
  Tag PeekTag() const;
  // n untagged bytes, as a view into the input.
  std::string_view ReadRaw(size_t n);
  // List begin, n raw bytes, list end.
  std::string_view ReadList(size_t n);

  size_t remaining() const { return in_.remaining(); }
  size_t position() const { return in_.position(); }
  bool empty() const { return in_.empty(); }

 private:
  uint8_t GetTag();
  [[noreturn]] void Unexpected(uint8_t tag, const char* wanted) const;
  Reader in_;
};

}  // namespace vantera
