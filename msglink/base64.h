// Base64 of the message lines on the wire.
//
// Alphabet "A-Z a-z 0-9 + /", "=" padding, no line breaks. Encoding: three bytes give four
// characters; a final one byte gives two characters and "==", two bytes three and "=".
//
// Decoding takes any text and never fails, since a damaged line must only decode into
// meaningless bytes:
//   - the text is read in groups of four characters; a final group of fewer than four
//     characters is ignored;
//   - "=" in the third place of a group yields one byte; otherwise "=" in the fourth place
//     yields two bytes; otherwise the group yields three bytes. This holds for every
//     group, not only the last;
//   - every other character outside the alphabet (including "=" in the first or second
//     place) counts as the value 0, the same as "A".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantera {

std::string Base64Encode(std::string_view bytes);
std::string Base64Decode(std::string_view text);

// 4 * ceil(n / 3): the length of the Base64 text of n bytes.
constexpr std::size_t Base64EncodedSize(std::size_t n) {
  return (n + 2) / 3 * 4;
}

}  // namespace vantera
