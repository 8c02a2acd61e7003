// Reading the published vector files beside these tests.
#pragma once

#include <string>
#include <vector>

namespace vantera::testing {

// The lines of vectors/<name> without comment lines ("#...") and blank lines.
std::vector<std::string> VectorLines(const std::string& name);
// Whitespace-separated fields of a line.
std::vector<std::string> Fields(const std::string& line);
// "0a1B.." -> bytes.
std::string FromHex(const std::string& hex);
std::string ToHex(const std::string& bytes);
// Deterministic pseudo-random bytes for the cross-checks.
std::string PseudoRandomBytes(size_t n, unsigned seed);

}  // namespace vantera::testing
