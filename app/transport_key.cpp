#include "app/transport_key.h"

namespace vantera {
namespace {

constexpr std::string_view kMask = "Tarvola.ini";

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

unsigned char Masked(unsigned char byte, size_t position) {
  return static_cast<unsigned char>(byte ^
                                    static_cast<unsigned char>(kMask[position % kMask.size()]));
}

}  // namespace

std::optional<std::string> EncodeTransportKey(std::string_view key) {
  if (key.empty() || key.size() > kTransportKeyMax || key.find('\0') != std::string_view::npos)
    return std::nullopt;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(key.size() * 2);
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char b = Masked(static_cast<unsigned char>(key[i]), i);
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

std::optional<std::string> DecodeTransportKey(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0)
    return std::nullopt;
  std::string key;
  key.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexValue(text[i]);
    int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0)
      return std::nullopt;
    unsigned char b = Masked(static_cast<unsigned char>(high * 16 + low), i / 2);
    if (b == 0)
      return std::nullopt;
    key.push_back(static_cast<char>(b));
  }
  return key;
}

}  // namespace vantera
