// A client that speaks raw frames to kantadb-server on loopback, as a hostile or broken
// client would: exact frames in, exact answers out, optionally from another loopback
// source address (127.0.0.2, 127.0.0.3, ...; all of 127/8 is local on Linux).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/coding.h"
#include "protocol/login_block.h"
#include "protocol/login_key.h"
#include "protocol/nxllBlowfishRC4.h"
#include "protocol/transport_frame.h"

namespace vantera::testing {

inline Bytes Frame(uint8_t kind, uint32_t transportId, uint32_t sessionId, uint32_t messageId,
                   const Bytes& payload = {}) {
  FrameHeader h;
  h.kind = kind;
  h.transportId = transportId;
  h.sessionId = sessionId;
  h.messageId = messageId;
  h.reserved = 0x55;
  h.SetPayloadLength(payload.size());
  Bytes b;
  h.AppendTo(&b);
  return b + payload;
}

inline Bytes Word(uint32_t v) {
  Bytes b;
  PutFixed32(&b, v);
  return b;
}

// The sealed login block of `user` and `password`.
inline Bytes Login(const std::string& user, const std::string& password) {
  TnxBlowFishRC4 cipher{std::string(kLoginCipherKey)};
  return SealLoginBlock(cipher, user, password, 10000);
}

struct Answer {
  FrameHeader header;
  Bytes payload;
};

class RawClient {
 public:
  // Connects to 127.0.0.1:port, from the loopback address `source` when given.
  explicit RawClient(uint16_t port, const char* source = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (source) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      EXPECT_EQ(inet_pton(AF_INET, source, &from.sin_addr), 1) << source;
      EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from), 0) << source;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void Close() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

  void Send(const Bytes& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Sends all of `bytes`; false when the server has closed or reset the connection.
  bool TrySend(const Bytes& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads exactly n bytes within the time limit; false on end of stream or time-out.
  bool Read(char* dst, size_t n, int limitMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (n > 0) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) {
        if (std::chrono::steady_clock::now() > deadline)
          return false;
        continue;
      }
      ssize_t got = ::recv(fd_, dst, n, 0);
      if (got <= 0)
        return false;
      dst += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  std::optional<Answer> ReadFrame(int limitMs = 5000) {
    char head[32];
    if (!Read(head, sizeof head, limitMs))
      return std::nullopt;
    Answer a{FrameHeader::DecodeFrom(head), {}};
    a.payload.resize(a.header.PayloadLength());
    if (!a.payload.empty() && !Read(a.payload.data(), a.payload.size(), limitMs))
      return std::nullopt;
    return a;
  }
  // True when the server closes the connection within the limit (nothing else arrives).
  bool ClosedByServer(int limitMs = 5000) {
    char c;
    return !Read(&c, 1, limitMs);
  }
  // True when the server has closed the connection within `limitMs`; false when it is
  // still open then. Anything the server sent meanwhile is read and dropped.
  bool EndsWithin(int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char buffer[256];
    do {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0 && ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
        return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  // Opens a transport and returns its id and key.
  std::pair<uint32_t, uint32_t> OpenTransport(uint32_t heartbeat = 0) {
    Send(Frame(mkOpenTransport, 0, 0, 0, Word(heartbeat)));
    auto a = ReadFrame();
    EXPECT_TRUE(a);
    if (!a || a->payload.size() < 4)
      return {0, 0};
    return {a->header.transportId, DecodeFixed32(a->payload.data())};
  }

 private:
  int fd_ = -1;
};

}  // namespace vantera::testing
