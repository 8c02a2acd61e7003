#include "msgserver/msg_router.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/win1252.h"
#include "msglink/Brkapart.h"
#include "msglink/Wdef.h"
#include "msglink/msgkey.h"

namespace vantera {
namespace {

using Clock = std::chrono::steady_clock;

std::string SysError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

bool LooksLikeCipherText(const std::string& wire) {
  if (wire.empty() || wire.size() % 4 != 0)
    return false;
  size_t n = wire.size();
  for (size_t i = 0; i < n; ++i) {
    char c = wire[i];
    bool padding_place = i >= n - 2 && c == '=' && (i == n - 1 || wire[n - 1] == '=');
    if (!IsBase64Char(c) && !padding_place)
      return false;
  }
  return true;
}

struct MsgRouter::Client {
  uint64_t id = 0;
  int fd = -1;
  std::string peer;
  std::string name;  // empty until logged in
  std::string in;
  std::string out;
  size_t out_sent = 0;
  Clock::time_point window_start = Clock::now();
  uint32_t lines_in_window = 0;
  bool dropped = false;
};

MsgRouter::MsgRouter(MsgRouterOptions options, LogFn log)
    : options_(std::move(options)), log_(std::move(log)) {}

MsgRouter::~MsgRouter() {
  for (auto& [id, c] : clients_)
    ::close(c->fd);
  if (listen_fd_ >= 0)
    ::close(listen_fd_);
}

void MsgRouter::Listen() {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.host.c_str(), &sa.sin_addr) != 1)
    throw std::runtime_error("not an IPv4 address: " + options_.host);
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0)
    throw std::runtime_error(SysError("socket"));
  int on = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    throw std::runtime_error(
        SysError("bind " + options_.host + ":" + std::to_string(options_.port)));
  if (::listen(listen_fd_, 64) != 0)
    throw std::runtime_error(SysError("listen"));
  socklen_t len = sizeof sa;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  log_("listening on " + options_.host + ":" + std::to_string(port_));
}

std::string MsgRouter::Describe(const Client& c) const {
  std::string d = "client #" + std::to_string(c.id);
  if (!c.name.empty())
    d += " (" + Win1252ToUtf8(c.name) + ")";
  return d;
}

void MsgRouter::Run(int stop_fd) {
  std::vector<pollfd> fds;
  std::vector<uint64_t> ids;
  for (;;) {
    fds.clear();
    ids.clear();
    fds.push_back({stop_fd, POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (auto& [id, c] : clients_) {
      short events = POLLIN;
      if (c->out_sent < c->out.size())
        events |= POLLOUT;
      fds.push_back({c->fd, events, 0});
      ids.push_back(id);
    }
    int n = ::poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error(SysError("poll"));
    }
    if (fds[0].revents != 0)
      break;
    for (size_t i = 0; i < ids.size(); ++i) {
      short re = fds[i + 2].revents;
      auto it = clients_.find(ids[i]);
      if (re == 0 || it == clients_.end() || it->second->dropped)
        continue;
      if ((re & (POLLIN | POLLHUP | POLLERR)) != 0)
        ReadFrom(*it->second);
      if (!it->second->dropped && (re & POLLOUT) != 0)
        WriteTo(*it->second);
    }
    if (fds[1].revents != 0)
      Accept();
    // Dropped clients leave after the whole turn, so that no id is reused within it.
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (it->second->dropped) {
        ::close(it->second->fd);
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
  }
  log_("stopping: " + std::to_string(clients_.size()) + " client(s) disconnected");
}

void MsgRouter::Accept() {
  for (int i = 0; i < 64; ++i) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd =
        ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;  // EAGAIN, or a connection that went away before we took it
    if (clients_.size() >= options_.max_clients) {
      log_("connection refused: too many clients");
      ::close(fd);
      continue;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto c = std::make_unique<Client>();
    c->id = next_id_++;
    c->fd = fd;
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof ip);
    c->peer = std::string(ip) + ":" + std::to_string(ntohs(sa.sin_port));
    log_(Describe(*c) + " connected from " + c->peer);
    Client& ref = *c;
    clients_.emplace(c->id, std::move(c));
    Queue(ref, std::string(kLoginPrompt) + "\r\n");
  }
}

void MsgRouter::ReadFrom(Client& c) {
  char buf[65536];
  ssize_t got = ::recv(c.fd, buf, sizeof buf, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (got <= 0) {
    log_(Describe(c) + " disconnected");
    c.dropped = true;
    if (!c.name.empty()) {
      auto it = names_.find(c.name);
      if (it != names_.end() && it->second == c.id)
        names_.erase(it);
    }
    return;
  }
  c.in.append(buf, static_cast<size_t>(got));
  size_t start = 0;
  for (;;) {
    size_t pos = c.in.find("\r\n", start);
    if (pos == std::string::npos)
      break;
    if (pos - start > options_.max_line) {
      Drop(c, "line too long");
      return;
    }
    HandleLine(c, c.in.substr(start, pos - start));
    if (c.dropped)
      return;
    start = pos + 2;
  }
  c.in.erase(0, start);
  if (c.in.size() > options_.max_line + 1)
    Drop(c, "line too long");
}

void MsgRouter::HandleLine(Client& c, const std::string& wire) {
  if (options_.max_rate != 0) {
    auto now = Clock::now();
    if (now - c.window_start >= std::chrono::seconds(1)) {
      c.window_start = now;
      c.lines_in_window = 0;
    }
    if (++c.lines_in_window > options_.max_rate) {
      Drop(c, "more than " + std::to_string(options_.max_rate) + " lines per second");
      return;
    }
  }
  if (wire.empty())
    return;  // a bare CR LF carries nothing
  if (!LooksLikeCipherText(wire)) {
    Drop(c, "garbage line");
    return;
  }
  // The key is fixed and derived once; each line starts from the initial feedback register.
  if (!chipper_.HasKey())
    chipper_.SetKeyText(kMessageKey);
  chipper_.ResetFeedback();
  std::string plain = chipper_.DecryptLine(wire);
  TBrkApart split("^", true);
  split.SetBaseString(plain);
  split.Split();
  const auto& f = split.StringList();
  if (f.size() < 6) {
    Drop(c, "garbage line");
    return;
  }
  auto shown = [&plain] { return Win1252ToUtf8(plain); };
  if (f[kFieldTyyppi] == kTypeLogin) {
    if (f[kFieldSanoma] != kLoginPassword || f[kFieldLahettaja].empty()) {
      Drop(c, "login refused");
      return;
    }
    auto old = names_.find(c.name);
    if (old != names_.end() && old->second == c.id)
      names_.erase(old);
    c.name = f[kFieldLahettaja];
    // One connection per name: the newest login takes the name (a restarted workstation
    // whose old connection has not died yet), and the older connection is closed so that
    // it does not wait in vain for lines that now go elsewhere.
    auto holder = names_.find(c.name);
    if (holder != names_.end() && holder->second != c.id) {
      auto other = clients_.find(holder->second);
      if (other != clients_.end())
        Drop(*other->second, "the name logged in again from " + c.peer);
    }
    names_[c.name] = c.id;
    log_(Describe(c) + " logged in");
    return;
  }
  if (c.name.empty()) {
    Drop(c, "line before login");
    return;
  }
  const std::string& to = f[kFieldRecipient];
  if (to == kToServer) {
    if (options_.log_lines)
      log_("for the server from " + Win1252ToUtf8(c.name) + ": " + shown());
    return;
  }
  auto named = names_.find(to);
  auto it = named == names_.end() ? clients_.end() : clients_.find(named->second);
  if (it == clients_.end() || it->second->dropped) {
    log_("no client " + Win1252ToUtf8(to) + " for " + Win1252ToUtf8(c.name) + ": " + shown());
    return;
  }
  Client& dest = *it->second;
  if (options_.log_lines)
    log_("route " + Win1252ToUtf8(c.name) + " -> " + Win1252ToUtf8(to) + ": " + shown());
  Queue(dest, wire + "\r\n");
}

void MsgRouter::Queue(Client& c, const std::string& bytes) {
  if (c.out_sent > 0 && c.out_sent == c.out.size()) {
    c.out.clear();
    c.out_sent = 0;
  }
  c.out += bytes;
  if (c.out.size() - c.out_sent > options_.max_output) {
    Drop(c, "does not read its lines");
    return;
  }
  WriteTo(c);
}

void MsgRouter::WriteTo(Client& c) {
  while (c.out_sent < c.out.size()) {
    ssize_t n = ::send(c.fd, c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL);
    if (n > 0) {
      c.out_sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      break;
    Drop(c, "send failed");
    return;
  }
  if (c.out_sent == c.out.size()) {
    c.out.clear();
    c.out_sent = 0;
  } else if (c.out_sent > (1u << 16)) {
    c.out.erase(0, c.out_sent);
    c.out_sent = 0;
  }
}

void MsgRouter::Drop(Client& c, const std::string& reason) {
  if (c.dropped)
    return;
  log_(Describe(c) + " dropped: " + reason);
  c.dropped = true;
  if (!c.name.empty()) {
    auto it = names_.find(c.name);
    if (it != names_.end() && it->second == c.id)
      names_.erase(it);
  }
  ::shutdown(c.fd, SHUT_RDWR);
}

}  // namespace vantera
