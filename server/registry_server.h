// The local registry half of kantadb-server: registers the server as "#KantaDBServer_" +
// its name in the runtime folder and serves the calls of protocol/registry_calls.h.
//
// An entry left behind by a server that ended without removing it is detected (nobody
// answers on it) and replaced; an entry of a running server is not. The entry is removed
// when the server stops. Each client connection runs in its own thread; a transport
// belongs to the connection that attached it and ends with it. Requests and posts go to
// the same dispatcher, and sessions live in the same registry, as those of TCP and pipes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "protocol/local_sockets.h"
#include "protocol/registry_calls.h"
#include "server/connection_threads.h"
#include "server/frame_handler.h"

namespace vantera {

struct RegistryServerOptions {
  std::string runtimeDir;  // the folder in use (already resolved)
  std::string serverName = "KantaDB";
  uint32_t maxCallLength = 64u << 20;
  size_t maxConnections = 1000;
  // The version number the server reports to EstablishConnection.
  int32_t serverVersion = 10800;
};

class RegistryServer {
 public:
  RegistryServer(ServerContext& context, RegistryServerOptions options);
  ~RegistryServer();  // Stop()
  RegistryServer(const RegistryServer&) = delete;
  RegistryServer& operator=(const RegistryServer&) = delete;

  // Registers and starts serving; throws std::runtime_error when the entry cannot be
  // made (for example, a running server holds the same name).
  void Start();
  // Ends every connection (and the transports they attached) and removes the entry.
  void Stop();

  std::string DisplayName() const { return RegistryDisplayName(options_.serverName); }
  const std::string& EntryPath() const { return path_; }

 private:
  struct Channel;
  void AcceptLoop();
  void Serve(std::shared_ptr<Channel> channel);
  RegistryReply Execute(Channel& channel, const RegistryCall& call);
  void EndTransport(uint32_t transportId, const char* why);

  ServerContext& ctx_;
  RegistryServerOptions options_;
  std::string path_;
  ino_t inode_ = 0;
  FileDescriptor listen_fd_;
  std::atomic<bool> stop_{false};
  bool started_ = false;
  std::thread accept_thread_;
  ConnectionThreads channels_;
};

}  // namespace vantera
