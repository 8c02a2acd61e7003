// A small deterministic random source (SplitMix64) for the simulated reader. The same seed
// gives the same sequence on every build, which the finger patterns rely on: a finger's
// name always yields the same pattern.
#pragma once

#include <cmath>
#include <cstdint>
#include <string_view>

namespace vantera {

class FingerRandom {
 public:
  explicit FingerRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // Uniform in [lo, hi).
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Unit(); }
  // Uniform integer in [lo, hi].
  int Int(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(double p) { return Unit() < p; }
  // Normal with mean 0 and the given deviation (Box-Muller).
  double Normal(double sigma) {
    double u1 = Unit();
    double u2 = Unit();
    if (u1 < 1e-300)
      u1 = 1e-300;
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  uint64_t state_;
};

// FNV-1a over the bytes of a text: the seed of a named finger.
inline uint64_t HashOfName(std::string_view name) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ull;
  }
  return h;
}

}  // namespace vantera
