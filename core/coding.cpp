#include "core/coding.h"

#include <bit>
#include <cstring>

namespace vantera {

void PutFixed8(Bytes* dst, uint8_t v) {
  dst->push_back(static_cast<char>(v));
}

void PutFixed16(Bytes* dst, uint16_t v) {
  char buf[2];
  EncodeFixed16(buf, v);
  dst->append(buf, sizeof buf);
}

void PutFixed32(Bytes* dst, uint32_t v) {
  char buf[4];
  EncodeFixed32(buf, v);
  dst->append(buf, sizeof buf);
}

void PutFixed64(Bytes* dst, uint64_t v) {
  char buf[8];
  EncodeFixed64(buf, v);
  dst->append(buf, sizeof buf);
}

void PutDouble(Bytes* dst, double v) {
  PutFixed64(dst, std::bit_cast<uint64_t>(v));
}

void PutShortString(Bytes* dst, std::string_view text, size_t capacity) {
  if (capacity > 255)
    capacity = 255;
  size_t n = text.size() < capacity ? text.size() : capacity;
  PutFixed8(dst, static_cast<uint8_t>(n));
  dst->append(text.data(), n);
  dst->append(capacity - n, '\0');
}

void Reader::Need(size_t n) const {
  if (n > remaining()) {
    throw DecodeError("input ends after " + std::to_string(remaining()) + " bytes, " +
                      std::to_string(n) + " needed");
  }
}

uint8_t Reader::GetFixed8() {
  Need(1);
  return static_cast<uint8_t>(data_[pos_++]);
}

uint16_t Reader::GetFixed16() {
  Need(2);
  uint16_t v = DecodeFixed16(data_.data() + pos_);
  pos_ += 2;
  return v;
}

uint32_t Reader::GetFixed32() {
  Need(4);
  uint32_t v = DecodeFixed32(data_.data() + pos_);
  pos_ += 4;
  return v;
}

uint64_t Reader::GetFixed64() {
  Need(8);
  uint64_t v = DecodeFixed64(data_.data() + pos_);
  pos_ += 8;
  return v;
}

double Reader::GetDouble() {
  return std::bit_cast<double>(GetFixed64());
}

std::string_view Reader::GetBytes(size_t n) {
  Need(n);
  std::string_view v = data_.substr(pos_, n);
  pos_ += n;
  return v;
}

std::string Reader::GetShortString(size_t capacity) {
  if (capacity > 255)
    capacity = 255;
  std::string_view field = GetBytes(1 + capacity);
  size_t n = static_cast<unsigned char>(field[0]);
  if (n > capacity)
    throw DecodeError("string length " + std::to_string(n) + " exceeds field");
  return std::string(field.substr(1, n));
}

}  // namespace vantera
