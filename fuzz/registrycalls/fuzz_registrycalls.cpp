// Arbitrary bytes into the local registry's call and reply decoders. The first byte picks
// the decoder (a call, or the reply of one method, unknown methods included); the rest is
// the body. Must hold: never a crash; a body either decodes or raises DecodeError; what
// decodes encodes back to bytes that decode to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/coding.h"
#include "protocol/registry_calls.h"

using namespace vantera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t pick = data[0];
  std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    if (pick % 8 == 0) {
      RegistryCall call = DecodeRegistryCall(body);
      Bytes again = EncodeRegistryCall(call);
      if (!(DecodeRegistryCall(again) == call))
        abort();
    } else {
      auto method = static_cast<RegistryMethod>(pick % 8);  // 7: no such method
      RegistryReply reply = DecodeRegistryReply(method, body);
      Bytes again = EncodeRegistryReply(method, reply);
      if (!(DecodeRegistryReply(method, again) == reply))
        abort();
    }
  } catch (const DecodeError&) {
  }
  return 0;
}
