#include "fingerprint/search_rules.h"

#include <algorithm>

#include "msglink/Brkapart.h"

namespace vantera {

namespace {

// Height of one extra order choice and the panel's height for three choices.
constexpr int kChoiceHeight = 25;
constexpr int kPanelBaseHeight = 80;
// The radio group sits this far inside the panel's bottom edge.
constexpr int kRadioGroupInset = 5;
// Margin kept between a moved radio group and the form's right edge.
constexpr int kRightMargin = 6;
// Left edge taken when the form is too narrow for the radio group.
constexpr int kFallbackLeft = 100;

}  // namespace

std::string SearchKey(std::string_view text) {
  std::string key(text);
  for (char& ch : key) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z')
      c = static_cast<unsigned char>(c - 'a' + 'A');
    else if (c == 0xE4 || c == 0xE5 || c == 0xF6)
      c = static_cast<unsigned char>(c - 0x20);
    ch = static_cast<char>(c);
  }
  return key;
}

TextLines SplitAtSemicolons(std::string_view line) {
  TBrkApart splitter(";", false);
  splitter.SetBaseString(line);
  splitter.Split();
  return splitter.StringList();
}

std::optional<std::pair<std::string, std::string>> HeaderColumn(std::string_view line) {
  TextLines parts = SplitAtSemicolons(line);
  if (parts.size() < 2)
    return std::nullopt;
  return std::make_pair(parts[0], parts[1]);
}

OrderChoices OrderItems(const TextLines& rg_name_list) {
  OrderChoices choices;
  if (rg_name_list.empty()) {
    choices.items = {"N&umero", "&Nimi"};
  } else {
    choices.items = rg_name_list;
    choices.visible = rg_name_list.size() != 1;
  }
  return choices;
}

int SelectedOrder(int key_index, size_t count) {
  if (key_index < 0 || static_cast<size_t>(key_index) >= count)
    return -1;
  return key_index;
}

SearchDialogSizes DialogSizes(int form_height, int form_width, int rg_left, int rg_width,
                              size_t index_lines) {
  SearchDialogSizes s;
  s.form_height = form_height;
  s.form_width = form_width;
  s.rg_width = rg_width;
  s.rg_left = rg_left;
  // In 64 bits: the sum of two large widths must not wrap around.
  if (static_cast<long long>(rg_left) + rg_width > form_width) {
    long long left = static_cast<long long>(form_width) - rg_width - kRightMargin;
    s.rg_left = left < 0 ? kFallbackLeft : static_cast<int>(left);
  }
  if (index_lines > 3) {
    // Bounded so that a long list cannot overflow the height.
    size_t extra = std::min<size_t>(index_lines - 3, 1000);
    s.panel_height = static_cast<int>(extra) * kChoiceHeight + kPanelBaseHeight;
    s.rg_height = *s.panel_height - kRadioGroupInset;
  }
  return s;
}

KeyRangePlan PlanKeyRange(const TextLines& key_range_fields, const TextLines& key_range_values,
                          std::string_view index_line, std::string_view prefix) {
  KeyRangePlan plan;
  std::string low = std::string(prefix) + '\0';
  std::string high = std::string(prefix) + '\xFF';
  if (key_range_fields.empty() || key_range_fields.size() != key_range_values.size()) {
    plan.low_value = low;
    plan.high_value = high;
    return plan;
  }
  plan.by_fields = true;
  size_t fixed = 0;
  for (size_t i = 0; i < key_range_fields.size(); ++i) {
    if (index_line.find(key_range_fields[i]) == std::string_view::npos)
      continue;
    plan.low.emplace_back(key_range_fields[i], key_range_values[i]);
    ++fixed;
  }
  plan.high = plan.low;
  TextLines parts = SplitAtSemicolons(index_line);
  if (parts.size() > fixed && !parts[fixed].empty()) {
    plan.low.emplace_back(parts[fixed], low);
    plan.high.emplace_back(parts[fixed], high);
  }
  return plan;
}

TextLines ReturnedValues(const TextLines& wanted,
                         const std::vector<std::pair<std::string, std::string>>& fields) {
  TextLines values;
  values.reserve(wanted.size());
  for (const std::string& name : wanted) {
    std::string value;
    for (const auto& [field, text] : fields) {
      if (field == name) {
        value = text;
        break;
      }
    }
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace vantera
