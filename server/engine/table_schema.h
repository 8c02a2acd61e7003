// What the server needs to know of a table's dictionary, in a flat form: where each field
// lies in a record image, which fields are required, and how each index builds its key.
// Built from the dictionary stream that the table was created with (schema_from_dictionary.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/nxsdFieldTypes.h"

namespace vantera {

struct FieldLayout {
  std::string name;
  TnxFieldType type = nxtInt32;
  int32_t offset = 0;
  int32_t length = 0;
  bool required = false;
};

struct KeyFieldLayout {
  int32_t field = 0;  // field number
  bool ascending = true;
  bool ignore_case = false;  // text key fields only
};

struct IndexLayout {
  std::string name;
  bool unique = false;
  bool ref_key = false;  // ordered by the record's reference number; no key fields
  std::vector<KeyFieldLayout> key_fields;
  int32_t key_length = 8;  // as the dictionary defines it (bookmark size = key length + 24)
};

struct TableSchema {
  std::vector<FieldLayout> fields;
  std::vector<IndexLayout> indexes;
  int32_t null_offset = 0;  // where the null flags begin
  int32_t record_length = 0;
  int32_t default_index = -1;

  // Key length + 24; 24 for an index number outside the list.
  int32_t BookmarkSize(int32_t index) const;
  // The index of that name (without regard to case), or -1.
  int32_t FindIndex(std::string_view name) const;
  // `image` must be record_length bytes.
  bool IsNull(std::string_view image, size_t field) const;
  std::string_view FieldBytes(std::string_view image, size_t field) const;
};

}  // namespace vantera
