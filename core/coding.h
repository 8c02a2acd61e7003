// Little-endian byte encoding: the one place where integers become wire bytes.
//
// Every integer of the database protocol travels little-endian. Writers append to a
// std::string (bytes) or store into a buffer the caller sized; readers take a bounded
// view and fail instead of reading past its end. Frames, requests, record images,
// envelopes and tagged streams are all built and parsed through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantera {

using Bytes = std::string;  // a byte buffer; std::string keeps SSO and easy comparison

// ---- Fixed-width stores into a caller-sized buffer ----
inline void EncodeFixed16(char* dst, uint16_t v) {
  dst[0] = static_cast<char>(v & 0xFF);
  dst[1] = static_cast<char>(v >> 8);
}
inline void EncodeFixed32(char* dst, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    dst[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void EncodeFixed64(char* dst, uint64_t v) {
  for (int i = 0; i < 8; ++i)
    dst[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline uint16_t DecodeFixed16(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t DecodeFixed32(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t DecodeFixed64(const char* p) {
  return static_cast<uint64_t>(DecodeFixed32(p)) |
         (static_cast<uint64_t>(DecodeFixed32(p + 4)) << 32);
}

// ---- Appending writers ----
void PutFixed8(Bytes* dst, uint8_t v);
void PutFixed16(Bytes* dst, uint16_t v);
void PutFixed32(Bytes* dst, uint32_t v);
void PutFixed64(Bytes* dst, uint64_t v);
void PutDouble(Bytes* dst, double v);  // IEEE-754 binary64, little-endian
// A length-prefixed short string in a fixed field of 1 + capacity bytes: one length byte,
// then the text (cut to capacity), then zero padding.
void PutShortString(Bytes* dst, std::string_view text, size_t capacity = 255);

// Thrown by Reader when the input ends before a value or a length is out of bounds.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bounded cursor over received bytes. Every read checks the remaining length first and
// throws DecodeError rather than reading past the end.
class Reader {
 public:
  Reader() = default;
  explicit Reader(std::string_view data) : data_(data) {}
  Reader(const void* data, size_t size) : data_(static_cast<const char*>(data), size) {}

  size_t remaining() const { return data_.size() - pos_; }
  size_t position() const { return pos_; }
  bool empty() const { return remaining() == 0; }

  uint8_t GetFixed8();
  uint16_t GetFixed16();
  uint32_t GetFixed32();
  uint64_t GetFixed64();
  int32_t GetInt32() { return static_cast<int32_t>(GetFixed32()); }
  int64_t GetInt64() { return static_cast<int64_t>(GetFixed64()); }
  double GetDouble();
  // The next n bytes as a view into the input (valid while the input lives).
  std::string_view GetBytes(size_t n);
  // A fixed field written by PutShortString; a length byte beyond capacity is an error.
  std::string GetShortString(size_t capacity = 255);
  void Skip(size_t n) { (void)GetBytes(n); }

 private:
  void Need(size_t n) const;
  std::string_view data_;
  size_t pos_ = 0;
};

}  // namespace vantera
