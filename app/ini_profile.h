// The profile (INI) file format: our own reader and writer for "Tarvola.ini".
//
// Rules of the reader:
//  1. A line holding a name in square brackets opens a section; a line holding a key name,
//     "=" and a value holds a setting; other lines, and settings before the first section,
//     are ignored. Lines end in LF or CR LF; a UTF-8 byte-order mark at the start is skipped.
//  2. Section and key names are trimmed and match without regard to letter case
//     (Windows-1252 upper case).
//  3. The value is the text after the first "=", trimmed of blanks, with one pair of
//     enclosing quotes (" or ') removed, cut at a NUL byte and to 255 characters.
//  4. When a key occurs more than once (also in a repeated section), the first counts.
//  5. Only a regular file is read, and only its first kProfileFileMax bytes; a file that is
//     missing, unreadable, a folder or a device reads as an empty file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantera {

inline constexpr size_t kProfileValueMax = 255;
inline constexpr size_t kProfileFileMax = size_t{1} << 20;

// The value of key in section of a profile text, or nothing when the key is absent.
// A present key may have the empty value.
std::optional<std::string> FindProfileValue(std::string_view file_text, std::string_view section,
                                            std::string_view key);

// The contents of a regular file (at most kProfileFileMax bytes), or nothing when the file
// is missing, unreadable or not a regular file. Never blocks on a pipe or device.
std::optional<std::string> ReadProfileFile(const std::string& path);

// The value of key in section of the file; when the key is absent or the file cannot be
// read, default_value without its trailing blanks. At most kProfileValueMax characters.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view default_value);

// Sets key in section of the file to value: replaces the first occurrence, adds the key at
// the end of the first matching section, or adds the section at the end of the file. The
// file is replaced as a whole (written beside it, then renamed). Fails (returns false) for
// names or values that the format cannot hold, a file over kProfileFileMax bytes, a path
// that is not a regular file, and any write error.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace vantera
