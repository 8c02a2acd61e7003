// The filter expression that a locate without a suitable index sends with CursorLocate: the
// located fields by name, their values in a record image of the table, and the options.
//
// Tagged stream (tagged_stream.h):
//   Ident "Locate"
//   Bool  case-insensitive (text fields compared after Windows-1252 upper-casing)
//   Int   partial length: how many leading characters of the last field count when it is
//         text (0: the whole value)
//   Int   field count n (1..kMaxLocateFields)
//   n x   Str field name
//   Int   image length m (1..kMaxLocateImage), then List(m bytes): the record image that
//         holds the values, including its null flags
//
// Decode reads network input: every count and length is checked before use and the stream
// must end after the image; any fault throws DecodeError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"

namespace vantera {

inline constexpr int32_t kMaxLocateFields = 64;
inline constexpr int32_t kMaxLocateImage = 1 << 20;

struct LocateFilter {
  bool case_insensitive = false;
  int32_t partial_length = 0;
  std::vector<std::string> field_names;
  Bytes image;

  Bytes Encode() const;
  static LocateFilter Decode(std::string_view data);
};

}  // namespace vantera
