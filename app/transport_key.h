// The text form of the database transport key in the settings file ("Key" of [DataBase]).
//
// The file does not hold the key in clear. Its form: every byte of the key (Windows-1252)
// XOR-ed with the byte at the same position, cycled, of the mask "Tarvola.ini", written as
// two hexadecimal digits (upper case when encoded; either case is read). So the key "abc"
// is stored as 35 03 11 -> "350311". This hides the key from a casual look; it is an
// encoding, not protection: anyone with this program can decode it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantera {

// Handed on in place of the key when the value is absent or cannot be decoded.
inline constexpr std::string_view kPlaceholderTransportKey = "?";

// The longest key whose text form still fits a settings value (255 characters).
inline constexpr size_t kTransportKeyMax = 127;

// The text form of a key; nothing for an empty key, a key with a NUL byte or one longer
// than kTransportKeyMax.
std::optional<std::string> EncodeTransportKey(std::string_view key);

// The key of a text form; nothing when the text is empty, of odd length, holds a
// non-hexadecimal character, or decodes to a NUL byte.
std::optional<std::string> DecodeTransportKey(std::string_view text);

}  // namespace vantera
