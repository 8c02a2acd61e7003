#include "protocol/local_sockets.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <thread>

#include "protocol/bounded_wait.h"
#include "protocol/nxllException.h"
#include "protocol/winsock_errors.h"

namespace vantera {

namespace {

sockaddr* AsSockaddr(sockaddr_un* sa) {
  return reinterpret_cast<sockaddr*>(sa);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool KeptAsIs(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#' ||
         c == '.' || c == '_' || c == '-' || c == '@';
}

}  // namespace

void FileDescriptor::Reset() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

bool MakeUnixAddress(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path ||
      path.find('\0') != std::string::npos)
    return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

FileDescriptor ConnectUnix(const std::string& path, int type, bool nonblocking) {
  sockaddr_un sa;
  if (!MakeUnixAddress(path, sa))
    RaiseSocketError(wsa::kHOST_NOT_FOUND);
  FileDescriptor fd(::socket(AF_UNIX, type | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0));
  if (!fd.Valid())
    RaiseLastSocketError();
  for (;;) {
    if (::connect(fd.Get(), AsSockaddr(&sa), sizeof sa) == 0)
      return fd;
    if (errno != EINTR)
      break;
  }
  RaiseLastSocketError();
}

FileDescriptor ConnectUnixBounded(const std::string& path, int type,
                                  std::chrono::steady_clock::time_point busyUntil) {
  constexpr auto kBusyWait = std::chrono::milliseconds(10);
  for (;;) {
    try {
      return ConnectUnix(path, type, true);
    } catch (const EnxOSError& e) {
      if (e.OSErrorCode() != static_cast<uint32_t>(wsa::kEWOULDBLOCK))
        throw;
      // The listener's queue is full: it is busy, or it stopped taking connections.
      if (std::chrono::steady_clock::now() + kBusyWait >= busyUntil || DatabaseWaitsInterrupted())
        RaiseSocketError(wsa::kETIMEDOUT);
      std::this_thread::sleep_for(kBusyWait);
    }
  }
}

bool UnixSocketAlive(const std::string& path, int type) {
  sockaddr_un sa;
  if (!MakeUnixAddress(path, sa))
    return false;
  FileDescriptor fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid())
    return false;
  return ::connect(fd.Get(), AsSockaddr(&sa), sizeof sa) == 0;
}

FileDescriptor ListenUnix(const std::string& path, int type) {
  sockaddr_un sa;
  if (!MakeUnixAddress(path, sa))
    throw std::runtime_error("socket path too long or empty: " + path);
  FileDescriptor fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid())
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  for (int attempt = 0;; ++attempt) {
    if (::bind(fd.Get(), AsSockaddr(&sa), sizeof sa) == 0)
      break;
    const int err = errno;
    struct stat st {};
    if (err != EADDRINUSE || attempt > 0 || ::lstat(path.c_str(), &st) != 0 ||
        !S_ISSOCK(st.st_mode))
      throw std::runtime_error("cannot bind " + path + ": " + std::strerror(err));
    if (UnixSocketAlive(path, type))
      throw std::runtime_error(path + " is in use by a running server");
    ::unlink(path.c_str());  // left behind by a server that is gone
  }
  if (type != SOCK_DGRAM && ::listen(fd.Get(), 64) != 0)
    throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(errno));
  return fd;
}

std::string EncodeFileName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (KeptAsIs(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool DecodeFileName(const std::string& text, std::string& name) {
  name.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      if (!KeptAsIs(static_cast<unsigned char>(text[i])))
        return false;
      name += text[i];
      continue;
    }
    if (i + 2 >= text.size())
      return false;
    const int hi = HexValue(text[i + 1]);
    const int lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0)
      return false;
    name += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace vantera
