// The time limits of a client connection that has gone quiet, shared by the TCP and pipe
// listeners: a connection must open or attach a transport within the handshake time-out,
// and must not leave a frame unfinished for longer than the frame time-out.
#pragma once

#include <chrono>
#include <cstdint>
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

}  // namespace vantera
