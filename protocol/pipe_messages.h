// Frames on a local pipe (a Unix-domain SOCK_SEQPACKET socket, message boundaries kept).
//
// A frame of total length T (32-byte header and payload) travels as ceil(T / 65504) pipe
// messages: the first carries the header and up to 65472 payload bytes, each further one
// up to 65504 payload bytes. Header offset 20 holds the number of pipe messages of the
// frame.
//
//   first pipe message     offset size content
//                               0   32 frame header (transport_frame.h); offset 20 holds
//                                      the pipe-message count of the frame
//                              32    k payload bytes 0 .. k - 1, k <= 65472
//   each further message   offset size content
//                               0    m the next m payload bytes, m <= 65504
//
// The client and the server both write and read frames through this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/bounded_wait.h"
#include "protocol/transport_frame.h"

namespace vantera {

inline constexpr size_t kPipeMessageMax = 65504;

// No deadline: the reads and writes block as the socket does (the server's use).
inline constexpr WaitClock::time_point kNoDeadline = WaitClock::time_point::max();

// Number of pipe messages of a frame of total length `totalLength` (at least 1).
uint32_t PipeMessageCount(uint64_t totalLength);

// Writes one frame: sets the total length and the pipe message count of `header` and
// sends the pieces in order, header and first payload bytes in one gather write. Raises
// the socket error (an abort when `closing`) when a write fails, and the time-out (10060)
// when the peer takes no message before `deadline`.
void WritePipeFrame(int fd, FrameHeader header, const char* payload, size_t length,
                    bool closing = false, WaitClock::time_point deadline = kNoDeadline);

// Reads one whole frame into `buffer` (header first), growing it to the total length plus
// 64 KiB when the frame is larger than the buffer. Raises the socket error when the peer
// closed, a read fails, or the messages do not form a frame of at most `maxLength` bytes
// (a wrong message count or size, a message longer than 65504 bytes), and the time-out
// (10060) when the frame is not whole by `deadline`.
FrameHeader ReadPipeFrame(int fd, std::vector<char>& buffer, uint32_t maxLength,
                          bool closing = false, WaitClock::time_point deadline = kNoDeadline);

}  // namespace vantera
