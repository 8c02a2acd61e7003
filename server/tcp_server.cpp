#include "server/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "protocol/discovery_datagrams.h"
#include "protocol/winsock_errors.h"
#include "server/connection_limits.h"

namespace vantera {

namespace {

constexpr int kPollMs = 100;
constexpr size_t kReadChunk = 64 * 1024;

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

sockaddr* AsSockaddr(sockaddr_in* sa) {
  return reinterpret_cast<sockaddr*>(sa);
}

sockaddr_in ParseHost(const std::string& host, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1)
    throw std::runtime_error("not an IPv4 address: " + host);
  return sa;
}

std::string Peer(const sockaddr_in& sa) {
  return DottedAddress(ntohl(sa.sin_addr.s_addr)) + ":" + std::to_string(ntohs(sa.sin_port));
}

// Writes all of `data`; false when the socket failed.
bool WriteAll(int fd, const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

const char* DropText(TransportRegistry::DropReason reason) {
  switch (reason) {
    case TransportRegistry::DropReason::Silent:
      return "silent for twice its heartbeat interval";
    case TransportRegistry::DropReason::Unconnected:
      return "without a connection for too long";
    case TransportRegistry::DropReason::NoSession:
      return "without a working session for too long";
    case TransportRegistry::DropReason::Asked:
      break;
  }
  return "ended";
}

}  // namespace

struct TcpServer::Connection : ServedConnection {
  std::string peer;
  std::atomic<uint32_t> transportId{0};
  const TransportRegistry* registry = nullptr;

  // Without a handshake, or on a transport without a serving session, a connection does
  // nothing for anybody (the workstation opens its session right after its transport).
  bool Evictable() const override {
    const uint32_t id = transportId;
    return id == 0 || !registry->HasServingSession(id);
  }
};

TcpServer::TcpServer(ServerContext& context, TcpServerOptions options)
    : ctx_(context),
      options_(std::move(options)),
      connections_(ctx_.log, options_.maxConnections, std::chrono::milliseconds(kPollMs),
                   options_.maxPerAddress) {}

TcpServer::~TcpServer() {
  Stop();
}

void TcpServer::Start() {
  sockaddr_in sa = ParseHost(options_.host, options_.port);
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0)
    throw std::runtime_error(SystemError("socket"));
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listen_fd_, AsSockaddr(&sa), sizeof sa) != 0)
    throw std::runtime_error(SystemError("cannot listen on " + Peer(sa)));
  if (::listen(listen_fd_, 128) != 0)
    throw std::runtime_error(SystemError("listen"));
  socklen_t len = sizeof sa;
  getsockname(listen_fd_, AsSockaddr(&sa), &len);
  port_ = ntohs(sa.sin_port);

  if (options_.discovery) {
    // Queries arrive as broadcasts: the responder listens on every address. Answers go
    // out from the listening address, so that the client connects where we listen.
    discovery_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (discovery_fd_ < 0)
      throw std::runtime_error(SystemError("socket"));
    setsockopt(discovery_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any = ParseHost("0.0.0.0", port_);
    if (::bind(discovery_fd_, AsSockaddr(&any), sizeof any) != 0)
      throw std::runtime_error(
          SystemError("cannot answer discovery on UDP port " + std::to_string(port_)));
    reply_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (reply_fd_ < 0)
      throw std::runtime_error(SystemError("socket"));
    sockaddr_in from = ParseHost(options_.host, 0);
    if (::bind(reply_fd_, AsSockaddr(&from), sizeof from) != 0)
      throw std::runtime_error(SystemError("cannot bind the discovery answer socket"));
    discovery_thread_ = std::thread([this] { DiscoveryLoop(); });
  }
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  watchdog_thread_ = std::thread([this] { WatchdogLoop(); });
}

void TcpServer::Stop() {
  if (stop_.exchange(true))
    return;
  for (std::thread* t : {&accept_thread_, &watchdog_thread_, &discovery_thread_}) {
    if (t->joinable())
      t->join();
  }
  connections_.StopAll();
  for (int* fd : {&listen_fd_, &discovery_fd_, &reply_fd_}) {
    if (*fd >= 0)
      ::close(*fd);
    *fd = -1;
  }
  for (auto& d : ctx_.registry.DropAll()) {
    for (auto& s : d.sessions)
      ctx_.dispatcher.SessionClosed(s);
  }
}

void TcpServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, kPollMs);
    connections_.ReapFinished();
    if (ready <= 0)
      continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd = ::accept4(listen_fd_, AsSockaddr(&from), &len, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    auto c = std::make_shared<Connection>();
    c->peer = Peer(from);
    c->source = DottedAddress(ntohl(from.sin_addr.s_addr));
    c->registry = &ctx_.registry;
    connections_.Admit(
        c, fd, [&c] { return "connection " + std::to_string(c->number) + " from " + c->peer; },
        ctx_.trace, [this, c] { Serve(c); });
  }
}

void TcpServer::Serve(std::shared_ptr<Connection> c) {
  FrameHandler handler(ctx_, c->number, !options_.tunnelOnly);
  QuietConnectionWatch watch(options_.handshakeTimeoutMs, options_.frameTimeoutMs);
  std::string reason;
  std::vector<char> buffer(kReadChunk);
  Bytes out;
  while (!stop_ && !c->drop) {
    // The socket's receive time-out (kPollMs) wakes the loop to check the stop flag and the
    // time limits without a poll call in front of every read.
    ssize_t got = ::recv(c->fd, buffer.data(), buffer.size(), 0);
    const QuietConnectionWatch::Step step = watch.AfterReceive(got, handler, reason);
    if (step == QuietConnectionWatch::Step::Again)
      continue;
    if (step == QuietConnectionWatch::Step::End)
      break;
    out.clear();
    FrameHandler::Result r = handler.Consume(buffer.data(), static_cast<size_t>(got), out);
    c->transportId = handler.TransportId();
    if (!out.empty() && !WriteAll(c->fd, out)) {
      reason = SystemError("send");
      break;
    }
    if (r == FrameHandler::Result::Close)
      break;
    if (watch.AfterConsume(handler, reason) == QuietConnectionWatch::Step::End)
      break;
  }
  if (!reason.empty())
    ctx_.log.Line("connection " + std::to_string(c->number) + " from " + c->peer +
                  " dropped: " + reason);
  else if (ctx_.trace)
    ctx_.log.Line("connection " + std::to_string(c->number) + " closed");
}

void TcpServer::DropTransport(uint32_t transportId) {
  // Every connection of this listener is a TcpServer::Connection.
  connections_.ForEach([transportId](ServedConnection& c) {
    if (static_cast<Connection&>(c).transportId == transportId)
      c.Shutdown();
  });
}

void TcpServer::WatchdogLoop() {
  while (!stop_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    for (auto& d : ctx_.registry.ExpireSilent(TransportRegistry::Clock::now())) {
      ctx_.log.Line("transport " + std::to_string(d.transportId) + " " + DropText(d.reason) +
                    ": dropped with " + std::to_string(d.sessions.size()) + " session(s)");
      for (auto& s : d.sessions)
        ctx_.dispatcher.SessionClosed(s);
      DropTransport(d.transportId);
    }
  }
}

void TcpServer::DiscoveryLoop() {
  const std::string answer = BuildDiscoveryAnswer(options_.serverName);
  while (!stop_) {
    pollfd p{discovery_fd_, POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0)
      continue;
    char buffer[kDiscoveryDatagramMax + 1] = {};
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t got = ::recvfrom(discovery_fd_, buffer, kDiscoveryDatagramMax, MSG_DONTWAIT,
                             AsSockaddr(&from), &len);
    if (got <= 0 || !IsDiscoveryQuery(std::string_view(buffer, static_cast<size_t>(got))))
      continue;
    sockaddr_in to = from;
    to.sin_port = htons(static_cast<uint16_t>(port_ + 1));
    for (int i = 0; i < 2; ++i) {
      (void)::sendto(reply_fd_, answer.data(), answer.size(), MSG_NOSIGNAL, AsSockaddr(&to),
                     sizeof to);
    }
    ctx_.log.Line("discovery query from " + Peer(from) + " answered");
  }
}

}  // namespace vantera
