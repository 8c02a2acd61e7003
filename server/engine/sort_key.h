// Sort keys: an index key turned into bytes whose plain byte order (memcmp, as SQLite
// compares BLOBs) is the order that the index's key descriptor defines.
//
// Per key field, in key order:
//   null field       0x00
//   other values     0x01, then the value:
//     unsigned integers, auto-increment, record revision, blob numbers: big-endian
//     signed integers, currency, date, time: big-endian with the sign bit flipped
//     floating types (single, double, extended, date-time, interval): big-endian
//       sign-magnitude bytes, all inverted when negative, else the sign bit set
//     Boolean: one byte 0 or 1; byte arrays: the bytes
//     text (char, short string, null string): the characters up to the first zero byte
//       or the field's end, then 0x00; without regard to case each character is upper-
//       cased in Windows-1252 first (and the capital Y with diaeresis, 0x9F, then weighs
//       as 0xFF, the place of its small letter, so 0xFF stays the highest character).
//       Characters are never 0x00, so a shorter text sorts before its extensions.
//     wide text: 16-bit characters big-endian up to the first zero one, then 0x0000.
//   A descending field has all bytes of its part inverted.
// Every field's part is prefix-free, so the key of the first n fields (and of the first
// p characters of a text field, without its 0x00) is a prefix of the whole key: partial
// keys and ranges become byte prefixes. A reference-number index uses the row number as
// 8 bytes big-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/coding.h"
#include "server/engine/table_schema.h"

namespace vantera {

// The sort key of a whole record image (record_length bytes) for one index.
Bytes RecordSortKey(const TableSchema& schema, const IndexLayout& index, std::string_view image,
                    int64_t row);

// The sort key prefix of a key given as a record image: the first `field_count` key
// fields (all when larger, none when 0 or less), the last of them cut to its first
// `partial_length` characters when it is text and partial_length > 0.
Bytes KeyPrefix(const TableSchema& schema, const IndexLayout& index, std::string_view image,
                int32_t field_count, int32_t partial_length);

// The smallest byte string greater than every string that starts with `prefix`;
// nothing when there is none (the prefix is empty or all 0xFF).
std::optional<Bytes> PrefixSuccessor(std::string_view prefix);

}  // namespace vantera
