// The runtime folder: where local sockets (reader, pipes, the local server registry) live.
#pragma once

#include <string>

namespace vantera {

// The folder that programs use for their local sockets: the override when it is not
// empty, else $XDG_RUNTIME_DIR/vantera, else /tmp/vantera-<uid>. Does not create it.
std::string RuntimeDir(const std::string& override_dir = {});

// Creates the folder (and missing parents) with mode 0700; throws std::runtime_error with
// the path and the system's reason when that fails.
void EnsureRuntimeDir(const std::string& dir);

}  // namespace vantera
