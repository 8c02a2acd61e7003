#include "dbconn/nxtcCOMTransport.h"

#include <dirent.h>
#include <sys/socket.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <random>

#include "core/runtime_dir.h"
#include "core/win1252.h"
#include "protocol/local_sockets.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/registry_calls.h"

namespace vantera {

namespace {

uint32_t RandomMark() {
  std::random_device device;
  return device() | 1u;  // never 0: a freed proxy carries 0
}

// Written into every live proxy of the process; cleared when the proxy is freed.
const uint32_t kTransportProxyMark = RandomMark();
const uint32_t kConnectionProxyMark = RandomMark() ^ 0x5A5A5A5Au;

std::atomic<uint32_t> g_next_callback{1};

// Added to a call's own time-out (or to the transport's Timeout for calls without one) to
// bound the wait for its answer.
constexpr uint32_t kCallMargin = 2000;

WaitClock::time_point CallDeadline(uint32_t ms) {
  return WaitClock::now() + std::chrono::milliseconds(uint64_t{ms} + kCallMargin);
}

// Every (file name, server name) of the registry entries in `folder`.
std::vector<std::pair<std::string, std::string>> RegistryEntries(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir)
    return entries;
  while (dirent* entry = ::readdir(dir)) {
    std::string file = entry->d_name;
    std::optional<std::string> display = DisplayNameOfEntry(file);
    if (!display)
      continue;
    if (std::optional<std::string> server = ServerNameOfDisplayName(*display))
      entries.emplace_back(folder + "/" + file, *server);
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

// One attachment to a server.
class TnxRegisteredCOMTransport::TransportProxy {
 public:
  TransportProxy(std::string path, uint32_t maxLength, uint32_t setupMs)
      : mark(kTransportProxyMark),
        callback(g_next_callback.fetch_add(1)),
        path_(std::move(path)),
        max_length_(maxLength),
        setup_ms_(setupMs) {}

  ~TransportProxy() {
    mark = 0;
    if (attach_.Valid() && server.id != 0 && !abandoned_) {
      RegistryCall call;
      call.method = RegistryMethod::TerminateTransport;
      call.transport = server;
      try {
        CallOn(attach_.Get(), call, CallDeadline(setup_ms_));
      } catch (const std::exception&) {
        // The server is gone already: nothing to terminate.
      }
    }
  }
  TransportProxy(const TransportProxy&) = delete;
  TransportProxy& operator=(const TransportProxy&) = delete;

  // Connects and attaches; the connection that attached holds the attachment.
  void Attach() {
    const WaitClock::time_point deadline = CallDeadline(setup_ms_);
    try {
      attach_ = ConnectUnixBounded(path_, SOCK_STREAM, deadline);
    } catch (const EnxOSError& e) {
      throw ERegistryCallError(kCallServerGone, e.what());
    }
    RegistryCall call;
    call.method = RegistryMethod::AttachTransport;
    call.callback = callback;
    server = CallOn(attach_.Get(), call, deadline).transport;
  }

  // Calls made after this fail at once, without touching the server.
  void Abandon() { abandoned_ = true; }

  // One call on an idle connection (or a new one); the connection goes back afterwards.
  // The answer is awaited until `deadline`. A connection on which the call failed is
  // dropped: an answer that comes late must not be taken for the next call's.
  RegistryReply Call(const RegistryCall& call, WaitClock::time_point deadline) {
    if (abandoned_)
      throw ERegistryCallError(kCallServerGone, "The server was given up.");
    FileDescriptor channel;
    {
      std::lock_guard<std::mutex> lock(idle_mutex_);
      if (!idle_.empty()) {
        channel = std::move(idle_.back());
        idle_.pop_back();
      }
    }
    if (!channel.Valid()) {
      try {
        channel = ConnectUnixBounded(path_, SOCK_STREAM, deadline);
      } catch (const EnxOSError& e) {
        throw ERegistryCallError(kCallServerGone, e.what());
      }
    }
    RegistryReply reply = CallOn(channel.Get(), call, deadline);
    std::lock_guard<std::mutex> lock(idle_mutex_);
    idle_.push_back(std::move(channel));
    return reply;
  }

  uint32_t SetupMs() const { return setup_ms_; }

  uint32_t mark;
  const uint32_t callback;  // the client's own callback object
  RegistryTransportRef server;

 private:
  RegistryReply CallOn(int fd, const RegistryCall& call, WaitClock::time_point deadline) const {
    RegistryReply reply;
    try {
      WriteRegistryMessage(fd, EncodeRegistryCall(call), deadline);
      reply = DecodeRegistryReply(call.method, ReadRegistryMessage(fd, max_length_, deadline));
    } catch (const EnxOSError& e) {
      throw ERegistryCallError(kCallServerGone, e.what());
    }
    if (reply.status != 0)
      throw ERegistryCallError(reply.status, "The call on the server failed with status $" +
                                                 HexStatus(reply.status) + ".");
    return reply;
  }

  static std::string HexStatus(uint32_t status) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 28; shift >= 0; shift -= 4)
      text += kHex[(status >> shift) & 15];
    return text;
  }

  const std::string path_;
  const uint32_t max_length_;
  const uint32_t setup_ms_;  // the own time-out of calls that have none
  std::atomic<bool> abandoned_{false};
  FileDescriptor attach_;
  std::mutex idle_mutex_;
  std::vector<FileDescriptor> idle_;
};

// One open session on a server.
class TnxRegisteredCOMTransport::ConnectionProxy {
 public:
  explicit ConnectionProxy(std::shared_ptr<TransportProxy> owner)
      : mark(kConnectionProxyMark),
        callback(g_next_callback.fetch_add(1)),
        owner_(std::move(owner)) {}

  // Freeing a proxy terminates the server's connection; failures are ignored.
  ~ConnectionProxy() {
    mark = 0;
    if (server == 0)
      return;
    RegistryCall call;
    call.method = RegistryMethod::TerminateConnection;
    call.transport = owner_->server;
    call.connection = server;
    try {
      owner_->Call(call, CallDeadline(owner_->SetupMs()));
    } catch (const std::exception&) {
      // The server or its transport is gone: the connection is gone with it.
    }
  }
  ConnectionProxy(const ConnectionProxy&) = delete;
  ConnectionProxy& operator=(const ConnectionProxy&) = delete;

  TransportProxy& Owner() const { return *owner_; }
  bool OwnedBy(const TransportProxy* proxy) const { return owner_.get() == proxy; }

  uint32_t mark;
  const uint32_t callback;
  uint32_t server = 0;  // the server's connection, 0 until established

 private:
  std::shared_ptr<TransportProxy> owner_;
};

// ---------------------------------------------------------------------------------------

TnxRegisteredCOMTransport::TnxRegisteredCOMTransport(std::string name)
    : TnxBaseTransport(std::move(name)) {}

TnxRegisteredCOMTransport::~TnxRegisteredCOMTransport() {
  Close();
  FreeAllProxies();
}

void TnxRegisteredCOMTransport::SetRuntimeFolder(const std::string& folder) {
  if (folder == runtime_folder_)
    return;
  CheckInactive();
  runtime_folder_ = folder;
}

std::string TnxRegisteredCOMTransport::EffectiveRuntimeFolder() const {
  return RuntimeDir(runtime_folder_);
}

size_t TnxRegisteredCOMTransport::TransportProxyCount() const {
  std::shared_lock<std::shared_mutex> lock(transports_mutex_);
  return transports_.size();
}

size_t TnxRegisteredCOMTransport::ConnectionProxyCount() const {
  std::shared_lock<std::shared_mutex> lock(connections_mutex_);
  return connections_.size();
}

void TnxRegisteredCOMTransport::GetServerNames(std::vector<std::string>& list,
                                               uint32_t /*timeout*/) {
  list.clear();
  for (const auto& [path, server] : RegistryEntries(EffectiveRuntimeFolder())) {
    // An entry that nobody answers on was left by a server that ended without removing it.
    if (UnixSocketAlive(path, SOCK_STREAM) &&
        std::find(list.begin(), list.end(), server) == list.end())
      list.push_back(server);
  }
}

std::string TnxRegisteredCOMTransport::FindServerEntry(const std::string& name) const {
  const std::string wanted = Win1252Upper(name);
  for (const auto& [path, server] : RegistryEntries(EffectiveRuntimeFolder())) {
    if (Win1252Upper(server) == wanted && UnixSocketAlive(path, SOCK_STREAM))
      return path;
  }
  return {};
}

void TnxRegisteredCOMTransport::DoStart() {
  if (Mode() == TnxTransportMode::Listening)
    RaiseCode(nxcode::kNotSupported);  // the server role belongs to the server program
  try {
    lost_ = false;
    ResetStatistics();
    if (ServerNameRuntime().empty())
      FindServer();
    const std::string path = FindServerEntry(ServerNameRuntime());
    if (path.empty())
      RaiseCode(nxcode::kCannotConnect);
    auto proxy = std::make_shared<TransportProxy>(path, max_message_length_, Timeout());
    {
      std::unique_lock<std::shared_mutex> lock(transports_mutex_);
      transports_.push_back(proxy);
    }
    try {
      proxy->Attach();
    } catch (...) {
      std::unique_lock<std::shared_mutex> lock(transports_mutex_);
      transports_.erase(std::find(transports_.begin(), transports_.end(), proxy));
      throw;
    }
  } catch (const EnxBaseException&) {
    throw;
  } catch (...) {
    uint32_t code = nxConvertException(std::current_exception(), this);
    if (code == nxcode::kOperatingSystemError || code == nxcode::kUnexpectedException)
      code = nxcode::kCannotConnect;
    RaiseCode(code);
  }
}

void TnxRegisteredCOMTransport::DoStop() {
  FreeAllProxies();
  lost_ = false;
}

void TnxRegisteredCOMTransport::Abandon() {
  lost_ = true;
  std::shared_lock<std::shared_mutex> lock(transports_mutex_);
  for (const std::shared_ptr<TransportProxy>& proxy : transports_)
    proxy->Abandon();
}

void TnxRegisteredCOMTransport::NoteFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ERegistryCallError& e) {
    if (e.Status() == kCallServerGone)
      lost_ = true;  // the server went away or stopped answering
  } catch (...) {
  }
}

void TnxRegisteredCOMTransport::FreeAllProxies() {
  {
    std::unique_lock<std::shared_mutex> lock(transports_mutex_);
    for (std::shared_ptr<TransportProxy>& proxy : transports_) {
      // The sessions of this attachment first, then the attachment itself.
      std::vector<std::shared_ptr<ConnectionProxy>> sessions;
      {
        std::unique_lock<std::shared_mutex> clock(connections_mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
          if (it->second->OwnedBy(proxy.get())) {
            sessions.push_back(std::move(it->second));
            it = connections_.erase(it);
          } else {
            ++it;
          }
        }
      }
      sessions.clear();
      proxy.reset();
    }
    transports_.clear();
  }
  std::map<uint32_t, std::shared_ptr<ConnectionProxy>> left;
  {
    std::unique_lock<std::shared_mutex> lock(connections_mutex_);
    left.swap(connections_);
  }
}

std::shared_ptr<TnxRegisteredCOMTransport::ConnectionProxy>
TnxRegisteredCOMTransport::FindConnection(uint32_t sessionId) const {
  std::shared_lock<std::shared_mutex> lock(connections_mutex_);
  auto it = connections_.find(sessionId);
  if (it == connections_.end() || it->second->mark != kConnectionProxyMark ||
      it->second->server == 0)
    return nullptr;
  return it->second;
}

uint32_t TnxRegisteredCOMTransport::EstablishSession(uint32_t transportId,
                                                     const std::string& userName,
                                                     const std::string& password, uint32_t timeout,
                                                     uint32_t& sessionId) {
  CheckStarted();
  sessionId = 0;
  if (transportId != 0)
    return nxcode::kInvalidHandle;
  std::shared_lock<std::shared_mutex> transports(transports_mutex_);
  if (transports_.empty() || transports_.front()->mark != kTransportProxyMark ||
      transports_.front()->server.id == 0)
    return nxcode::kLostCommunication;
  std::shared_ptr<TransportProxy> owner = transports_.front();

  const uint32_t handle = next_handle_.fetch_add(1);
  std::shared_ptr<ConnectionProxy> proxy;
  try {
    proxy = std::make_shared<ConnectionProxy>(owner);
    {
      std::unique_lock<std::shared_mutex> lock(connections_mutex_);
      connections_[handle] = proxy;
    }
    RegistryCall call;
    call.method = RegistryMethod::EstablishConnection;
    call.transport = owner->server;
    call.userName = WideFromWin1252(userName);
    call.password = WideFromWin1252(password);
    call.timeout = static_cast<int32_t>(timeout);
    call.callback = proxy->callback;
    call.clientVersion = kClientVersion;
    RegistryReply reply = owner->Call(call, CallDeadline(timeout));
    if (reply.error != 0) {
      proxy->server = reply.connection;  // terminated when the proxy is freed below
      std::unique_lock<std::shared_mutex> lock(connections_mutex_);
      connections_.erase(handle);
      return static_cast<uint32_t>(reply.error);
    }
    proxy->server = reply.connection;
    sessionId = handle;
    return 0;
  } catch (...) {
    NoteFailure(std::current_exception());
    std::unique_lock<std::shared_mutex> lock(connections_mutex_);
    connections_.erase(handle);
    return nxcode::kLostCommunication;
  }
}

void TnxRegisteredCOMTransport::Request(uint32_t transportId, uint32_t sessionId,
                                        uint32_t messageId, const char* data, uint32_t length,
                                        uint32_t timeout, TnxReplyCallback callback, void* cookie) {
  CheckStarted();
  if (transportId != 0) {
    callback(messageId, nxcode::kInvalidHandle, nullptr, 0, cookie);
    return;
  }
  uint32_t result = nxcode::kLostCommunication;
  uint32_t replyId = messageId;
  std::optional<Bytes> out;
  try {
    if (std::shared_ptr<ConnectionProxy> proxy = FindConnection(sessionId)) {
      RegistryCall call;
      call.method = RegistryMethod::Request;
      call.transport = proxy->Owner().server;
      call.connection = proxy->server;
      call.messageId = static_cast<int32_t>(messageId);
      call.timeout = static_cast<int32_t>(timeout);
      if (length > 0)
        call.data = Bytes(data, length);
      RegistryReply reply = proxy->Owner().Call(call, CallDeadline(timeout));
      replyId = static_cast<uint32_t>(reply.messageId);
      out = std::move(reply.data);
      result = static_cast<uint32_t>(reply.error);
      CountSent(length, length);
      if (result == 0)
        CountReceived(out ? out->size() : 0, out ? out->size() : 0);
    }
  } catch (...) {
    NoteFailure(std::current_exception());
    result = nxConvertException(std::current_exception(), this);
  }
  const bool none = !out || out->empty();
  callback(replyId, result, none ? nullptr : out->data(),
           none ? 0 : static_cast<uint32_t>(out->size()), cookie);
}

void TnxRegisteredCOMTransport::Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId,
                                     const char* data, uint32_t length, uint32_t timeout) {
  CheckStarted();
  if (transportId != 0)
    return;
  try {
    if (std::shared_ptr<ConnectionProxy> proxy = FindConnection(sessionId)) {
      RegistryCall call;
      call.method = RegistryMethod::Post;
      call.transport = proxy->Owner().server;
      call.connection = proxy->server;
      call.messageId = static_cast<int32_t>(messageId);
      call.timeout = static_cast<int32_t>(timeout);
      if (length > 0)
        call.data = Bytes(data, length);
      proxy->Owner().Call(call, CallDeadline(timeout));
      CountSent(length, length);
    }
  } catch (const std::exception&) {
    // A post has no result: its failure is dropped.
    NoteFailure(std::current_exception());
  }
}

void TnxRegisteredCOMTransport::CloseSession(uint32_t transportId, uint32_t sessionId,
                                             uint32_t /*timeout*/) {
  CheckStarted();
  if (transportId != 0)
    return;
  std::shared_ptr<ConnectionProxy> proxy;
  {
    std::unique_lock<std::shared_mutex> lock(connections_mutex_);
    auto it = connections_.find(sessionId);
    if (it == connections_.end() || it->second->mark != kConnectionProxyMark)
      return;
    proxy = std::move(it->second);
    connections_.erase(it);
  }
  // Freed here, outside the lock: this terminates the server's connection.
}

}  // namespace vantera
