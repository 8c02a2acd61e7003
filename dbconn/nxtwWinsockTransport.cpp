#include "dbconn/nxtwWinsockTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "protocol/bounded_wait.h"
#include "protocol/discovery_datagrams.h"
#include "protocol/gather_write.h"
#include "protocol/winsock_errors.h"

namespace vantera {

namespace {

constexpr int kSocketBufferSize = 65535;

void SetIntOption(int fd, int level, int name, int value) {
  if (setsockopt(fd, level, name, &value, sizeof value) != 0)
    RaiseLastSocketError();
}

void SetLingerZero(int fd) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
    RaiseLastSocketError();
}

// Owns a socket until released.
class SocketGuard {
 public:
  explicit SocketGuard(int fd) : fd_(fd) {}
  ~SocketGuard() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  SocketGuard(const SocketGuard&) = delete;
  SocketGuard& operator=(const SocketGuard&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Parses a dotted IPv4 address (the classic forms "a.b.c.d", "a.b.c", "a.b", "a").
bool ParseDotted(const std::string& text, in_addr* out) {
  return !text.empty() && inet_aton(text.c_str(), out) != 0;
}

sockaddr_in MakeAddress(in_addr address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = address;
  return sa;
}

int OpenDatagramSocket() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0)
    RaiseLastSocketError();
  return fd;
}

void ConfigureDatagramSocket(int fd) {
  SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  SetLingerZero(fd);
  SetIntOption(fd, SOL_SOCKET, SO_SNDBUF, kSocketBufferSize);
  SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, kSocketBufferSize);
}

sockaddr* AsSockaddr(sockaddr_in* sa) {
  return reinterpret_cast<sockaddr*>(sa);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TnxWinsockTransport

TnxWinsockTransport::TnxWinsockTransport(std::string name)
    : TnxBasePooledTransport(std::move(name)) {}

TnxWinsockTransport::~TnxWinsockTransport() {
  Close();
}

void TnxWinsockTransport::SetBroadcastAddress(const std::string& address) {
  if (address == broadcast_address_)
    return;
  CheckInactive();
  broadcast_address_ = address;
}

void TnxWinsockTransport::SetLocalAddresses(std::vector<std::string> addresses) {
  if (addresses == local_addresses_)
    return;
  CheckInactive();
  local_addresses_ = std::move(addresses);
}

std::string TnxWinsockTransport::AddressOfServerName(const std::string& serverName) {
  size_t at = serverName.find('@');
  return at == std::string::npos ? serverName : serverName.substr(at + 1);
}

uint32_t TnxWinsockTransport::DiscoveryWait(uint32_t timeout) {
  return std::min<uint32_t>(1500, std::max<uint32_t>(timeout, 300));
}

std::unique_ptr<TnxBasePooledConnection> TnxWinsockTransport::CreateConnection() {
  return std::make_unique<TnxWinsockClientConnection>(*this);
}

std::vector<std::string> TnxWinsockTransport::HostAddresses() {
  char host[200] = {};
  if (gethostname(host, sizeof host - 1) != 0)
    RaiseLastSocketError();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  std::vector<std::string> addresses;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0)
    return addresses;  // an unresolvable own name finds no server
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    sockaddr_in sa{};
    std::memcpy(&sa, ai->ai_addr, sizeof sa);
    std::string dotted = DottedAddress(ntohl(sa.sin_addr.s_addr));
    if (std::find(addresses.begin(), addresses.end(), dotted) == addresses.end())
      addresses.push_back(dotted);
  }
  freeaddrinfo(found);
  return addresses;
}

void TnxWinsockTransport::GetServerNames(std::vector<std::string>& list, uint32_t timeout) {
  list.clear();
  std::vector<std::string> own = local_addresses_.empty() ? HostAddresses() : local_addresses_;
  const uint32_t wait = DiscoveryWait(timeout);
  for (const std::string& address : own) {
    for (const std::string& name : DiscoverFrom(address, wait))
      AddSortedServerName(list, name);
  }
}

std::vector<std::string> TnxWinsockTransport::DiscoverFrom(const std::string& ownAddress,
                                                           uint32_t wait) {
  in_addr own{};
  if (!ParseDotted(ownAddress, &own))
    RaiseSocketError(wsa::kEINVAL);
  in_addr target{};
  if (!ParseDotted(broadcast_address_, &target))
    RaiseSocketError(wsa::kEINVAL);

  SocketGuard query(OpenDatagramSocket());
  ConfigureDatagramSocket(query.get());
  sockaddr_in bindAddress = MakeAddress(own, Port());
  if (::bind(query.get(), AsSockaddr(&bindAddress), sizeof bindAddress) != 0)
    RaiseLastSocketError();
  SetIntOption(query.get(), SOL_SOCKET, SO_BROADCAST, 1);

  TnxWinsockClientBroadcastThread listener(static_cast<uint16_t>(Port() + 1), GetEventLog());
  listener.Start();
  sockaddr_in to = MakeAddress(target, Port());
  for (int i = 0; i < 3; ++i) {
    // A query that cannot be sent simply reaches no server.
    (void)::sendto(query.get(), kDiscoveryQuery.data(), kDiscoveryQuery.size(), MSG_NOSIGNAL,
                   AsSockaddr(&to), sizeof to);
    std::this_thread::sleep_for(std::chrono::milliseconds(wait / 3));
  }
  listener.Stop();
  return listener.Names();
}

// ---------------------------------------------------------------------------------------
// TnxWinsockClientConnection

TnxWinsockClientConnection::TnxWinsockClientConnection(TnxWinsockTransport& transport)
    : TnxBasePooledConnection(transport), winsock_(transport) {
  // The socket stays non-blocking: every wait on it is a poll with the deadline.
  SocketGuard fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (fd.get() < 0)
    RaiseLastSocketError();

  const std::string host = TnxWinsockTransport::AddressOfServerName(transport.ServerNameRuntime());
  in_addr address{};
  if (!ParseDotted(host, &address)) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
      // Connecting to 0.0.0.0 would reach this machine on this platform; a name that does
      // not resolve fails here instead.
      RaiseSocketError(wsa::kHOST_NOT_FOUND);
    }
    sockaddr_in sa{};
    std::memcpy(&sa, found->ai_addr, sizeof sa);
    address = sa.sin_addr;
    freeaddrinfo(found);
  }

  sockaddr_in to = MakeAddress(address, transport.Port());
  for (int retries = 0;; ++retries) {
    if (::connect(fd.get(), AsSockaddr(&to), sizeof to) == 0)
      break;
    int err = errno;
    if (err == EISCONN)
      break;
    if (err == EINPROGRESS) {
      // A server that does not answer the connect is given up at the deadline.
      if (!WaitForSocket(fd.get(), POLLOUT, Deadline()))
        RaiseSocketError(wsa::kETIMEDOUT);
      socklen_t length = sizeof err;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &length) != 0)
        RaiseLastSocketError();
      if (err == 0)
        break;
    }
    if ((err == EALREADY || err == EINTR) && retries < 4) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    RaiseSocketError(WinsockCodeFromErrno(err));
  }

  // Nagle stays on: every frame is one write anyway.
  SetIntOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 0);
  SetLingerZero(fd.get());
  SetIntOption(fd.get(), SOL_SOCKET, SO_SNDBUF, kSocketBufferSize);
  SetIntOption(fd.get(), SOL_SOCKET, SO_RCVBUF, kSocketBufferSize);
  buffer_.resize(kBufferSize);
  fd_ = fd.release();
}

TnxWinsockClientConnection::~TnxWinsockClientConnection() {
  Detach();
  Close();
  if (fd_ >= 0)
    ::close(fd_);
}

void TnxWinsockClientConnection::Close() {
  closing_ = true;
  if (fd_ >= 0)
    ::shutdown(fd_, SHUT_RDWR);  // ends a pending read; the descriptor is freed on destruction
}

void TnxWinsockClientConnection::SendMessage(FrameHeader header, const char* data, size_t length) {
  header.SetPayloadLength(length);
  header.pipeMessageCount = 0;
  header.compressType = winsock_.CompressType();
  char head[FrameHeader::kSize];
  header.EncodeTo(head);

  iovec parts[2];
  parts[0].iov_base = head;
  parts[0].iov_len = sizeof head;
  parts[1].iov_base = const_cast<char*>(data);
  parts[1].iov_len = length;
  msghdr msg{};
  msg.msg_iov = parts;
  msg.msg_iovlen = length ? 2 : 1;
  size_t left = sizeof head + length;
  while (left > 0) {
    ssize_t sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!WaitForSocket(fd_, POLLOUT, Deadline()))
          RaiseSocketError(wsa::kETIMEDOUT, closing_);  // the server takes nothing more
        continue;
      }
      RaiseLastSocketError(closing_);
    }
    left -= static_cast<size_t>(sent);
    SkipSentBytes(msg, static_cast<size_t>(sent));
  }
  winsock_.CountMessageSent(sizeof head + length,
                            header.uncompressedLength ? header.uncompressedLength : length);
}

void TnxWinsockClientConnection::ReadExact(char* dst, size_t n, bool retryNoBuffers) {
  while (n > 0) {
    ssize_t got = ::recv(fd_, dst, n, MSG_DONTWAIT);
    if (got > 0) {
      dst += got;
      n -= static_cast<size_t>(got);
      continue;
    }
    if (got == 0)
      RaiseSocketError(wsa::kEDISCON, closing_);  // the server closed the connection
    int err = errno;
    if (err == EINTR)
      continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      if (!WaitForSocket(fd_, POLLIN, Deadline()))
        RaiseSocketError(wsa::kETIMEDOUT, closing_);  // the server did not answer in time
      continue;
    }
    if (retryNoBuffers && (err == ENOBUFS || err == ENOMEM)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    RaiseSocketError(WinsockCodeFromErrno(err), closing_);
  }
}

FrameHeader TnxWinsockClientConnection::ReadHeader() {
  char head[FrameHeader::kSize];
  ReadExact(head, sizeof head, false);
  FrameHeader header = FrameHeader::DecodeFrom(head);
  if (header.totalLength > winsock_.MaxMessageLength())
    RaiseSocketError(wsa::kEMSGSIZE, closing_);  // cannot be buffered: a receive failure
  return header;
}

size_t TnxWinsockClientConnection::ReadPayload(const FrameHeader& header, bool retryNoBuffers) {
  const size_t length = header.PayloadLength();
  if (length > buffer_.size())
    buffer_.resize(length + kBufferSize);
  ReadExact(buffer_.data(), length, retryNoBuffers);
  return length;
}

void TnxWinsockClientConnection::ShrinkBuffer() {
  if (buffer_.size() > kBufferSize) {
    buffer_.resize(kBufferSize);
    buffer_.shrink_to_fit();
  }
}

void TnxWinsockClientConnection::ReceiveInto(FrameHeader& header, char* dest, size_t capacity,
                                             size_t& copied) {
  header = ReadHeader();
  size_t left = header.PayloadLength();
  copied = std::min(left, capacity);
  if (copied)
    ReadExact(dest, copied, false);
  left -= copied;
  while (left > 0) {  // discard the rest, one buffer at a time
    size_t chunk = std::min(left, buffer_.size());
    ReadExact(buffer_.data(), chunk, false);
    left -= chunk;
  }
}

void TnxWinsockClientConnection::ReceiveReply(TnxReplyCallback callback, void* cookie) {
  FrameHeader header = ReadHeader();
  size_t length = ReadPayload(header, true);
  try {
    winsock_.HandleReply(header, buffer_.data(), length, callback, cookie);
  } catch (...) {
    ShrinkBuffer();
    throw;
  }
  if (length > kBufferSize)
    ShrinkBuffer();
}

void TnxWinsockClientConnection::ReceiveAny(const MessageHandler& handler) {
  FrameHeader header = ReadHeader();
  size_t length = ReadPayload(header, false);
  try {
    handler(header, buffer_.data(), length);
  } catch (...) {
    ShrinkBuffer();
    throw;
  }
  if (length > kBufferSize)
    ShrinkBuffer();
}

// ---------------------------------------------------------------------------------------
// TnxWinsockClientBroadcastThread

TnxWinsockClientBroadcastThread::TnxWinsockClientBroadcastThread(uint16_t port, EventLog* log)
    : port_(port), log_(log) {}

TnxWinsockClientBroadcastThread::~TnxWinsockClientBroadcastThread() {
  Stop();
}

void TnxWinsockClientBroadcastThread::Start() {
  SocketGuard fd(OpenDatagramSocket());
  ConfigureDatagramSocket(fd.get());
  in_addr any{};
  any.s_addr = htonl(INADDR_ANY);
  sockaddr_in sa = MakeAddress(any, port_);
  if (::bind(fd.get(), AsSockaddr(&sa), sizeof sa) != 0)
    RaiseLastSocketError();
  fd_ = fd.release();
  thread_ = std::thread([this] { Run(); });
}

void TnxWinsockClientBroadcastThread::Stop() {
  terminated_ = true;
  if (fd_ >= 0)
    ::shutdown(fd_, SHUT_RDWR);
  if (thread_.joinable())
    thread_.join();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::vector<std::string> TnxWinsockClientBroadcastThread::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return names_;
}

void TnxWinsockClientBroadcastThread::Run() {
  while (!terminated_) {
    // A short poll keeps the stop prompt even where shutting down a datagram socket does
    // not end a pending read.
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, 20);
    if (ready <= 0 || terminated_)
      continue;
    char buffer[256] = {};
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t got = ::recvfrom(fd_, buffer, kDiscoveryDatagramMax, MSG_DONTWAIT, AsSockaddr(&from),
                             &fromLength);
    if (got <= 0)
      continue;  // failed reads are ignored
    try {
      std::string entry = ParseDiscoveryAnswer(std::string_view(buffer, static_cast<size_t>(got)),
                                               ntohl(from.sin_addr.s_addr));
      if (entry.empty())
        continue;
      std::lock_guard<std::mutex> lock(mutex_);
      AddSortedServerName(names_, entry);
    } catch (const std::exception& e) {
      // One answer could not be kept: reported, and listening goes on.
      if (log_)
        log_->WriteLine(std::string("Discovery listener: ") + e.what());
    }
  }
}

}  // namespace vantera
