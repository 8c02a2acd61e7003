#include "msgserver/msg_router.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
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

// Descriptors kept free beside the clients: standard streams, the stop pipe, the listening
// socket, and one for a connection being refused.
constexpr size_t kSpareDescriptors = 16;

std::string SysError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

std::string DurationText(std::chrono::milliseconds d) {
  if (d.count() % 1000 == 0)
    return std::to_string(d.count() / 1000) + " s";
  return std::to_string(d.count()) + " ms";
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
  uint32_t address = 0;  // source address, host byte order
  Clock::time_point connected_at = Clock::now();
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
  // Every client holds a descriptor, and refusing one needs one more for a moment. With
  // fewer descriptors than clients, accept() would fail while the listening socket stays
  // readable, and the loop would spin; so the client limit is kept under the process limit.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      files.rlim_cur < options_.max_clients + kSpareDescriptors) {
    size_t limit = static_cast<size_t>(files.rlim_cur);
    options_.max_clients = limit > kSpareDescriptors + 1 ? limit - kSpareDescriptors : 1;
    log_("at most " + std::to_string(options_.max_clients) + " clients: the open-file limit is " +
         std::to_string(limit) + " (ulimit -n; LimitNOFILE= in the service)");
  }
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
  if (options_.clients) {
    log_("client names bound to addresses: " + std::to_string(options_.clients->size()) +
         " name(s) from " + options_.clients_origin);
  } else {
    log_(
        "warning: names are not bound to addresses (no --clients file): any client may log "
        "in under any name, take it over, and send log commands");
  }
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
    int timeout_ms = ExpireLogins();
    RemoveDropped();
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
    int n = ::poll(fds.data(), fds.size(), timeout_ms);
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
    // Dropped clients leave after the whole turn, so that no id is reused within it.
    RemoveDropped();
    if (fds[1].revents != 0)
      Accept();
  }
  log_("stopping: " + std::to_string(clients_.size()) + " client(s) disconnected");
}

void MsgRouter::RemoveDropped() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->second->dropped) {
      ::close(it->second->fd);
      auto count = per_address_.find(it->second->address);
      if (count != per_address_.end() && --count->second == 0)
        per_address_.erase(count);
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

int MsgRouter::ExpireLogins() {
  auto now = Clock::now();
  auto next = Clock::time_point::max();
  for (auto& [id, c] : clients_) {
    if (c->dropped || !c->name.empty())
      continue;
    auto deadline = c->connected_at + options_.login_timeout;
    if (now >= deadline)
      Drop(*c, "no login within " + DurationText(options_.login_timeout));
    else if (deadline < next)
      next = deadline;
  }
  if (next == Clock::time_point::max())
    return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return left > 60000 ? 60000 : static_cast<int>(left);
}

void MsgRouter::LogRefusal(const std::string& what) {
  auto now = Clock::now();
  if (now - last_refusal_log_ < std::chrono::seconds(1)) {
    ++refusals_unlogged_;
    return;
  }
  std::string line = what;
  if (refusals_unlogged_ > 0)
    line += " (and " + std::to_string(refusals_unlogged_) +
            " more connection(s) refused since the previous refusal line)";
  log_(line);
  last_refusal_log_ = now;
  refusals_unlogged_ = 0;
}

void MsgRouter::Accept() {
  for (int i = 0; i < 64; ++i) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd =
        ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;  // EAGAIN, or a connection that went away before we took it
    uint32_t address = ntohl(sa.sin_addr.s_addr);
    if (clients_.size() >= options_.max_clients) {
      ::close(fd);
      LogRefusal("connection from " + FormatIpv4(address) + " refused: too many clients (" +
                 std::to_string(options_.max_clients) + ")");
      continue;
    }
    size_t& from_here = per_address_[address];
    if (options_.max_per_address != 0 && from_here >= options_.max_per_address) {
      ::close(fd);
      LogRefusal("connection from " + FormatIpv4(address) + " refused: it has " +
                 std::to_string(from_here) + " connections already (--max-per-address)");
      continue;
    }
    ++from_here;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto c = std::make_unique<Client>();
    c->id = next_id_++;
    c->fd = fd;
    c->address = address;
    c->peer = FormatIpv4(address) + ":" + std::to_string(ntohs(sa.sin_port));
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
    HandleLogin(c, f[kFieldLahettaja]);
    return;
  }
  if (c.name.empty()) {
    Drop(c, "line before login");
    return;
  }
  const std::string& to = f[kFieldRecipient];
  // The line itself is only logged where routed lines are (its text holds card numbers).
  auto line_text = [&] { return options_.log_lines ? ": " + shown() : std::string(); };
  if (to != kToServer && f[kFieldLahettaja] != c.name) {
    log_(Describe(c) + " line dropped: its sender " + Win1252ToUtf8(f[kFieldLahettaja]) +
         " is not its login name " + Win1252ToUtf8(c.name) + line_text());
    return;
  }
  if (to != kToServer && options_.clients && f[kFieldTyyppi] == kTypeLog &&
      f.size() > kFieldKorttiLyh && !f[kFieldKorttiLyh].empty() &&
      !options_.clients->MaySendLogCommands(c.name)) {
    log_(Describe(c) + " line dropped: " + Win1252ToUtf8(c.name) +
         " may not send log commands (not marked log in the clients file), to " +
         Win1252ToUtf8(to) + line_text());
    return;
  }
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

void MsgRouter::HandleLogin(Client& c, const std::string& name) {
  if (options_.clients && !options_.clients->MayLogInFrom(name, c.address)) {
    Drop(c, "login as " + Win1252ToUtf8(name) + " refused: the name is bound to other " +
                "addresses than " + FormatIpv4(c.address) + " in the clients file");
    return;
  }
  auto old = names_.find(c.name);
  if (old != names_.end() && old->second == c.id)
    names_.erase(old);
  c.name = name;
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
  log_(Describe(c) + " logged in from " + c.peer);
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
