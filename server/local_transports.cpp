#include "server/local_transports.h"

#include <exception>

#include "core/runtime_dir.h"
#include "protocol/pipe_names.h"
#include "server/pipe_server.h"
#include "server/registry_server.h"

namespace vantera {

LocalTransports::LocalTransports(ServerContext& context, const ServerOptions& options,
                                 uint16_t port)
    : ctx_(context), options_(options), port_(port) {}

LocalTransports::~LocalTransports() {
  Stop();
}

void LocalTransports::Start() {
  const std::string folder = RuntimeDir(options_.runtimeDir);
  PipeServerOptions pipe;
  pipe.runtimeDir = folder;
  pipe.port = port_;
  pipe.serverName = options_.name;
  pipe.discovery = options_.discovery;
  pipe.handshakeTimeoutMs = options_.handshakeTimeoutMs;
  pipe.frameTimeoutMs = options_.frameTimeoutMs;
  pipe.maxConnections = options_.maxConnections;
  try {
    auto server = std::make_unique<PipeServer>(ctx_, pipe);
    server->Start();
    ctx_.log.Line("serving pipe " + PipeName({options_.name, "."}, port_) + " at " +
                  server->PipePath());
    pipe_ = std::move(server);
  } catch (const std::exception& e) {
    ctx_.log.Line(std::string("pipe not served: ") + e.what());
  }

  RegistryServerOptions reg;
  reg.runtimeDir = folder;
  reg.serverName = options_.name;
  reg.maxCallLength = options_.maxFrameLength;
  reg.maxConnections = options_.maxConnections;
  try {
    auto server = std::make_unique<RegistryServer>(ctx_, reg);
    server->Start();
    ctx_.log.Line("registered in the local registry as " + server->DisplayName());
    registry_ = std::move(server);
  } catch (const std::exception& e) {
    ctx_.log.Line(std::string("not registered in the local registry: ") + e.what());
  }
}

void LocalTransports::Stop() {
  if (registry_)
    registry_->Stop();
  if (pipe_)
    pipe_->Stop();
}

}  // namespace vantera
