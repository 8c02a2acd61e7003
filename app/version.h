// The program's four-part version, compiled in from the build (for example 3.0.5.0).
#pragma once

#include <string>

namespace vantera {

inline std::string VersionText() {
  return VANTERA_VERSION_TEXT;
}

}  // namespace vantera
