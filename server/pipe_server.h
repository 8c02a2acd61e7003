// The local pipe half of kantadb-server: serves the pipe of its name under the runtime
// folder and answers pipe discovery through its mailslot.
//
// Each pipe connection runs in its own thread through a FrameHandler, exactly as a TCP
// connection does (same transports, sessions and dispatcher); only the framing differs:
// every received pipe message is handed on as it comes, and every answer frame is cut
// into pipe messages (protocol/pipe_messages.h). A message longer than a pipe message
// closes the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "protocol/local_sockets.h"
#include "server/connection_threads.h"
#include "server/frame_handler.h"

namespace vantera {

struct PipeServerOptions {
  std::string runtimeDir;  // the folder in use (already resolved)
  uint16_t port = 16000;   // instance number inside the pipe and mailslot names
  std::string serverName = "KantaDB";
  std::string computerName;  // given in discovery answers; empty: this computer's name
  bool discovery = true;
  uint32_t handshakeTimeoutMs = 10000;
  uint32_t frameTimeoutMs = 30000;
  size_t maxConnections = 1000;
};

class PipeServer {
 public:
  PipeServer(ServerContext& context, PipeServerOptions options);
  ~PipeServer();  // Stop()
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Creates the pipe (and the discovery mailslot); throws std::runtime_error when it
  // cannot, for example because a running server already serves the same pipe.
  void Start();
  // Ends every thread and connection and removes the socket files.
  void Stop();

  const std::string& PipePath() const { return pipe_path_; }

 private:
  void AcceptLoop();
  void Serve(std::shared_ptr<ServedConnection> connection);
  void DiscoveryLoop();

  ServerContext& ctx_;
  PipeServerOptions options_;
  std::string pipe_path_;
  std::string mailslot_path_;
  FileDescriptor listen_fd_;
  FileDescriptor mailslot_fd_;
  std::atomic<bool> stop_{false};
  bool started_ = false;
  std::thread accept_thread_;
  std::thread discovery_thread_;
  ConnectionThreads connections_;
};

}  // namespace vantera
