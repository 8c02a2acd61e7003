#include "msglink/base64.h"

#include <array>
#include <cstdint>

namespace vantera {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Character -> 6-bit value; characters outside the alphabet map to 0.
constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> t{};
  for (uint8_t i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = i;
  return t;
}

constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

inline uint32_t Sextet(char c) {
  return kDecode[static_cast<unsigned char>(c)];
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve(Base64EncodedSize(bytes.size()));
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size(), i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v =
        (static_cast<uint32_t>(p[i]) << 16) | (static_cast<uint32_t>(p[i + 1]) << 8) | p[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += kAlphabet[(v >> 6) & 0x3F];
    out += kAlphabet[v & 0x3F];
  }
  if (n - i == 1) {
    uint32_t v = static_cast<uint32_t>(p[i]) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += "==";
  } else if (n - i == 2) {
    uint32_t v = (static_cast<uint32_t>(p[i]) << 16) | (static_cast<uint32_t>(p[i + 1]) << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += kAlphabet[(v >> 6) & 0x3F];
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
    const char* g = text.data() + i;
    uint32_t v = (Sextet(g[0]) << 18) | (Sextet(g[1]) << 12) | (Sextet(g[2]) << 6) | Sextet(g[3]);
    out += static_cast<char>(v >> 16);
    if (g[2] == '=')
      continue;
    out += static_cast<char>((v >> 8) & 0xFF);
    if (g[3] == '=')
      continue;
    out += static_cast<char>(v & 0xFF);
  }
  return out;
}

}  // namespace vantera
