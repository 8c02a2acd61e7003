// The test side of libfprint's virtual image device: a private socket folder, the
// environment variable that makes libfprint offer the device, and one connection that sends
// images (width, height as native 32-bit integers, then the grey bytes) and commands (a
// negative width: -1 retry results 0-3, -2 device errors 0-8).
#pragma once

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "fingerprint/image/grey_image.h"

namespace vantera {

// Runs the Qt (and so GLib) event loop until done() or timeout_ms have passed.
template <typename Done>
bool RunUntil(Done done, int timeout_ms = 15000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

class VirtualImageFeeder {
 public:
  // Sets FP_VIRTUAL_IMAGE for the libfprint contexts made after this (in this process).
  VirtualImageFeeder() {
    char folder[] = "/tmp/vantera-fpvirt-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    folder_ = folder;
    path_ = folder_ + "/image.sock";
    ::setenv("FP_VIRTUAL_IMAGE", path_.c_str(), 1);
  }
  ~VirtualImageFeeder() {
    if (fd_ >= 0)
      ::close(fd_);
    ::unsetenv("FP_VIRTUAL_IMAGE");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  VirtualImageFeeder(const VirtualImageFeeder&) = delete;
  VirtualImageFeeder& operator=(const VirtualImageFeeder&) = delete;

  void SendImage(const GreyImage& image) {
    Header(image.width, image.height);
    Write(image.pixels.data(), image.pixels.size());
  }
  void SendRetry(int32_t code) { Header(-1, code); }
  void SendError(int32_t code) { Header(-2, code); }

 private:
  void Header(int32_t a, int32_t b) {
    Connect();
    int32_t header[2] = {a, b};
    Write(header, sizeof header);
  }
  // The device listens once it is open; the connection stays for the following sends.
  void Connect() {
    if (fd_ >= 0)
      return;
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    bool connected = RunUntil(
        [&] { return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0; });
    if (!connected)
      throw std::runtime_error("cannot connect to the virtual image device at " + path_);
  }
  void Write(const void* data, size_t size) {
    // The device reads on this thread's event loop: it runs while the socket is full.
    const auto* p = static_cast<const uint8_t*>(data);
    bool sent = RunUntil([&] {
      while (size > 0) {
        ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN)
          return false;
        if (n <= 0)
          throw std::runtime_error("the virtual image device closed its socket");
        p += n;
        size -= static_cast<size_t>(n);
      }
      return true;
    });
    if (!sent)
      throw std::runtime_error("the virtual image device did not read the image");
  }

  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace vantera
