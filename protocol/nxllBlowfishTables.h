// The initial P-array and S-boxes of Blowfish (the hexadecimal digits of pi).
#pragma once

#include <cstdint>

namespace vantera {

extern const uint32_t kBlowfishPiP[18];
extern const uint32_t kBlowfishPiS[4][256];

}  // namespace vantera
