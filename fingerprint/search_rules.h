// The rules of the master-detail search dialog that need no window: the search key, the
// order choices, the dialog's sizes and the key range for a typed prefix.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantera {

// A list of text lines (captions, field names, header lines).
using TextLines = std::vector<std::string>;

// Letters a to z and the Latin-1 small a with diaeresis, a with ring and o with diaeresis
// (228, 229, 246) become upper case (196, 197, 214); every other character stays.
std::string SearchKey(std::string_view text);

// The parts of a line split at ";", empty parts dropped.
TextLines SplitAtSemicolons(std::string_view line);

// A header line "Field;Title": the field name and its column title; nothing when the line
// has fewer than two parts.
std::optional<std::pair<std::string, std::string>> HeaderColumn(std::string_view line);

// The choices of the order radio group.
struct OrderChoices {
  TextLines items;
  bool visible = true;  // hidden when the caller gave exactly one caption
};
// The caller's captions when there is at least one, else "N&umero" and "&Nimi".
OrderChoices OrderItems(const TextLines& rg_name_list);

// The choice selected for `key_index` among `count` items: -1 (none) when out of range.
int SelectedOrder(int key_index, size_t count);

// The dialog's sizes in pixels.
struct SearchDialogSizes {
  int form_height = 0;
  int form_width = 0;
  int rg_left = 0;  // adjusted so that the radio group fits the form
  int rg_width = 0;
  // With more than three order indexes the search panel grows (and the radio group with
  // it); nothing otherwise: the panel keeps its own height.
  std::optional<int> panel_height;
  std::optional<int> rg_height;
};
SearchDialogSizes DialogSizes(int form_height, int form_width, int rg_left, int rg_width,
                              size_t index_lines);

// How the master range is set for a prefix.
struct KeyRangePlan {
  // True: the range is built field by field (fixed fields, then the range field) in
  // `low` and `high`. False: one value pair on the current index's first field.
  bool by_fields = false;
  std::vector<std::pair<std::string, std::string>> low;
  std::vector<std::pair<std::string, std::string>> high;
  std::string low_value;
  std::string high_value;
};

// The range for `prefix` under the current order's index line (";"-separated field
// names; empty when the order has no line), with the fixed key fields and their values.
// The prefix is followed by the character 0 at the low end and 255 at the high end.
KeyRangePlan PlanKeyRange(const TextLines& key_range_fields, const TextLines& key_range_values,
                          std::string_view index_line, std::string_view prefix);

// The returned values: for each wanted field name, the value of the first field whose
// name equals it exactly, or the empty line.
TextLines ReturnedValues(const TextLines& wanted,
                         const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace vantera
