// Helpers shared by the message-line tests: hex text and the published vector files.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantera::testing {

inline std::string FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0)
    throw std::invalid_argument("odd hex length: " + hex);
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

// The lines of a vector file split at blanks, comment lines (#) left out.
inline std::vector<std::vector<std::string>> ReadVectorFile(const std::string& name) {
  std::ifstream in(std::string(MSGLINE_TESTDATA) + "/" + name);
  if (!in)
    throw std::runtime_error("cannot open vector file " + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; fields >> f;)
      row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

inline std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string out(n, '\0');
  for (char& c : out)
    c = static_cast<char>(byte(rng));
  return out;
}

inline const uint8_t* U8(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace vantera::testing
