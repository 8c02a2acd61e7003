#include "tests/dbconn/test_vectors.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vantera::testing {

std::vector<std::string> VectorLines(const std::string& name) {
  std::ifstream in(std::string(VANTERA_DBCONN_VECTORS) + "/" + name);
  if (!in)
    throw std::runtime_error("missing vector file " + name);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string f;
  while (in >> f)
    out.push_back(f);
  return out;
}

std::string FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0)
    throw std::runtime_error("odd hex " + hex);
  std::string out;
  for (size_t k = 0; k < hex.size(); k += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string PseudoRandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out)
    c = static_cast<char>(gen() & 0xFF);
  return out;
}

}  // namespace vantera::testing
