#include "dbconn/nxptBasePooledTransport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <utility>

#include "core/win1252.h"
#include "protocol/login_block.h"
#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/nxllErrors.h"

namespace vantera {

namespace {

std::mutex g_runner_mutex;
std::function<void(const std::function<void()>&)> g_main_thread_runner;

std::mutex g_compressor_mutex;
std::array<std::shared_ptr<TnxCompressor>, 256> g_compressors;

// How many connections one heartbeat may try before it gives up.
constexpr int kHeartbeatTries = 8;

// The deadline of a wait with its own time-out `ms` and the margin.
WaitClock::time_point BoundAfter(uint32_t ms, uint32_t margin) {
  return WaitClock::now() + std::chrono::milliseconds(uint64_t{ms} + margin);
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return Win1252Upper(a) < Win1252Upper(b);
}

// Tracks whether the caller's reply callback has run, so that a failure after it (the
// callback's own exception) does not call it a second time.
struct ReplyTracker {
  TnxReplyCallback callback;
  void* cookie;
  bool delivered = false;

  static void Deliver(uint32_t messageId, uint32_t errorCode, const char* data, uint32_t length,
                      void* self) {
    auto* t = static_cast<ReplyTracker*>(self);
    t->delivered = true;
    t->callback(messageId, errorCode, data, length, t->cookie);
  }
};

}  // namespace

void AddSortedServerName(std::vector<std::string>& list, const std::string& name) {
  auto it = std::lower_bound(list.begin(), list.end(), name, LessIgnoringCase);
  if (it != list.end() && Win1252Upper(*it) == Win1252Upper(name))
    return;
  list.insert(it, name);
}

// ---------------------------------------------------------------------------------------
// TnxBaseTransport

TnxBaseTransport::TnxBaseTransport(std::string name) : TnxStateComponent(std::move(name)) {}

TnxBaseTransport::~TnxBaseTransport() = default;

void TnxBaseTransport::SetServerNameRuntime(const std::string& name) {
  if (name == server_name_)
    return;
  CheckInactive();
  server_name_ = name;
}

void TnxBaseTransport::SetMode(TnxTransportMode mode) {
  if (mode == mode_)
    return;
  CheckInactive();
  mode_ = mode;
}

void TnxBaseTransport::GetServerNames(std::vector<std::string>& list, uint32_t /*timeout*/) {
  list.clear();
}

void TnxBaseTransport::SetMainThreadRunner(
    std::function<void(const std::function<void()>&)> runner) {
  std::lock_guard<std::mutex> lock(g_runner_mutex);
  g_main_thread_runner = std::move(runner);
}

void TnxBaseTransport::FindServer() {
  std::function<void(const std::function<void()>&)> runner;
  {
    std::lock_guard<std::mutex> lock(g_runner_mutex);
    runner = g_main_thread_runner;
  }
  if (!runner) {
    RunServerChoice();
    return;
  }
  std::exception_ptr failure;
  runner([&] {
    try {
      RunServerChoice();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure)
    std::rethrow_exception(failure);
}

void TnxBaseTransport::RunServerChoice() {
  std::vector<std::string> found;
  if (OnFindServers)
    OnFindServers(*this, true);
  try {
    GetServerNames(found, timeout_);
  } catch (...) {
    if (OnFindServers)
      OnFindServers(*this, false);
    throw;
  }
  if (OnFindServers)
    OnFindServers(*this, false);

  std::vector<std::string> names;
  for (const std::string& n : found)
    AddSortedServerName(names, n);

  std::string chosen;
  if (names.size() == 1) {
    chosen = names.front();
  } else if (names.size() > 1) {
    std::string picked;
    bool result = false;
    if (OnChooseServer)
      OnChooseServer(*this, names, picked, result);
    chosen = result ? picked : names.front();
  }
  // Set directly: the transport is between states while it starts.
  server_name_ = chosen;
  if (server_name_.empty())
    RaiseCode(mode_ == TnxTransportMode::Client ? nxcode::kCannotConnect
                                                : nxcode::kServerNameNotSet);
}

TnxTransportStatistics TnxBaseTransport::Statistics() const {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  return stats_;
}

void TnxBaseTransport::CountSent(uint64_t wireBytes, uint64_t plainBytes) {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  ++stats_.messagesSent;
  stats_.bytesSent += wireBytes;
  stats_.uncompressedBytesSent += plainBytes;
}

void TnxBaseTransport::CountReceived(uint64_t wireBytes, uint64_t plainBytes) {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  ++stats_.messagesReceived;
  stats_.bytesReceived += wireBytes;
  stats_.uncompressedBytesReceived += plainBytes;
}

void TnxBaseTransport::ResetStatistics() {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  stats_ = {};
}

void TnxBaseTransport::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxTransportException(this, text, code);
}

void TnxBaseTransport::RaiseCode(uint32_t code) const {
  RaiseError(nxErrorText(code), code);
  std::terminate();  // not reached: RaiseError always throws
}

// ---------------------------------------------------------------------------------------
// TnxBasePooledConnection

TnxBasePooledConnection::TnxBasePooledConnection(TnxBasePooledTransport& transport)
    : transport_(transport),
      generation_(transport.CurrentGeneration()),
      deadline_(BoundAfter(transport.Timeout(), transport.WaitMargin())) {}

TnxBasePooledConnection::~TnxBasePooledConnection() {
  Detach();
}

void TnxBasePooledConnection::Detach() {
  if (attached_) {
    attached_ = false;
    transport_.RemoveConnection(this);
  }
}

// ---------------------------------------------------------------------------------------
// TnxBasePooledTransport

TnxBasePooledTransport::TnxBasePooledTransport(std::string name)
    : TnxBaseTransport(std::move(name)),
      login_cipher_(std::make_unique<TnxBlowFishRC4>(std::string(kLoginCipherKey))) {}

TnxBasePooledTransport::~TnxBasePooledTransport() {
  Close();
}

void TnxBasePooledTransport::SetPort(uint16_t port) {
  if (port == port_)
    return;
  CheckInactive();
  port_ = port;
}

void TnxBasePooledTransport::SetHeartbeatInterval(uint32_t ms) {
  if (ms == heartbeat_interval_)
    return;
  CheckInactiveOrStopped();
  heartbeat_interval_ = ms;
}

void TnxBasePooledTransport::SetCallbackThreadCount(uint8_t n) {
  if (n == callback_thread_count_)
    return;
  CheckInactiveOrStopped();
  callback_thread_count_ = n;
}

uint32_t TnxBasePooledTransport::SetupBound() const {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{Timeout()} + wait_margin_, UINT32_MAX));
}

bool TnxBasePooledTransport::IsConnected() const {
  std::lock_guard<std::mutex> lock(list_mutex_);
  return !connections_.empty();
}

size_t TnxBasePooledTransport::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(list_mutex_);
  return connections_.size();
}

size_t TnxBasePooledTransport::IdleConnectionCount() const {
  std::lock_guard<std::mutex> lock(pool_mutex_);
  return idle_.size();
}

bool TnxBasePooledTransport::HeartbeatRunning() const {
  return heartbeat_ && heartbeat_->Running();
}

void TnxBasePooledTransport::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxPooledTransportException(this, text, code);
}

void TnxBasePooledTransport::RegisterCompressor(uint8_t type,
                                                std::shared_ptr<TnxCompressor> compressor) {
  std::lock_guard<std::mutex> lock(g_compressor_mutex);
  g_compressors[type] = std::move(compressor);
}

std::shared_ptr<TnxCompressor> TnxBasePooledTransport::Compressor(uint8_t type) {
  std::lock_guard<std::mutex> lock(g_compressor_mutex);
  return type == 0 ? nullptr : g_compressors[type];
}

bool TnxBasePooledTransport::AddConnection(TnxBasePooledConnection* connection,
                                           uint64_t generation) {
  std::lock_guard<std::mutex> lock(list_mutex_);
  // A stop bumps the generation before it closes the listed connections: a connection
  // listed here before the bump is closed by it, one that comes after is refused.
  if (!open_ || generation != CurrentGeneration())
    return false;
  connection->generation_ = generation;
  connection->attached_ = true;
  connections_.push_back(connection);
  return true;
}

void TnxBasePooledTransport::RemoveConnection(TnxBasePooledConnection* connection) {
  std::lock_guard<std::mutex> lock(list_mutex_);
  auto it = std::find(connections_.begin(), connections_.end(), connection);
  if (it != connections_.end())
    connections_.erase(it);
}

// ---- start and stop ----

void TnxBasePooledTransport::DoStart() {
  if (Mode() == TnxTransportMode::Listening) {
    // The listening role is the server program's; this library is the client.
    RaiseCode(ServerNameRuntime().empty() ? nxcode::kServerNameNotSet : nxcode::kNotSupported);
  }
  try {
    failed_ = false;
    broken_ = false;
    transport_id_ = 0;
    {
      std::lock_guard<std::mutex> lock(pool_mutex_);
      open_ = true;
    }
    ResetStatistics();
    if (ServerNameRuntime().empty())
      FindServer();
    std::unique_ptr<TnxBasePooledConnection> first = GetConnection();
    if (callback_thread_count_ != 0)
      RaiseCode(nxcode::kNotSupported);  // no server-to-client callbacks are served
    if (heartbeat_interval_ != 0) {
      heartbeat_ = std::make_unique<TnxHeartbeatThread>(*this);
      heartbeat_->Start();
    }
    ReleaseConnection(std::move(first));
  } catch (const EnxAbort&) {
    // A connection closed under us: nothing to report.
  } catch (const EnxBaseException&) {
    StopClient();  // a failed start leaves no thread or connection behind
    throw;
  } catch (...) {
    StopClient();
    uint32_t code = nxConvertException(std::current_exception(), this);
    if (code == nxcode::kOperatingSystemError || code == nxcode::kUnexpectedException)
      code = nxcode::kCannotConnect;
    RaiseCode(code);
  }
}

void TnxBasePooledTransport::DoStop() {
  StopClient();
}

void TnxBasePooledTransport::StopClient() {
  // Connections still in use by a request of another thread belong to the old start: they
  // are closed now and destroyed by their user instead of returning to the pool. The
  // heartbeat is stopped after the close, so that a wait of its own ends at once.
  std::vector<std::unique_ptr<TnxBasePooledConnection>> idle;
  {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    open_ = false;
    generation_.fetch_add(1);
    idle.swap(idle_);
  }
  idle.clear();
  {
    std::lock_guard<std::mutex> lock(list_mutex_);
    for (TnxBasePooledConnection* c : connections_)
      c->Close();
  }
  if (heartbeat_) {
    heartbeat_->Stop();
    heartbeat_.reset();
  }
  {
    std::lock_guard<std::mutex> lock(handshake_mutex_);
    transport_id_ = 0;
    transport_key_ = 0;
  }
  failed_ = false;
  broken_ = false;
}

// ---- connections ----

std::unique_ptr<TnxBasePooledConnection> TnxBasePooledTransport::GetConnection() {
  std::unique_ptr<TnxBasePooledConnection> stale;  // destroyed outside the lock
  {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    while (!idle_.empty()) {
      std::unique_ptr<TnxBasePooledConnection> c = std::move(idle_.back());
      idle_.pop_back();
      if (open_ && c->Generation() == CurrentGeneration())
        return c;
      stale = std::move(c);  // cannot happen while the pool is kept as above
    }
  }
  stale.reset();
  if (failed_ || !open_)
    RaiseCode(nxcode::kLostCommunication);

  const uint64_t generation = CurrentGeneration();
  std::unique_ptr<TnxBasePooledConnection> connection;
  for (int attempt = 1; !connection; ++attempt) {
    try {
      connection = CreateConnection();
    } catch (...) {
      if (attempt >= 4) {
        if (generation == CurrentGeneration())
          failed_ = true;
        RaiseCode(transport_id_ == 0 ? nxcode::kCannotConnect : nxcode::kLostCommunication);
      }
    }
  }
  // Connected after a stop: closed again at once, it never handshakes.
  if (!AddConnection(connection.get(), generation))
    RaiseCode(nxcode::kLostCommunication);
  try {
    Handshake(*connection);
  } catch (...) {
    if (generation == CurrentGeneration())
      failed_ = true;  // a stop in between is no failure of the new start
    connection.reset();
    throw;
  }
  return connection;
}

void TnxBasePooledTransport::Handshake(TnxBasePooledConnection& connection) {
  connection.SetDeadline(BoundAfter(Timeout(), wait_margin_));
  auto attach = [&](uint32_t id) {
    FrameHeader h;
    h.transportId = id;
    h.kind = mkAttachConnection;
    char key[4];
    EncodeFixed32(key, transport_key_.load());
    connection.SendMessage(h, key, sizeof key);
    FrameHeader answer;
    size_t copied = 0;
    connection.ReceiveInto(answer, nullptr, 0, copied);
    if (answer.kind != mkTransportAccepted || answer.errorCode != 0)
      RaiseCode(nxcode::kLostCommunication);
  };

  if (uint32_t id = transport_id_.load())
    return attach(id);
  std::lock_guard<std::mutex> lock(handshake_mutex_);
  if (uint32_t id = transport_id_.load())
    return attach(id);

  FrameHeader h;
  h.kind = mkOpenTransport;
  char interval[4];
  EncodeFixed32(interval, heartbeat_interval_);
  connection.SendMessage(h, interval, sizeof interval);
  FrameHeader answer;
  char key[4] = {0, 0, 0, 0};
  size_t copied = 0;
  connection.ReceiveInto(answer, key, sizeof key, copied);
  if (answer.kind != mkTransportAccepted || answer.errorCode != 0)
    RaiseCode(nxcode::kCannotConnect);
  if (connection.Generation() != CurrentGeneration())
    RaiseCode(nxcode::kLostCommunication);  // the transport stopped meanwhile
  transport_key_ = DecodeFixed32(key);
  transport_id_ = answer.transportId;
}

void TnxBasePooledTransport::ReleaseConnection(
    std::unique_ptr<TnxBasePooledConnection> connection) {
  if (!connection)
    return;
  {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    if (open_ && connection->Generation() == CurrentGeneration()) {
      idle_.push_back(std::move(connection));
      return;
    }
  }
  // Destroyed here, outside the lock: the transport stopped while it was in use.
}

void TnxBasePooledTransport::SendPayload(TnxBasePooledConnection& connection, FrameHeader header,
                                         const char* data, size_t length) {
  if (compress_type_ != 0 && length > compress_limit_) {
    if (std::shared_ptr<TnxCompressor> compressor = Compressor(compress_type_)) {
      std::vector<char> out(((length / 16) + 2) * 16);
      size_t n = compressor->Compress(data, length, out.data(), out.size());
      if (n > 0 && n < length) {
        header.uncompressedLength = static_cast<uint32_t>(length);
        connection.SendMessage(header, out.data(), n);
        return;
      }
    }
  }
  header.uncompressedLength = 0;
  connection.SendMessage(header, data, length);
}

// ---- the four operations ----

uint32_t TnxBasePooledTransport::EstablishSession(uint32_t transportId, const std::string& userName,
                                                  const std::string& password, uint32_t timeout,
                                                  uint32_t& sessionId) {
  CheckStarted();
  if (transportId != 0)
    return nxcode::kInvalidHandle;
  if (failed_)
    return nxcode::kLostCommunication;
  sessionId = 0;
  std::unique_ptr<TnxBasePooledConnection> connection;
  try {
    connection = GetConnection();
  } catch (...) {
    return nxConvertException(std::current_exception(), this);
  }
  uint32_t result = 0;
  try {
    connection->SetDeadline(BoundAfter(timeout, wait_margin_));
    Bytes block;
    {
      std::lock_guard<std::mutex> lock(login_mutex_);
      block = SealLoginBlock(*login_cipher_, std::string_view(userName).substr(0, 255),
                             std::string_view(password).substr(0, 255), timeout);
    }
    FrameHeader h;
    h.transportId = transport_id_;
    h.messageId = 1;
    h.kind = mkOpenSession;
    connection->SendMessage(h, block.data(), block.size());
    FrameHeader answer;
    char reply[8] = {};
    size_t copied = 0;
    connection->ReceiveInto(answer, reply, sizeof reply, copied);
    if (answer.kind != mkSessionOpened || answer.messageId != 1) {
      result = nxcode::kLostCommunication;
    } else {
      result = answer.errorCode;
      if (result == 0)
        sessionId = DecodeFixed32(reply);
    }
  } catch (...) {
    broken_ = true;
    return nxcode::kLostCommunication;  // the connection is destroyed on the way out
  }
  ReleaseConnection(std::move(connection));
  return result;
}

void TnxBasePooledTransport::Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId,
                                     const char* data, uint32_t length, uint32_t timeout,
                                     TnxReplyCallback callback, void* cookie) {
  CheckStarted();
  if (transportId != 0) {
    callback(messageId, nxcode::kInvalidHandle, nullptr, 0, cookie);
    return;
  }
  if (failed_) {
    callback(messageId, nxcode::kLostCommunication, nullptr, 0, cookie);
    return;
  }
  ReplyTracker tracker{callback, cookie};
  std::unique_ptr<TnxBasePooledConnection> connection;
  try {
    connection = GetConnection();
    // The server is waited for as long as the request may take there, and the margin.
    connection->SetDeadline(BoundAfter(timeout, wait_margin_));
    FrameHeader h;
    h.transportId = transport_id_;
    h.sessionId = sessionId;
    h.messageId = messageId;
    h.kind = mkRequest;
    SendPayload(*connection, h, data, length);
    connection->ReceiveReply(&ReplyTracker::Deliver, &tracker);
  } catch (...) {
    if (tracker.delivered) {
      connection.reset();
      throw;  // the caller's own callback failed; it must not be called again
    }
    if (connection)
      broken_ = true;  // the connection broke or the server did not answer in time
    connection.reset();
    callback(messageId, nxcode::kLostCommunication, nullptr, 0, cookie);
    return;
  }
  ReleaseConnection(std::move(connection));
}

void TnxBasePooledTransport::Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId,
                                  const char* data, uint32_t length, uint32_t /*timeout*/) {
  CheckStarted();
  if (transportId != 0 || failed_)
    return;
  std::unique_ptr<TnxBasePooledConnection> connection;
  try {
    connection = GetConnection();
    connection->SetDeadline(BoundAfter(Timeout(), wait_margin_));
    FrameHeader h;
    h.transportId = transport_id_;
    h.sessionId = sessionId;
    h.messageId = messageId;
    h.kind = mkPost;
    SendPayload(*connection, h, data, length);
  } catch (...) {
    if (connection)
      broken_ = true;
    return;  // dropped; the connection is destroyed
  }
  ReleaseConnection(std::move(connection));
}

void TnxBasePooledTransport::CloseSession(uint32_t transportId, uint32_t sessionId,
                                          uint32_t /*timeout*/) {
  CheckStarted();
  if (transportId != 0 || failed_ || !IsConnected())
    return;
  std::unique_ptr<TnxBasePooledConnection> connection;
  try {
    connection = GetConnection();
    connection->SetDeadline(BoundAfter(Timeout(), wait_margin_));
    FrameHeader h;
    h.transportId = transport_id_;
    h.sessionId = sessionId;
    h.kind = mkCloseSession;
    connection->SendMessage(h, nullptr, 0);
  } catch (...) {
    return;
  }
  ReleaseConnection(std::move(connection));
}

// ---- replies ----

void TnxBasePooledTransport::HandleReply(const FrameHeader& header, const char* payload,
                                         size_t length, TnxReplyCallback callback, void* cookie) {
  if (header.kind != mkReply) {
    callback(header.messageId, nxcode::kLostCommunication, nullptr, 0, cookie);
    return;
  }
  if (header.IsCompressed()) {
    std::shared_ptr<TnxCompressor> compressor = Compressor(header.compressType);
    if (!compressor)
      RaiseError("Unknown CompressType \"" + std::to_string(header.compressType) + "\"");
    if (header.uncompressedLength > max_message_length_)
      RaiseCode(nxcode::kLostCommunication);
    std::vector<char> plain(header.uncompressedLength);
    compressor->Decompress(payload, length, plain.data(), plain.size());
    DeliverReply(header, plain.data(), plain.size(), callback, cookie);
    return;
  }
  DeliverReply(header, payload, length, callback, cookie);
}

void TnxBasePooledTransport::DeliverReply(const FrameHeader& header, const char* payload,
                                          size_t length, TnxReplyCallback callback, void* cookie) {
  if (header.errorCode == 0)
    CountReceived(header.totalLength, length);
  callback(header.messageId, header.errorCode, length ? payload : nullptr,
           static_cast<uint32_t>(length), cookie);
}

// ---- heartbeat ----

void TnxBasePooledTransport::SendHeartbeat() {
  for (int tries = 1; !failed_; ++tries) {
    std::unique_ptr<TnxBasePooledConnection> connection = GetConnection();
    try {
      connection->SetDeadline(BoundAfter(Timeout(), wait_margin_));
      FrameHeader h;
      h.transportId = transport_id_;
      h.kind = mkHeartbeat;
      connection->SendMessage(h, nullptr, 0);
    } catch (...) {
      broken_ = true;  // a connection that cannot carry 32 bytes is lost
      connection.reset();
      if (tries >= kHeartbeatTries)
        throw;
      continue;
    }
    ReleaseConnection(std::move(connection));
    return;
  }
}

TnxHeartbeatThread::TnxHeartbeatThread(TnxBasePooledTransport& transport) : transport_(transport) {}

TnxHeartbeatThread::~TnxHeartbeatThread() {
  Stop();
}

void TnxHeartbeatThread::Start() {
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return first_done_; });
}

void TnxHeartbeatThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

void TnxHeartbeatThread::Run() {
  int failures = 0;
  auto beat = [&] {
    try {
      transport_.SendHeartbeat();
    } catch (...) {
      ++failures;
    }
  };
  beat();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first_done_ = true;
  }
  cv_.notify_all();
  const auto interval = std::chrono::milliseconds(transport_.HeartbeatInterval());
  while (failures <= 10) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (cv_.wait_for(lock, interval, [this] { return stop_; }))
      break;
    lock.unlock();
    beat();
  }
  running_ = false;
}

}  // namespace vantera
