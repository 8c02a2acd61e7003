// The TCP listener of kantadb-server in this process, on a free loopback port, serving a
// dispatcher of the test's choice with its own transport registry, accounts and login.
#pragma once

#include <chrono>

#include "server/tcp_server.h"

namespace vantera::testing {

class InProcessTcpServer {
 public:
  explicit InProcessTcpServer(
      RequestDispatcher& dispatcher,
      std::chrono::milliseconds unconnectedGrace = TransportRegistry::kDefaultUnconnectedGrace)
      : registry(unconnectedGrace),
        ctx{registry, dispatcher, accounts, login, ServerLog::Null()},
        server(ctx, Options()) {
    server.Start();
  }

  uint16_t Port() const { return server.Port(); }

  TransportRegistry registry;
  AccountStore accounts;
  LoginChecker login;
  ServerContext ctx;
  TcpServer server;

 private:
  static TcpServerOptions Options() {
    TcpServerOptions options;
    options.port = 0;
    options.discovery = false;
    return options;
  }
};

}  // namespace vantera::testing
