// Arbitrary bytes as a locate filter expression. A refused one ends in DecodeError; an
// accepted one holds a field, an image and no negative partial length, and re-encodes stably.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/locate_filter.h"

using namespace vantera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  LocateFilter filter;
  try {
    filter = LocateFilter::Decode(input);
  } catch (const DecodeError&) {
    return 0;
  }
  if (filter.field_names.empty() || filter.image.empty() || filter.partial_length < 0)
    std::abort();
  // Integers and strings may have been written with a wider tag than needed, so only the
  // second round must give the same bytes.
  Bytes once = filter.Encode();
  if (LocateFilter::Decode(once).Encode() != once)
    std::abort();
  return 0;
}
