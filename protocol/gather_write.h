// Gathered writes with sendmsg(): after a partial write the parts already sent are
// skipped, so the next call continues exactly where the socket stopped taking bytes.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstddef>

namespace vantera {

// Moves msg's parts past the first `sent` bytes.
inline void SkipSentBytes(msghdr& msg, size_t sent) {
  while (sent > 0 && msg.msg_iovlen > 0) {
    if (sent >= msg.msg_iov[0].iov_len) {
      sent -= msg.msg_iov[0].iov_len;
      ++msg.msg_iov;
      --msg.msg_iovlen;
    } else {
      msg.msg_iov[0].iov_base = static_cast<char*>(msg.msg_iov[0].iov_base) + sent;
      msg.msg_iov[0].iov_len -= sent;
      sent = 0;
    }
  }
}

}  // namespace vantera
