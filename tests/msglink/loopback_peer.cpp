#include "tests/msglink/loopback_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QThread>
#include <cerrno>
#include <memory>
#include <stdexcept>

namespace vantera::test {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

}  // namespace

namespace {

// Owns the application object of the test program and ends it after the last test, before
// static destruction (when Qt's own globals may already be gone).
class QtAppEnvironment : public ::testing::Environment {
 public:
  void Start() {
    static int argc = 1;
    static char name[] = "msglink_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

}  // namespace

void EnsureQtApp() {
  if (QCoreApplication::instance() != nullptr)
    return;
  auto* env = new QtAppEnvironment;  // owned by GoogleTest from here on
  ::testing::AddGlobalTestEnvironment(env);
  env->Start();
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (Clock::now() >= end)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
  }
  return true;
}

void RunEventsFor(int ms) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
  }
}

PeerConn& PeerConn::operator=(PeerConn&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = o.fd_;
    eof_ = o.eof_;
    in_ = std::move(o.in_);
    o.fd_ = -1;
  }
  return *this;
}

PeerConn::~PeerConn() {
  if (fd_ >= 0)
    ::close(fd_);
}

void PeerConn::Send(const std::string& bytes) {
  size_t done = 0;
  auto end = Clock::now() + std::chrono::seconds(10);
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      throw std::runtime_error("peer send failed");
    if (Clock::now() >= end)
      throw std::runtime_error("peer send timed out");
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

bool PeerConn::Poll() {
  bool got = false;
  char buf[65536];
  for (int i = 0; i < 1000; ++i) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
      got = true;
      continue;
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      eof_ = true;
      got = true;
    }
    break;
  }
  return got;
}

bool PeerConn::ReadLine(std::string* line, int timeout_ms) {
  bool ok = WaitUntil(
      [&] {
        Poll();
        return in_.find("\r\n") != std::string::npos;
      },
      timeout_ms);
  if (!ok)
    return false;
  size_t pos = in_.find("\r\n");
  *line = in_.substr(0, pos);
  in_.erase(0, pos + 2);
  return true;
}

void PeerConn::Close() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

void PeerConn::Reset() {
  if (fd_ < 0)
    return;
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

LoopbackListener::LoopbackListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    throw std::runtime_error("socket failed");
  sockaddr_in sa = Loopback(0);
  socklen_t len = sizeof sa;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 16) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    throw std::runtime_error("listen failed");
  port_ = ntohs(sa.sin_port);
}

LoopbackListener::~LoopbackListener() {
  ::close(fd_);
}

PeerConn LoopbackListener::Accept(int timeout_ms) {
  int got = -1;
  WaitUntil(
      [&] {
        got = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        return got >= 0;
      },
      timeout_ms);
  return PeerConn(got);
}

}  // namespace vantera::test
