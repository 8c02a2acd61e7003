// The pooled transport over TCP/IPv4, with server discovery by UDP broadcast.
//
// A server name has the form label "@" address; only the part after the first "@" is
// used to connect (a name without "@" is the address). Each connection is a socket with
// Nagle's algorithm left on: every frame goes out in one gather write, so header and
// payload never wait for each other's acknowledgement. The socket is non-blocking and
// every wait on it (connect, send, receive) polls until the connection's deadline, so a
// server that stops answering costs at most that bound.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"

namespace vantera {

class TnxWinsockTransport : public TnxBasePooledTransport {
 public:
  explicit TnxWinsockTransport(std::string name = {});
  ~TnxWinsockTransport() override;

  TnxThreadPriority CallbackThreadPriority() const { return callback_priority_; }
  void SetCallbackThreadPriority(TnxThreadPriority p) { callback_priority_ = p; }
  TnxThreadPriority ListenThreadPriority() const { return listen_priority_; }
  void SetListenThreadPriority(TnxThreadPriority p) { listen_priority_ = p; }
  TnxThreadPriority BroadcastThreadPriority() const { return broadcast_priority_; }
  void SetBroadcastThreadPriority(TnxThreadPriority p) { broadcast_priority_ = p; }

  // Where discovery queries are sent; "255.255.255.255" by default. Tests use the
  // loopback broadcast address 127.255.255.255 or a private network namespace.
  const std::string& BroadcastAddress() const { return broadcast_address_; }
  void SetBroadcastAddress(const std::string& address);
  // The own IPv4 addresses that discovery queries from, one pass each. Empty (the
  // default): the addresses that the host's own name resolves to.
  const std::vector<std::string>& LocalAddresses() const { return local_addresses_; }
  void SetLocalAddresses(std::vector<std::string> addresses);

  // Discovery: queries from every own address and collects the answers, sorted without
  // regard to letter case and without duplicates. Raises the socket error when a query
  // or listener socket cannot be set up.
  void GetServerNames(std::vector<std::string>& list, uint32_t timeout) override;

  // The part of a server name after the first "@" (the whole name without one).
  static std::string AddressOfServerName(const std::string& serverName);
  // The wait budget of one discovery pass: min(1500, max(timeout, 300)) ms.
  static uint32_t DiscoveryWait(uint32_t timeout);
  // The host's own IPv4 addresses in the resolver's order (empty when its name does not
  // resolve); raises the socket error when the host name cannot be read.
  static std::vector<std::string> HostAddresses();

 protected:
  std::unique_ptr<TnxBasePooledConnection> CreateConnection() override;

 private:
  std::vector<std::string> DiscoverFrom(const std::string& ownAddress, uint32_t wait);

  TnxThreadPriority callback_priority_ = TnxThreadPriority::Normal;
  TnxThreadPriority listen_priority_ = TnxThreadPriority::Normal;
  TnxThreadPriority broadcast_priority_ = TnxThreadPriority::Normal;
  std::string broadcast_address_ = "255.255.255.255";
  std::vector<std::string> local_addresses_;
};

// One TCP connection to the server of a TnxWinsockTransport.
class TnxWinsockClientConnection : public TnxBasePooledConnection {
 public:
  // Connects to the transport's server; raises the socket error on failure.
  explicit TnxWinsockClientConnection(TnxWinsockTransport& transport);
  ~TnxWinsockClientConnection() override;

  void SendMessage(FrameHeader header, const char* data, size_t length) override;
  void ReceiveInto(FrameHeader& header, char* dest, size_t capacity, size_t& copied) override;
  void ReceiveReply(TnxReplyCallback callback, void* cookie) override;
  void ReceiveAny(const MessageHandler& handler) override;
  void Close() override;

  // Size of the receive buffer now (64 KiB between large messages).
  size_t ReceiveBufferSize() const { return buffer_.size(); }
  int Socket() const { return fd_; }

  static constexpr size_t kBufferSize = 64 * 1024;

 private:
  // Reads exactly n bytes; end of stream and errors raise the socket error.
  void ReadExact(char* dst, size_t n, bool retryNoBuffers);
  FrameHeader ReadHeader();
  // Reads the payload announced by `header` into the buffer (grown when needed).
  size_t ReadPayload(const FrameHeader& header, bool retryNoBuffers);
  void ShrinkBuffer();

  TnxWinsockTransport& winsock_;
  int fd_ = -1;
  std::atomic<bool> closing_{false};
  std::vector<char> buffer_;
};

// Listens for discovery answers on UDP port Port + 1 while one discovery pass runs.
class TnxWinsockClientBroadcastThread {
 public:
  // Listens on `port`; failures inside the loop go to `log` (may be null).
  TnxWinsockClientBroadcastThread(uint16_t port, EventLog* log);
  ~TnxWinsockClientBroadcastThread();
  TnxWinsockClientBroadcastThread(const TnxWinsockClientBroadcastThread&) = delete;
  TnxWinsockClientBroadcastThread& operator=(const TnxWinsockClientBroadcastThread&) = delete;

  // Opens the socket and starts listening; returns when the socket is ready. Raises the
  // socket error when it cannot be set up.
  void Start();
  // Marks the thread terminated, closes the socket and waits until the thread has ended.
  void Stop();
  // The names collected ("name@a.b.c.d"), sorted; read after Stop.
  std::vector<std::string> Names() const;

 private:
  void Run();

  uint16_t port_;
  EventLog* log_;
  int fd_ = -1;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
};

}  // namespace vantera
