#include "protocol/pipe_messages.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include "protocol/winsock_errors.h"

namespace vantera {

namespace {

constexpr size_t kBufferSpare = 64 * 1024;

void SendPiece(int fd, const char* head, size_t headLength, const char* data, size_t length,
               bool closing, WaitClock::time_point deadline) {
  const int flags = MSG_NOSIGNAL | (deadline == kNoDeadline ? 0 : MSG_DONTWAIT);
  iovec parts[2];
  parts[0].iov_base = const_cast<char*>(head);
  parts[0].iov_len = headLength;
  parts[1].iov_base = const_cast<char*>(data);
  parts[1].iov_len = length;
  msghdr msg{};
  msg.msg_iov = headLength ? parts : parts + 1;
  msg.msg_iovlen = (headLength ? 1 : 0) + (length ? 1 : 0);
  for (;;) {
    ssize_t sent = ::sendmsg(fd, &msg, flags);
    if (sent >= 0)
      return;  // a message socket sends a message whole or not at all
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && deadline != kNoDeadline) {
      if (!WaitForSocket(fd, POLLOUT, deadline))
        RaiseSocketError(wsa::kETIMEDOUT, closing);
      continue;
    }
    if (errno != EINTR)
      RaiseLastSocketError(closing);
  }
}

// One pipe message into `dst` (room for `capacity` bytes); its length.
size_t ReceiveMessage(int fd, char* dst, size_t capacity, bool closing,
                      WaitClock::time_point deadline) {
  const int flags = deadline == kNoDeadline ? 0 : MSG_DONTWAIT;
  for (;;) {
    iovec part{dst, capacity};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    ssize_t got = ::recvmsg(fd, &msg, flags);
    if (got > 0) {
      if (msg.msg_flags & MSG_TRUNC)
        RaiseSocketError(wsa::kEMSGSIZE, closing);
      return static_cast<size_t>(got);
    }
    if (got == 0)
      RaiseSocketError(wsa::kEDISCON, closing);  // the other side closed the pipe
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && deadline != kNoDeadline) {
      if (!WaitForSocket(fd, POLLIN, deadline))
        RaiseSocketError(wsa::kETIMEDOUT, closing);  // the server did not answer in time
      continue;
    }
    if (errno != EINTR)
      RaiseLastSocketError(closing);
  }
}

}  // namespace

uint32_t PipeMessageCount(uint64_t totalLength) {
  if (totalLength <= kPipeMessageMax)
    return 1;
  return static_cast<uint32_t>((totalLength + kPipeMessageMax - 1) / kPipeMessageMax);
}

void WritePipeFrame(int fd, FrameHeader header, const char* payload, size_t length, bool closing,
                    WaitClock::time_point deadline) {
  header.SetPayloadLength(length);
  header.pipeMessageCount = PipeMessageCount(header.totalLength);
  char head[FrameHeader::kSize];
  header.EncodeTo(head);
  size_t first = std::min(length, kPipeMessageMax - FrameHeader::kSize);
  SendPiece(fd, head, sizeof head, payload, first, closing, deadline);
  for (size_t done = first; done < length;) {
    size_t piece = std::min(length - done, kPipeMessageMax);
    SendPiece(fd, nullptr, 0, payload + done, piece, closing, deadline);
    done += piece;
  }
}

FrameHeader ReadPipeFrame(int fd, std::vector<char>& buffer, uint32_t maxLength, bool closing,
                          WaitClock::time_point deadline) {
  if (buffer.size() < kPipeMessageMax + 1)
    buffer.resize(kBufferSpare);
  // One byte of room beyond the largest message shows an oversized one as truncated.
  size_t got = ReceiveMessage(fd, buffer.data(), kPipeMessageMax + 1, closing, deadline);
  if (got < FrameHeader::kSize)
    RaiseSocketError(wsa::kEMSGSIZE, closing);
  FrameHeader header = FrameHeader::DecodeFrom(buffer.data());
  const uint64_t total = std::max<uint64_t>(header.totalLength, FrameHeader::kSize);
  if (total > maxLength || header.pipeMessageCount != PipeMessageCount(total) ||
      got != std::min<uint64_t>(total, kPipeMessageMax))
    RaiseSocketError(wsa::kEMSGSIZE, closing);
  if (total + 1 > buffer.size())
    buffer.resize(total + kBufferSpare);
  size_t have = got;
  while (have < total) {
    const size_t expected = std::min<uint64_t>(total - have, kPipeMessageMax);
    got = ReceiveMessage(fd, buffer.data() + have, expected + 1, closing, deadline);
    if (got != expected)
      RaiseSocketError(wsa::kEMSGSIZE, closing);
    have += got;
  }
  return header;
}

}  // namespace vantera
