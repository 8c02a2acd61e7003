#include "tools/cardpoint/msg_line_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>

#include "msglink/Wdef.h"
#include "msglink/msgkey.h"

namespace vantera {
namespace {

// Waits until fd is ready for `events` or the deadline passes; true when ready. A wait
// that ends early (a signal, the limit of one poll) goes on until the deadline.
bool PollUntil(int fd, short events, MsgLineClient::Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, PollTimeoutMs(deadline, MsgLineClient::Clock::now()));
    if (n > 0)
      return true;
    if (n < 0 && errno != EINTR)
      return false;
    if (MsgLineClient::Clock::now() >= deadline)
      return false;
  }
}

}  // namespace

int PollTimeoutMs(MsgLineClient::Clock::time_point deadline, MsgLineClient::Clock::time_point now) {
  if (deadline <= now)
    return 0;
  // Rounded up, so that a wait does not end just before its deadline and spin.
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

MsgLineClient::~MsgLineClient() {
  Close();
}

void MsgLineClient::Close() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  in_.clear();
}

void MsgLineClient::Connect(const std::string& host, uint16_t port, Clock::duration timeout) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0 || list == nullptr)
    throw MsgClientError("cannot resolve " + host + ": " + gai_strerror(rc));
  sockaddr_in sa;
  std::memcpy(&sa, list->ai_addr, sizeof sa);
  freeaddrinfo(list);
  sa.sin_port = htons(port);
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    throw MsgClientError(std::string("socket: ") + std::strerror(errno));
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::string where = host + ":" + std::to_string(port);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS) {
      std::string why = std::strerror(errno);
      Close();
      throw MsgClientError("cannot connect to " + where + ": " + why);
    }
    bool ready = PollUntil(fd_, POLLOUT, Clock::now() + timeout);
    int err = 0;
    socklen_t len = sizeof err;
    if (!ready || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      std::string why = !ready ? "timed out" : std::strerror(err);
      Close();
      throw MsgClientError("cannot connect to " + where + ": " + why);
    }
  }
}

void MsgLineClient::Login(const std::string& name, Clock::duration timeout) {
  auto deadline = Clock::now() + timeout;
  std::string wire;
  for (;;) {
    if (!ReadWire(&wire, deadline))
      throw MsgClientError("no \"Login:\" prompt from the server");
    if (wire == kLoginPrompt)
      break;
  }
  SendPlain(BuildLoginMsg(name));
}

std::string MsgLineClient::Encipher(const std::string& plain) {
  chipper_.SetKeyText(kMessageKey);
  std::string wire = chipper_.EncryptLine(plain);
  chipper_.WipeKey();
  return wire;
}

std::string MsgLineClient::Decipher(const std::string& wire) {
  chipper_.SetKeyText(kMessageKey);
  std::string plain = chipper_.DecryptLine(wire);
  chipper_.WipeKey();
  return plain;
}

void MsgLineClient::SendPlain(const std::string& plain) {
  SendRaw(Encipher(plain) + "\r\n");
}

void MsgLineClient::SendRaw(const std::string& bytes) {
  if (fd_ < 0)
    throw MsgClientError("not connected");
  size_t done = 0;
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EAGAIN) {
      if (!PollUntil(fd_, POLLOUT, deadline))
        throw MsgClientError("send timed out");
      continue;
    }
    throw MsgClientError(std::string("connection lost: ") + std::strerror(errno));
  }
}

bool MsgLineClient::ReadWire(std::string* wire, Clock::time_point deadline) {
  for (;;) {
    size_t pos = in_.find("\r\n");
    if (pos != std::string::npos) {
      *wire = in_.substr(0, pos);
      in_.erase(0, pos + 2);
      return true;
    }
    if (in_.size() > kMaxLine)
      throw MsgClientError("overlong line from the server");
    if (fd_ < 0)
      throw MsgClientError("not connected");
    if (!PollUntil(fd_, POLLIN, deadline))
      return false;
    char buf[16384];
    ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    if (got <= 0)
      throw MsgClientError("connection closed by the server");
    in_.append(buf, static_cast<size_t>(got));
  }
}

bool MsgLineClient::ReadPlain(std::string* plain, Clock::time_point deadline) {
  std::string wire;
  if (!ReadWire(&wire, deadline))
    return false;
  *plain = wire == kLoginPrompt ? wire : Decipher(wire);
  return true;
}

}  // namespace vantera
