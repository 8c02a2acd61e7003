// The built-in key of the login cipher. Every client and server of the database protocol
// enciphers and checks the login block with it, so it must never change.
#pragma once

#include <string_view>

namespace vantera {

// 64 bytes, printable ASCII and Latin-1 (Windows-1252) characters.
inline constexpr std::string_view kLoginCipherKey =
    "Vantera:KantaDB-kirjautuminen/\xC4\xE4\xD6\xF6\xC5\xE5#26!sormenj\xE4lki&kortti+avain";
static_assert(kLoginCipherKey.size() == 64, "the login key is 64 bytes");

}  // namespace vantera
