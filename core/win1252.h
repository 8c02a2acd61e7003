// Windows-1252 <-> UTF-8. Texts stay single-byte Windows-1252 inside the system; these
// conversions are used only at the edges (display, terminal output, CSV files).
#pragma once

#include <string>
#include <string_view>

namespace vantera {

// Every byte maps to one code point; the five undefined bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 control of the same value so that nothing is lost.
std::string Win1252ToUtf8(std::string_view text);

// Code points without a Windows-1252 byte become '?'; malformed UTF-8 bytes become '?'.
std::string Utf8ToWin1252(std::string_view text);

// True when the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Upper case of a Windows-1252 byte: a-z, the accented letters 0xE0-0xFE (not 0xF7) and
// the letters 0x9A, 0x9C, 0x9E and 0xFF, which have upper-case partners.
unsigned char Win1252Upper(unsigned char c);
std::string Win1252Upper(std::string_view text);

}  // namespace vantera
