// Feeds arbitrary bytes, as one client's stream, through the server's frame handling.
// The first input byte picks how the stream is cut into reads; the handler must never
// crash, read out of bounds or grow beyond what arrived.
#include <cstddef>
#include <cstdint>

#include "server/frame_handler.h"

using namespace vantera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LoginChecker login;
  static AccountStore accounts;
  static UnsupportedDispatcher dispatcher;
  if (size == 0)
    return 0;
  const size_t chunk = 1 + data[0] % 64;
  ++data;
  --size;

  TransportRegistry registry;
  ServerContext context{registry, dispatcher, accounts, login, ServerLog::Null()};
  context.maxFrameLength = 1 << 20;
  FrameHandler handler(context, 1);
  Bytes out;
  for (size_t i = 0; i < size; i += chunk) {
    size_t n = size - i < chunk ? size - i : chunk;
    if (handler.Consume(reinterpret_cast<const char*>(data) + i, n, out) ==
        FrameHandler::Result::Close)
      break;
  }
  // Every answer is a whole frame.
  size_t pos = 0;
  while (pos + FrameHeader::kSize <= out.size()) {
    FrameHeader h = FrameHeader::DecodeFrom(out.data() + pos);
    if (h.totalLength < FrameHeader::kSize)
      __builtin_trap();
    pos += h.totalLength;
  }
  if (pos != out.size())
    __builtin_trap();
  return 0;
}
