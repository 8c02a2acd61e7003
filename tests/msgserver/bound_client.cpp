#include "tests/msgserver/bound_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "msglink/Wdef.h"
#include "msglink/msgkey.h"

namespace vantera::test {
namespace {

sockaddr_in Loopback(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
    throw std::runtime_error("not an IPv4 address: " + address);
  return sa;
}

int MsLeft(BoundClient::Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - BoundClient::Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

BoundClient::BoundClient(const std::string& source, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in from = Loopback(source, 0);
  sockaddr_in to = Loopback("127.0.0.1", port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("cannot connect from " + source + ": " + why);
  }
}

BoundClient::~BoundClient() {
  ::close(fd_);
}

void BoundClient::Login(const std::string& name) {
  std::string line;
  if (!ReadPlain(&line, std::chrono::seconds(5)) || line != kLoginPrompt)
    throw std::runtime_error("no \"Login:\" prompt, got '" + line + "'");
  SendPlain(BuildLoginMsg(name));
}

void BoundClient::SendPlain(const std::string& plain) {
  chipper_.SetKeyText(kMessageKey);
  std::string wire = chipper_.EncryptLine(plain);
  chipper_.WipeKey();
  SendRaw(wire + "\r\n");
}

void BoundClient::SendRaw(const std::string& bytes) {
  // Small writes on a blocking socket: send() takes them whole or fails.
  if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error(std::string("send: ") + std::strerror(errno));
}

bool BoundClient::ReadPlain(std::string* plain, Clock::duration wait) {
  auto deadline = Clock::now() + wait;
  for (;;) {
    size_t pos = in_.find("\r\n");
    if (pos != std::string::npos) {
      std::string wire = in_.substr(0, pos);
      in_.erase(0, pos + 2);
      if (wire == kLoginPrompt) {
        *plain = wire;
      } else {
        chipper_.SetKeyText(kMessageKey);
        *plain = chipper_.DecryptLine(wire);
        chipper_.WipeKey();
      }
      return true;
    }
    if (closed_ || in_.size() > 65536)
      return false;
    pollfd p{fd_, POLLIN, 0};
    int n = ::poll(&p, 1, MsLeft(deadline));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    char buf[4096];
    ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    in_.append(buf, static_cast<size_t>(got));
  }
}

bool BoundClient::ClosedWithin(Clock::duration wait) {
  auto deadline = Clock::now() + wait;
  std::string line;
  while (!closed_ && Clock::now() < deadline)
    ReadPlain(&line, deadline - Clock::now());
  return closed_;
}

}  // namespace vantera::test
