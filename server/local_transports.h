// The local transports of kantadb-server: its pipe with pipe discovery, and its entry in
// the local server registry. A local transport that cannot be set up (for example because
// another running server holds the same name) is logged and left out; TCP still serves.
#pragma once

#include <cstdint>
#include <memory>

#include "server/frame_handler.h"
#include "server/server_options.h"

namespace vantera {

class PipeServer;
class RegistryServer;

class LocalTransports {
 public:
  // `port` is the TCP port in use; pipes and mailslots take it as their instance number.
  LocalTransports(ServerContext& context, const ServerOptions& options, uint16_t port);
  ~LocalTransports();  // Stop()
  LocalTransports(const LocalTransports&) = delete;
  LocalTransports& operator=(const LocalTransports&) = delete;

  void Start();
  void Stop();

 private:
  ServerContext& ctx_;
  const ServerOptions& options_;
  uint16_t port_;
  std::unique_ptr<PipeServer> pipe_;
  std::unique_ptr<RegistryServer> registry_;
};

}  // namespace vantera
