// The index definitions that a dataset builds from a dictionary, and the search of an index
// by field names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocol/nxsdDataDictionary.h"

namespace vantera {

struct IndexDefinition {
  std::string name;
  int index_number = 0;
  std::string fields;                   // key field names joined by ";"
  std::string descending_fields;        // those whose ascending flag is false
  std::string case_insensitive_fields;  // text key fields that ignore case
  std::vector<int> key_field_numbers;   // in key order
  std::vector<bool> key_ignore_case;    // per key field
  bool unique = false;                  // duplicates not allowed
  bool primary = false;                 // the dictionary's default index
  bool case_insensitive = false;        // every key field ignores case (at least one field)
  bool descending = false;              // every key field descends (at least one field)
};

// One definition per index, in dictionary order. An index whose key is not composite (the
// sequential access index) gets no fields.
std::vector<IndexDefinition> BuildIndexDefinitions(const TnxDataDictionary& dict);

// The index chosen for ";"-separated field names: skipping descending indexes, the first
// whose field list equals the names (without regard to case), else the first whose list
// begins with them followed by ";". Its position in `defs`, or -1.
int FindIndexForFields(const std::vector<IndexDefinition>& defs, std::string_view field_names);

}  // namespace vantera
