#include "server/dispatcher_factory.h"

namespace vantera {

std::unique_ptr<RequestDispatcher> MakeRequestDispatcher(const ServerOptions& /*options*/,
                                                         ServerLog& log) {
  log.Line("no database engine installed: every request is answered with 12289");
  return std::make_unique<UnsupportedDispatcher>();
}

}  // namespace vantera
