// The listening half of kantadb-server: accepts TCP connections, runs each in its own
// thread through a FrameHandler, drops silent transports, answers discovery queries.
//
// Each connection thread waits on its socket in short polls, so Stop() ends every thread
// within a bounded time, and a connection that never completes its handshake, or does not
// send a frame whole in time, is dropped after a time-out without affecting anyone else.
// One source address may hold only so many connections, so that one client cannot take
// every slot, and a full server closes its oldest connection without a session (open for
// 2 s or more) to make room for a new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "server/connection_threads.h"
#include "server/frame_handler.h"

namespace vantera {

struct TcpServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 16000;  // 0: any free port (see Port())
  std::string serverName = "KantaDB";
  bool discovery = true;                // answer UDP queries on the same port number
  uint32_t handshakeTimeoutMs = 10000;  // a connection must open or attach by then
  uint32_t frameTimeoutMs = 30000;      // a frame once begun must be complete by then
  size_t maxConnections = 1000;
  size_t maxPerAddress = 64;  // open connections from one client address; 0: no limit
  bool tunnelOnly = false;    // refuse sessions of every account but the tunnel's
};

class TcpServer {
 public:
  TcpServer(ServerContext& context, TcpServerOptions options);
  ~TcpServer();  // Stop()
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Binds and starts listening; throws std::runtime_error with the reason on failure.
  void Start();
  // Ends every thread and connection; sessions still open are reported closed.
  void Stop();
  // The TCP port listened on (the chosen one when 0 was asked).
  uint16_t Port() const { return port_; }

 private:
  struct Connection;
  void AcceptLoop();
  void Serve(std::shared_ptr<Connection> connection);
  void WatchdogLoop();
  void DiscoveryLoop();
  void DropTransport(uint32_t transportId);

  ServerContext& ctx_;
  TcpServerOptions options_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;
  int discovery_fd_ = -1;
  int reply_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  std::thread watchdog_thread_;
  std::thread discovery_thread_;
  ConnectionThreads connections_;
};

}  // namespace vantera
