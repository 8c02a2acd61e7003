// The time limits of a client connection, shared by the TCP and pipe listeners: a
// connection must open or attach a transport within the handshake time-out, and a frame
// must arrive whole within the frame time-out of its first byte (bytes trickled in slowly
// do not extend it). A connection whose transport has been dropped ends too.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "server/frame_handler.h"

namespace vantera {

// Why a connection is to be dropped at `now`, or the empty text while it may stay.
// `frame_began`: when the first byte of the frame now arriving came.
inline std::string ConnectionLimitReason(const FrameHandler& handler,
                                         std::chrono::steady_clock::time_point opened,
                                         std::chrono::steady_clock::time_point frame_began,
                                         std::chrono::steady_clock::time_point now,
                                         uint32_t handshake_timeout_ms, uint32_t frame_timeout_ms) {
  if (!handler.Handshaken() && now - opened > std::chrono::milliseconds(handshake_timeout_ms))
    return "no handshake within " + std::to_string(handshake_timeout_ms) + " ms";
  if (handler.InsideFrame() && now - frame_began > std::chrono::milliseconds(frame_timeout_ms))
    return "frame not complete within " + std::to_string(frame_timeout_ms) +
           " ms of its first byte";
  if (!handler.TransportAlive())
    return "transport " + std::to_string(handler.TransportId()) + " was dropped";
  return {};
}

// The limits of one connection as its receive loop keeps them. The loop receives with a
// short receive time-out, so that it wakes to check them while the client is quiet, and
// tells the watch after each Consume, so that it notes when a new frame began.
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
      reason = ConnectionLimitReason(handler, opened_, frame_began_, now, handshake_timeout_ms_,
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

  // Judges the handler after it consumed the bytes of the last receive: a frame begun in
  // them began when they came; one still arriving keeps its start. Ends the connection
  // (with `reason`) when the frame still arriving is already past its time-out, so that a
  // steady trickle cannot hold it open.
  Step AfterConsume(const FrameHandler& handler, std::string& reason) {
    if (!handler.InsideFrame())
      return Step::Data;
    if (handler.FramesBegun() != frames_seen_) {
      frames_seen_ = handler.FramesBegun();
      frame_began_ = last_data_;
    }
    reason = ConnectionLimitReason(handler, opened_, frame_began_, last_data_,
                                   handshake_timeout_ms_, frame_timeout_ms_);
    return reason.empty() ? Step::Data : Step::End;
  }

 private:
  const uint32_t handshake_timeout_ms_;
  const uint32_t frame_timeout_ms_;
  const std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_data_ = opened_;
  std::chrono::steady_clock::time_point frame_began_ = opened_;
  uint64_t frames_seen_ = 0;
};

}  // namespace vantera
