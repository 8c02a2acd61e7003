// Unix-domain sockets under the runtime folder: the local pipes, their discovery
// datagrams and the local server registry all live there.
//
// A path that does not fit a socket address (107 bytes) cannot be used: connecting raises
// the socket error for a name too long, and a server cannot listen under it.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <string>

namespace vantera {

// Owns one file descriptor until released or destroyed.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// The socket address of `path`; false when the path is empty or too long.
bool MakeUnixAddress(const std::string& path, sockaddr_un& address);

// Connects a new socket of `type` (SOCK_SEQPACKET, SOCK_STREAM) to `path`; raises the
// socket error (EnxOSError) when that fails. A `nonblocking` socket never waits in the
// connect: a listener whose queue is full gives the socket error 10035 (busy) at once, and
// the socket stays non-blocking.
FileDescriptor ConnectUnix(const std::string& path, int type, bool nonblocking = false);

// ConnectUnix with a non-blocking socket, trying a busy listener again every 10 ms until
// `busyUntil`; then (or once InterruptDatabaseWaits was called) it raises the socket error
// for a time-out (10060).
FileDescriptor ConnectUnixBounded(const std::string& path, int type,
                                  std::chrono::steady_clock::time_point busyUntil);

// A listening (or, for SOCK_DGRAM, bound) socket at `path`. A socket file left behind by a
// server that is gone is replaced; one that a live server still answers on is not: then
// std::runtime_error says so. Other failures throw std::runtime_error with the reason.
FileDescriptor ListenUnix(const std::string& path, int type);

// True when something accepts connections (or datagrams) at `path`.
bool UnixSocketAlive(const std::string& path, int type);

// `name` as one file name: bytes outside letters, digits and "#._-@" become "%XX", so that
// no name can leave its folder or hide in another.
std::string EncodeFileName(const std::string& name);
// The reverse of EncodeFileName; false when `text` is not such a form.
bool DecodeFileName(const std::string& text, std::string& name);

}  // namespace vantera
