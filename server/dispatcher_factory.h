// The request dispatcher that kantadb-server installs for its run.
#pragma once

#include <memory>

#include "server/request_dispatcher.h"
#include "server/server_log.h"
#include "server/server_options.h"

namespace vantera {

// The dispatcher for a server started with `options`; throws std::runtime_error when it
// cannot be set up (for example an unusable data folder).
std::unique_ptr<RequestDispatcher> MakeRequestDispatcher(const ServerOptions& options,
                                                         ServerLog& log);

}  // namespace vantera
