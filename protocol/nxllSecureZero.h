// Overwriting key material so that the compiler cannot drop the stores as dead.
#pragma once

#include <cstddef>

namespace vantera {

inline void SecureZero(void* data, size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size-- > 0)
    *p++ = 0;
}

}  // namespace vantera
