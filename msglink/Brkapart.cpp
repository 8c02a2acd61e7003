#include "msglink/Brkapart.h"

namespace vantera {

void TBrkApart::Split() {
  string_list_.clear();
  const std::string_view base = base_string_;
  const std::string_view sep = break_string_;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = sep.empty() ? std::string_view::npos : base.find(sep, start);
    std::string_view piece =
        at == std::string_view::npos ? base.substr(start) : base.substr(start, at - start);
    if (!piece.empty() || allow_empty_string_)
      string_list_.emplace_back(piece);
    if (at == std::string_view::npos)
      break;
    start = at + sep.size();
  }
}

}  // namespace vantera
