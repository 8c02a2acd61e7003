// Overwriting key material so that the compiler cannot drop the stores.
#pragma once

#include <cstddef>

namespace vantera {

// Fills n bytes at p with value through volatile stores. A plain memset of memory that is
// not read again may be removed as a dead store; these writes are kept.
inline void SecureFill(void* p, std::size_t n, unsigned char value) {
  volatile unsigned char* q = static_cast<volatile unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i)
    q[i] = value;
#if defined(__GNUC__)
  __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

inline void SecureZero(void* p, std::size_t n) {
  SecureFill(p, n, 0);
}

}  // namespace vantera
