#include "msglink/WSocket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#include "msglink/wsocket_resolve.h"

namespace vantera {
namespace {

// Most bytes taken from the system in one read, and most delivery passes per readiness
// notification, so that a fast sender cannot hold the GUI thread.
constexpr size_t kMaxReadSize = 65536;
constexpr int kMaxPassesPerNotification = 64;

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return s.substr(b, e - b);
}

bool IsConnectionLost(uint16_t code) {
  return code == 10022 || code == 10038 || code == 10053 || code == 10054 || code == 10057;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TCustomWSocket

TCustomWSocket::TCustomWSocket(QObject* parent) : QObject(parent) {}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  if (fd_ >= 0) {
    DropNotifiers();
    ::close(fd_);
    fd_ = -1;
  }
}

void TCustomWSocket::SetTextProperty(std::string& field, bool& resolved, const std::string& value,
                                     const char* name) {
  if (value == field)
    return;
  if (state_ != wsClosed)
    throw ESocketException(std::string("Cannot change ") + name + " if not closed");
  field = TrimBlanks(value);
  resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& value) {
  SetTextProperty(addr_, addr_resolved_, value, "Addr");
}
void TCustomWSocket::SetPort(const std::string& value) {
  SetTextProperty(port_, port_resolved_, value, "Port");
}
void TCustomWSocket::SetProto(const std::string& value) {
  // A service name resolves per protocol: a new protocol drops the ports' resolution too.
  std::string before = proto_;
  SetTextProperty(proto_, proto_resolved_, value, "Proto");
  if (proto_ != before)
    port_resolved_ = local_port_resolved_ = false;
}
void TCustomWSocket::SetLocalAddr(const std::string& value) {
  bool unused = false;
  SetTextProperty(local_addr_, unused, value, "LocalAddr");
}
void TCustomWSocket::SetLocalPort(const std::string& value) {
  SetTextProperty(local_port_, local_port_resolved_, value, "LocalPort");
}

size_t TCustomWSocket::BufferedByteCount() const {
  size_t n = 0;
  for (const Chunk& c : send_queue_)
    n += c.written - c.sent;
  return n;
}

void TCustomWSocket::Resolve() {
  if (!proto_resolved_) {
    proto_num_ = WSocketResolveProto(proto_);
    proto_resolved_ = true;
  }
  if (!port_resolved_) {
    sin_port_ = WSocketResolvePort(port_, proto_);
    port_resolved_ = true;
  }
  if (!local_port_resolved_) {
    local_port_num_ = WSocketResolvePort(local_port_.empty() ? "0" : local_port_, proto_);
    local_port_resolved_ = true;
  }
  if (!addr_resolved_) {
    sin_addr_ = WSocketResolveHost(addr_);
    addr_resolved_ = true;
  }
}

void TCustomWSocket::Connect() {
  if (fd_ >= 0 && state_ != wsClosed)
    throw ESocketException("Connect: Socket already in use");
  if (port_.empty())
    throw ESocketException("Connect: No Port Specified");
  if (addr_.empty())
    throw ESocketException("Connect: No IP Address Specified");
  if (proto_.empty())
    throw ESocketException("Connect: No Protocol Specified");
  try {
    Resolve();
  } catch (const ESocketException& e) {
    throw ESocketException(std::string("connect: ") + e.what(), e.code());
  }

  send_queue_.clear();
  data_sent_pending_ = false;
  ClearReceiveBuffer();
  int type = proto_num_ == IPPROTO_TCP ? SOCK_STREAM : SOCK_DGRAM;
  fd_ = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_num_);
  if (fd_ < 0) {
    last_error_ = WSocketCodeFromErrno(errno);
    throw ESocketException::FromCall(last_error_, "Connect (socket)");
  }
  state_ = wsOpened;
  close_invoked_ = false;

  // A failure from here on releases the socket again, so that the next Connect can start
  // afresh instead of finding the socket "already in use".
  auto fail = [this](const char* function) {
    last_error_ = WSocketCodeFromErrno(errno);
    ::close(fd_);
    fd_ = -1;
    DropNotifiers();
    state_ = wsClosed;
    throw ESocketException::FromCall(last_error_, function);
  };
  int on = 1;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    fail("setsockopt(SO_REUSEADDR)");
  if ((options_ & wsoTcpNoDelay) != 0 &&
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
    fail("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
  if (linger_onoff_ != wsLingerNoSet) {
    linger l{};
    l.l_onoff = linger_onoff_ == wsLingerOn ? 1 : 0;
    l.l_linger = linger_timeout_;
    if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
      fail("setsockopt(SO_LINGER)");
  }
  if (type == SOCK_STREAM && ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
    fail("setsockopt(SO_KEEPALIVE)");
  if (local_port_num_ != 0 || local_addr_ != "0.0.0.0") {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(local_port_num_);
    try {
      local.sin_addr = WSocketResolveHost(local_addr_.empty() ? "0.0.0.0" : local_addr_);
    } catch (const ESocketException& e) {
      ::close(fd_);
      fd_ = -1;
      state_ = wsClosed;
      throw ESocketException(std::string("connect: ") + e.what(), e.code());
    }
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
      fail("bind");
  }
  CreateNotifiers();

  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(sin_port_);
  remote.sin_addr = sin_addr_;
  int rc;
  do {
    rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS && errno != EAGAIN)
    fail("Connect");
  state_ = wsConnecting;
  WantWriteReady(true);  // connect completion shows as write-readiness
}

void TCustomWSocket::CreateNotifiers() {
  read_notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  QObject::connect(read_notifier_, &QSocketNotifier::activated, this,
                   [this] { HandleReadiness(true, false); });
  write_notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
  write_notifier_->setEnabled(false);
  QObject::connect(write_notifier_, &QSocketNotifier::activated, this,
                   [this] { HandleReadiness(false, true); });
}

void TCustomWSocket::DropNotifiers() {
  // A notifier may be the sender of the signal being handled: it is deleted later, by the
  // event loop or with this object, whichever comes first.
  for (QSocketNotifier** n : {&read_notifier_, &write_notifier_}) {
    if (*n == nullptr)
      continue;
    (*n)->setEnabled(false);
    QObject::disconnect(*n, nullptr, this, nullptr);
    (*n)->deleteLater();
    *n = nullptr;
  }
}

void TCustomWSocket::WantWriteReady(bool on) {
  if (write_notifier_ != nullptr && write_notifier_->isEnabled() != on)
    write_notifier_->setEnabled(on);
}

void TCustomWSocket::HandleReadiness(bool readable, bool writable) {
  try {
    if (fd_ < 0)
      return;
    if (state_ == wsConnecting) {
      int so_error = 0;
      socklen_t len = sizeof so_error;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0)
        so_error = errno;
      HandleConnectDone(WSocketCodeFromErrno(so_error));
      return;  // readiness is level-triggered: anything else shows again on the next turn
    }
    if (readable) {
      if (state_ != wsConnected) {
        state_ = wsConnected;
        if (OnSessionConnected)
          OnSessionConnected(*this, 0);
        if (fd_ < 0)
          return;
      }
      ReceiveLoop();
    }
    if (writable && fd_ >= 0) {
      TryToSend();
      if (fd_ >= 0 && send_queue_.empty()) {
        WantWriteReady(false);
        data_sent_pending_ = false;
        if (OnDataSent)
          OnDataSent(*this, 0);
      }
    }
  } catch (const std::exception& e) {
    HandleBgException(e);
  }
}

void TCustomWSocket::HandleConnectDone(uint16_t error) {
  state_ = wsConnected;
  last_error_ = error;
  if (error == 0)
    WantWriteReady(!send_queue_.empty() || data_sent_pending_);
  if (OnSessionConnected)
    OnSessionConnected(*this, error);
  if (error != 0 && state_ != wsClosed)
    Close();
}

void TCustomWSocket::ReceiveLoop() {
  bool eof = false;
  uint16_t error = 0;
  for (int pass = 0; pass < kMaxPassesPerNotification; ++pass) {
    try {
      DeliveryPass(true, eof, error);
    } catch (const std::exception&) {
      // A failing data handler ends this receive loop; its line is already gone. Complete
      // lines behind it are delivered by a queued pass rather than waiting for more data,
      // or at once by the close when this read found the connection ended.
      if (fd_ >= 0 && (eof || error != 0))
        HandlePeerClosed(error);
      else if (fd_ >= 0 && !rcv_buf_.empty())
        QueueDeliveryPass();
      return;
    }
    if (eof || error != 0 || fd_ < 0 || (options_ & wsoNoReceiveLoop) != 0)
      break;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0)
      break;
  }
  if ((eof || error != 0) && fd_ >= 0)
    HandlePeerClosed(error);
}

void TCustomWSocket::ReadIntoBuffer(bool& eof, uint16_t& error) {
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0)
    waiting = 255;
  size_t want = std::min(static_cast<size_t>(waiting), kMaxReadSize);
  size_t old = rcv_buf_.size();
  rcv_buf_.resize(old + want);
  ssize_t got;
  do {
    got = ::recv(fd_, rcv_buf_.data() + old, want, 0);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    rcv_buf_.resize(old + static_cast<size_t>(got));
    return;
  }
  rcv_buf_.resize(old);
  if (got == 0)
    eof = true;
  else if (errno != EAGAIN)
    error = last_error_ = WSocketCodeFromErrno(errno);
}

void TCustomWSocket::DeliveryPass(bool read_socket, bool& eof, uint16_t& error) {
  if (read_socket && fd_ >= 0)
    ReadIntoBuffer(eof, error);
  if (!rcv_buf_.empty())
    OfferData(rcv_buf_.size());
}

void TCustomWSocket::OfferData(size_t length) {
  offer_len_ = length;
  auto drop_untaken = [this] {
    if (offer_len_ > 0) {
      ConsumeFront(offer_len_);
      offer_len_ = 0;
    }
  };
  try {
    if (OnDataAvailable)
      OnDataAvailable(*this, 0);
  } catch (...) {
    drop_untaken();  // never offered twice, never joined to the next line
    throw;
  }
  drop_untaken();
}

std::string TCustomWSocket::ReceiveText() {
  if (offer_len_ == 0)
    return {};
  size_t n = std::min(offer_len_, rcv_buf_.size());
  std::string text = rcv_buf_.substr(0, n);
  ConsumeFront(n);
  offer_len_ = 0;
  return text;
}

void TCustomWSocket::ConsumeFront(size_t n) {
  rcv_buf_.erase(0, std::min(n, rcv_buf_.size()));
  searched_ = 0;
}

void TCustomWSocket::ClearReceiveBuffer() {
  rcv_buf_.clear();
  offer_len_ = 0;
  searched_ = 0;
}

void TCustomWSocket::QueueDeliveryPass() {
  if (pass_queued_)
    return;
  pass_queued_ = true;
  QMetaObject::invokeMethod(
      this, [this] { RunQueuedPass(); }, Qt::QueuedConnection);
}

void TCustomWSocket::RunQueuedPass() {
  pass_queued_ = false;
  bool eof = false;
  uint16_t error = 0;
  try {
    DeliveryPass(false, eof, error);
  } catch (const std::exception&) {
    // As in the receive loop: the failed line is gone; go on with the rest later.
    if (!rcv_buf_.empty())
      QueueDeliveryPass();
  }
}

void TCustomWSocket::HandlePeerClosed(uint16_t error) {
  if (state_ == wsConnecting)
    return;
  if (!close_invoked_) {
    close_invoked_ = true;
    TriggerSessionClosed(error);
  }
  if (state_ != wsClosed)
    InternalClose(true, 0);
}

void TCustomWSocket::TriggerSessionClosed(uint16_t error) {
  if (OnSessionClosed)
    OnSessionClosed(*this, error);
}

size_t TCustomWSocket::Send(const void* data, size_t length) {
  if (state_ != wsConnected)
    RaiseCallError(10057, "Send");
  const char* p = static_cast<const char*>(data);
  size_t left = length;
  while (left > 0) {
    if (send_queue_.empty() || send_queue_.back().written == kChunkSize)
      send_queue_.emplace_back();
    Chunk& c = send_queue_.back();
    size_t n = std::min(left, kChunkSize - c.written);
    std::copy(p, p + n, c.data.data() + c.written);
    c.written += n;
    p += n;
    left -= n;
  }
  TryToSend();
  if (fd_ >= 0 && send_queue_.empty()) {
    data_sent_pending_ = true;  // OnDataSent follows from the event loop
    WantWriteReady(true);
  }
  return length;
}

size_t TCustomWSocket::SendText(const std::string& text) {
  if (text.empty())
    return 0;
  return Send(text.data(), text.size());
}

void TCustomWSocket::TryToSend() {
  while (!send_queue_.empty() && fd_ >= 0) {
    Chunk& c = send_queue_.front();
    if (c.sent >= c.written) {
      send_queue_.pop_front();
      continue;
    }
    ssize_t n = ::send(fd_, c.data.data() + c.sent, c.written - c.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN) {
        WantWriteReady(true);
        return;
      }
      uint16_t code = last_error_ = WSocketCodeFromErrno(errno);
      if (IsConnectionLost(code)) {
        // The close is told once, with this code, unless it was told already: a send from
        // the handler of the last line, inside the peer's close, fails this way.
        bool raise = !close_invoked_;
        close_invoked_ = true;  // Close raises nothing; the event carries the code
        InternalClose(true, 0);
        if (raise)
          TriggerSessionClosed(code);
        return;
      }
      throw ESocketException::FromCall(code, "TryToSend failed");
    }
    c.sent += static_cast<size_t>(n);
    if (c.sent >= c.written)
      send_queue_.pop_front();
  }
}

void TCustomWSocket::RaiseCallError(uint16_t code, const std::string& function) {
  last_error_ = code;
  if ((code == 10054 || code == 10057) && state_ != wsClosed) {
    if (!close_invoked_) {
      close_invoked_ = true;
      TriggerSessionClosed(code);
    }
    InternalClose(false, 0);
  }
  throw ESocketException::FromCall(code, function);
}

void TCustomWSocket::Close() {
  InternalClose(true, 0);
}

void TCustomWSocket::Abort() {
  send_queue_.clear();
  data_sent_pending_ = false;
  if (state_ == wsConnected && fd_ >= 0) {
    linger l{};
    l.l_onoff = 0;
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  InternalClose(false, 0);
}

void TCustomWSocket::InternalClose(bool shutdown_first, uint16_t error) {
  if (fd_ < 0) {
    if (state_ != wsClosed) {
      state_ = wsClosed;
      RestoreDefaults();
    }
    return;
  }
  if (shutdown_first && state_ == wsConnected)
    ::shutdown(fd_, SHUT_WR);
  DropNotifiers();
  // close() of a socket we own fails only when interrupted, and the descriptor is released
  // even then: there is nothing to retry.
  ::close(fd_);
  fd_ = -1;
  send_queue_.clear();
  data_sent_pending_ = false;
  state_ = wsClosed;
  bool raise = !destroying_ && !close_invoked_;
  // Defaults are restored before the event, so that a handler which connects again keeps
  // the properties it sets.
  RestoreDefaults();
  if (raise) {
    close_invoked_ = true;
    TriggerSessionClosed(error);
  }
  if (fd_ < 0)
    ClearReceiveBuffer();
}

void TCustomWSocket::RestoreDefaults() {
  addr_.clear();
  port_.clear();
  proto_ = "tcp";
  local_addr_ = "0.0.0.0";
  local_port_ = "0";
  addr_resolved_ = port_resolved_ = proto_resolved_ = local_port_resolved_ = false;
  linger_onoff_ = wsLingerOn;
  linger_timeout_ = 0;
  // The closed-event flag stays set until the next Connect: cleared here, a close told
  // already could be told again by whoever closes next within the same connection.
}

void TCustomWSocket::HandleBgException(const std::exception& e) {
  bool can_close = true;
  try {
    if (OnBgException)
      OnBgException(*this, e, can_close);
  } catch (const std::exception&) {
    can_close = true;  // a failing handler leaves the default: abort
  }
  if (!can_close)
    return;
  try {
    Abort();
  } catch (const std::exception&) {
    // The close handler failed while aborting; the socket is closed by now and there is
    // nobody left to report to from inside the event loop.
  }
}

// ---------------------------------------------------------------------------------------
// TCustomLineWSocket

void TCustomLineWSocket::SetLineMode(bool on) {
  if (on == line_mode_)
    return;
  line_mode_ = on;
  if (!rcv_buf_.empty())
    QueueDeliveryPass();
}

void TCustomLineWSocket::DeliveryPass(bool read_socket, bool& eof, uint16_t& error) {
  if (!InLineMode()) {
    TCustomSocksWSocket::DeliveryPass(read_socket, eof, error);
    return;
  }
  if (read_socket)
    ReadIntoBuffer(eof, error);
  // The search starts where the previous one ended without a line end (a little before
  // it, for a line end split across two reads). Lines left in the buffer by a failing
  // handler reset that point, so they are found first and offered one by one.
  size_t from = std::min(searched_, rcv_buf_.size());
  while (InLineMode()) {
    size_t pos = rcv_buf_.find(line_end_, from);
    if (pos == std::string::npos)
      break;
    OfferData(pos + line_end_.size());
    from = 0;
  }
  if (!InLineMode())
    return;
  searched_ = rcv_buf_.size() >= line_end_.size() ? rcv_buf_.size() - line_end_.size() + 1 : 0;
  if (rcv_buf_.size() > line_limit_) {
    bool clear_data = true;
    if (OnLineLimitExceeded)
      OnLineLimitExceeded(*this, rcv_buf_.size(), clear_data);
    if (clear_data)
      ClearReceiveBuffer();
  }
}

void TCustomLineWSocket::SetLineEnd(const std::string& value) {
  line_end_ = value;
  searched_ = 0;
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t error) {
  // What is left is offered line by line, then the rest as a last line without line end.
  // A handler that fails loses its own line only: every pass removes at least the line it
  // offered, so the loop ends.
  while (InLineMode() && !rcv_buf_.empty() && !destroying_) {
    try {
      bool eof = false;
      uint16_t unused = 0;
      DeliveryPass(false, eof, unused);  // complete lines first
      if (InLineMode() && !rcv_buf_.empty())
        OfferData(rcv_buf_.size());  // then what is left
      break;
    } catch (const std::exception&) {
      // That line is gone; go on with the next.
    }
  }
  ClearReceiveBuffer();
  TCustomSocksWSocket::TriggerSessionClosed(error);
}

}  // namespace vantera
