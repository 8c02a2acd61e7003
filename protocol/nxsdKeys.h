// Keys of a composite index: extraction from record images and comparison in index order.
//
// Values compare by their type: integers, dates and times as numbers (unsigned types
// unsigned), floats as numbers, currency as its count, Booleans false before true, byte
// arrays bytewise, text as unsigned Windows-1252 bytes (upper-cased first when the key field
// ignores case), wide text by 16-bit units. A null value comes before every value. A key
// field that is not ascending reverses its comparison, nulls included.
//
// Extracted key (KeyLength bytes): each key field's record bytes in key order, then
// ceil(k / 8) bytes of null flags (bit i of byte i / 8 set: key field i is null).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "protocol/nxsdDataDictionary.h"

namespace vantera {

class KeyComparer {
 public:
  // For the index `index_number` of the dictionary (copied; the dictionary may go away).
  // An index without a composite key has no key fields: every comparison gives 0, and the
  // server orders it by record reference.
  KeyComparer(const TnxDataDictionary& dict, int index_number);

  int KeyFieldCount() const { return static_cast<int>(parts_.size()); }
  int32_t KeyLength() const { return key_length_; }

  // The key of a record image. Throws EnxDataDictionaryException 10003 for a short image.
  Bytes ExtractKey(std::string_view record) const;

  // <0, 0, >0 as `a` sorts before, with or after `b` on the leading `field_count` key fields
  // (-1 or more than there are: all). When `partial_length` > 0 and the last compared field
  // is text, only its first `partial_length` characters count.
  int CompareRecords(std::string_view a, std::string_view b, int field_count = -1,
                     int partial_length = 0) const;
  int CompareKeys(std::string_view key_a, std::string_view key_b, int field_count = -1,
                  int partial_length = 0) const;

  // A byte string whose plain byte order (memcmp, shorter first) is the index order of the
  // records, for storage that can only sort bytes. Per key field: 0x00 for null, else 0x01
  // and the value (numbers big-endian with the sign bit flipped, floats made sortable, text
  // with 0x00 escaped as 0x00 0xFF and ended by 0x00 0x00); a descending field has all its
  // bytes inverted. Built from the leading `field_count` key fields (-1: all). With
  // `partial_length` > 0 a text last field of at least that many characters is cut to them
  // and left unterminated: the records that CompareRecords(..., partial_length) finds equal
  // are then exactly those whose sortable key starts with the result.
  Bytes SortableKey(std::string_view record, int field_count = -1, int partial_length = 0) const;

 private:
  struct Part {
    TnxFieldType type;
    int field_number;
    int32_t record_offset;
    int32_t key_offset;
    int32_t length;
    int32_t units;
    bool ascending;
    bool ignore_case;
  };
  void AppendSortable(const Part& p, std::string_view bytes, bool null, int partial_length,
                      Bytes* out) const;
  int Compare(const Part& p, std::string_view a, bool a_null, std::string_view b, bool b_null,
              int partial_length) const;
  bool RecordNull(std::string_view record, int field_number) const;
  int Count(int field_count) const;

  std::vector<Part> parts_;
  int32_t key_length_ = 0;
  int32_t record_length_ = 0;
  int32_t null_offset_ = 0;
};

}  // namespace vantera
