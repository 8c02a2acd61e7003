// The time limits of a client connection that has gone quiet, shared by the TCP and pipe
// listeners: a connection must open or attach a transport within the handshake time-out,
// and must not leave a frame unfinished for longer than the frame time-out.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "server/frame_handler.h"

namespace vantera {

// Why a quiet connection is to be dropped at `now`, or the empty text while it may stay.
inline std::string QuietConnectionLimitReason(const FrameHandler& handler,
                                              std::chrono::steady_clock::time_point opened,
                                              std::chrono::steady_clock::time_point last_data,
                                              std::chrono::steady_clock::time_point now,
                                              uint32_t handshake_timeout_ms,
                                              uint32_t frame_timeout_ms) {
  if (!handler.Handshaken() && now - opened > std::chrono::milliseconds(handshake_timeout_ms))
    return "no handshake within " + std::to_string(handshake_timeout_ms) + " ms";
  if (handler.InsideFrame() && now - last_data > std::chrono::milliseconds(frame_timeout_ms))
    return "frame left unfinished for " + std::to_string(frame_timeout_ms) + " ms";
  return {};
}

// The limits of one connection as its receive loop keeps them. The loop receives with a
// short receive time-out, so that it wakes to check them while the client is quiet.
class QuietConnectionWatch {
 public:
  enum class Step {
    Data,   // bytes came: the time is noted
    Again,  // nothing within the limits, or an interrupted call: receive again
    End,    // the connection is over; `reason` is empty when the client closed between frames
  };

  QuietConnectionWatch(uint32_t handshakeTimeoutMs, uint32_t frameTimeoutMs)
      : handshake_timeout_ms_(handshakeTimeoutMs), frame_timeout_ms_(frameTimeoutMs) {}

  // Judges what one receive returned (`got`; errno as that call left it when negative).
  Step AfterReceive(ssize_t got, const FrameHandler& handler, std::string& reason) {
    const int error = errno;
    const auto now = std::chrono::steady_clock::now();
    if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
      reason = QuietConnectionLimitReason(handler, opened_, last_data_, now, handshake_timeout_ms_,
                                          frame_timeout_ms_);
      return reason.empty() ? Step::Again : Step::End;
    }
    if (got == 0) {
      if (handler.InsideFrame())
        reason = "closed by the client in the middle of a frame";
      return Step::End;
    }
    if (got < 0) {
      if (error == EINTR)
        return Step::Again;
      reason = std::string("receive: ") + std::strerror(error);
      return Step::End;
    }
    last_data_ = now;
    return Step::Data;
  }

 private:
  const uint32_t handshake_timeout_ms_;
  const uint32_t frame_timeout_ms_;
  const std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_data_ = opened_;
};

}  // namespace vantera
