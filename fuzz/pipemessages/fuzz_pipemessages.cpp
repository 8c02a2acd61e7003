// Arbitrary bytes as the pipe messages a peer sends, reassembled into frames by the pipe
// reader. Input records: a 2-byte little-endian length (cut to 65504 + 16 so oversized
// messages occur) and that many bytes, each sent as one message of a SOCK_SEQPACKET pair.
// Must hold: never a crash; each read gives a whole frame of at most the limit, or raises
// the socket error.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/nxllException.h"
#include "protocol/pipe_messages.h"

using namespace vantera;

namespace {
constexpr uint32_t kLimit = 200000;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
    return 0;
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    length %= kPipeMessageMax + 17;
    if (length > size - at)
      length = size - at;
    if (::send(fds[1], data + at, length, MSG_NOSIGNAL) < 0)
      break;  // the socket buffer is full: read what was sent
    at += length;
  }
  ::close(fds[1]);

  std::vector<char> buffer(4096);
  for (int frames = 0; frames < 64; ++frames) {
    try {
      FrameHeader h = ReadPipeFrame(fds[0], buffer, kLimit);
      if (h.totalLength > kLimit || buffer.size() < h.totalLength)
        abort();
    } catch (const EnxOSError&) {
      break;
    }
  }
  ::close(fds[0]);
  return 0;
}
