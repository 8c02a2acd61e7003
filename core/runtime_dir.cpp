#include "core/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vantera {

std::string RuntimeDir(const std::string& override_dir) {
  if (!override_dir.empty())
    return override_dir;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] != '\0')
    return std::string(xdg) + "/vantera";
  return "/tmp/vantera-" + std::to_string(getuid());
}

void EnsureRuntimeDir(const std::string& dir) {
  if (dir.empty())
    throw std::runtime_error("runtime folder: empty path");
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty())
      continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot create runtime folder " + partial + ": " +
                               std::strerror(errno));
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw std::runtime_error("runtime folder " + dir + " is not a folder");
  }
}

}  // namespace vantera
