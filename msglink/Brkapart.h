// TBrkApart: splits a text at a separator into a list of pieces.
//
// Split() empties StringList, then repeatedly finds the first occurrence of BreakString in
// the rest of BaseString; the part before it (or the whole rest when there is none) is one
// piece, kept when it is not empty or AllowEmptyString is true; the rest continues after
// the occurrence. An empty BreakString is never found. With "^" and empty pieces allowed:
//   "a^b^" -> a, b, ""     "" -> ""     "^" -> "", ""     "a^^b" -> a, "", b
// With empty pieces left out, "" gives no piece at all.
//
// Any bytes may be split; the list holds at most one piece more than BaseString has bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantera {

class TBrkApart {
 public:
  TBrkApart() = default;
  TBrkApart(std::string_view break_string, bool allow_empty_string)
      : break_string_(break_string), allow_empty_string_(allow_empty_string) {}

  const std::string& BaseString() const { return base_string_; }
  void SetBaseString(std::string_view text) { base_string_ = text; }

  const std::string& BreakString() const { return break_string_; }
  void SetBreakString(std::string_view separator) { break_string_ = separator; }

  bool AllowEmptyString() const { return allow_empty_string_; }
  void SetAllowEmptyString(bool allow) { allow_empty_string_ = allow; }

  // The pieces of the latest Split(), in order. Assigning copies the items.
  const std::vector<std::string>& StringList() const { return string_list_; }
  void SetStringList(const std::vector<std::string>& list) { string_list_ = list; }

  // Fills StringList from BaseString.
  void Split();

 private:
  std::string base_string_;
  std::string break_string_;
  bool allow_empty_string_ = false;
  std::vector<std::string> string_list_;
};

}  // namespace vantera
