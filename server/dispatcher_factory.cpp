#include "server/dispatcher_factory.h"

#include "server/engine_dispatcher.h"

namespace vantera {

std::unique_ptr<RequestDispatcher> MakeRequestDispatcher(const ServerOptions& options,
                                                         ServerLog& log) {
  return MakeEngineDispatcher(options, log);
}

}  // namespace vantera
