// The pooled transport over local pipes, with server discovery through mailslots.
//
// A pipe is a Unix-domain SOCK_SEQPACKET socket under the runtime folder, and a mailslot a
// datagram socket there (protocol/pipe_names.h has every name). A server name has the form
// S "@" M; only this computer can be reached, so a name with another machine part fails
// as an unreachable server does. Frames are cut into pipe messages as
// protocol/pipe_messages.h describes; a request and its reply are one exchange on one
// connection of the pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/pipe_names.h"

namespace vantera {

class TnxNamedPipeTransport : public TnxBasePooledTransport {
 public:
  explicit TnxNamedPipeTransport(std::string name = {});
  ~TnxNamedPipeTransport() override;

  TnxThreadPriority CallbackThreadPriority() const { return callback_priority_; }
  void SetCallbackThreadPriority(TnxThreadPriority p) { callback_priority_ = p; }
  TnxThreadPriority BroadcastListenerPriority() const { return broadcast_priority_; }
  void SetBroadcastListenerPriority(TnxThreadPriority p) { broadcast_priority_ = p; }

  // Folder of the pipe and mailslot sockets; empty (the default) means RuntimeDir().
  // Changing it needs an inactive transport.
  const std::string& RuntimeFolder() const { return runtime_folder_; }
  void SetRuntimeFolder(const std::string& folder);
  // The folder in use: RuntimeDir(RuntimeFolder()).
  std::string EffectiveRuntimeFolder() const;

  // The pipe name and the socket path of the runtime server name.
  std::string CurrentPipeName() const;
  std::string CurrentPipePath() const;

  // Discovery: asks every server of instance Port through its mailslot and collects the
  // answers ("S@M") until min(1500, max(timeout, 300)) ms have passed. Raises when the
  // reply mailslot cannot be created.
  void GetServerNames(std::vector<std::string>& list, uint32_t timeout) override;

 protected:
  std::unique_ptr<TnxBasePooledConnection> CreateConnection() override;

 private:
  TnxThreadPriority callback_priority_ = TnxThreadPriority::Normal;
  TnxThreadPriority broadcast_priority_ = TnxThreadPriority::Normal;
  std::string runtime_folder_;
  uint32_t number_;  // tells this transport's reply mailslot from others of the process
};

// One pipe connection of a TnxNamedPipeTransport.
class TnxNamedPipeClientConnection : public TnxBasePooledConnection {
 public:
  // Opens the pipe of the transport's server; raises the operating-system error when the
  // pipe does not exist, is on another machine, or cannot be opened.
  explicit TnxNamedPipeClientConnection(TnxNamedPipeTransport& transport);
  ~TnxNamedPipeClientConnection() override;

  void SendMessage(FrameHeader header, const char* data, size_t length) override;
  void ReceiveInto(FrameHeader& header, char* dest, size_t capacity, size_t& copied) override;
  void ReceiveReply(TnxReplyCallback callback, void* cookie) override;
  void ReceiveAny(const MessageHandler& handler) override;
  void Close() override;

  // Size of the receive buffer now (64 KiB between large messages).
  size_t ReceiveBufferSize() const { return buffer_.size(); }

  static constexpr size_t kBufferSize = 64 * 1024;

 private:
  FrameHeader ReadFrame();
  void ShrinkBuffer();

  TnxNamedPipeTransport& pipe_;
  int fd_ = -1;
  std::atomic<bool> closing_{false};
  std::vector<char> buffer_;
};

}  // namespace vantera
