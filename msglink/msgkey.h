// The message key: the fixed text from which the line cipher derives its key (SHA-1 of
// these 28 bytes). The workstation and the message server both take it from here, so
// they always agree; it is never configured. Windows-1252 bytes, four of them above 0x7F.
#pragma once

#include <string_view>

namespace vantera {

inline constexpr std::string_view kMessageKey =
    "K7v"
    "\xE4"
    "Rq#9mT"
    "\xF6"
    "pZ2!x"
    "\xA7"
    "Lw5"
    "\xC5"
    "nB@8"
    "\xE9"
    "sY";

static_assert(kMessageKey.size() == 28, "the message key has 28 bytes");

}  // namespace vantera
