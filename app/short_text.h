// Texts of a fixed maximum length: a longer text is cut to the limit when assigned.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantera {

template <size_t N>
class ShortText {
 public:
  static constexpr size_t kMaxLength = N;

  ShortText() = default;
  ShortText(std::string_view text) { Assign(text); }  // NOLINT: cuts like an assignment
  ShortText& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  const std::string& str() const { return text_; }
  bool empty() const { return text_.empty(); }
  size_t size() const { return text_.size(); }
  operator const std::string&() const { return text_; }  // NOLINT: reads like a string

  friend bool operator==(const ShortText& a, std::string_view b) { return a.text_ == b; }

 private:
  void Assign(std::string_view text) { text_.assign(text.substr(0, N)); }

  std::string text_;
};

using Str64 = ShortText<64>;
using Str255 = ShortText<255>;

}  // namespace vantera
