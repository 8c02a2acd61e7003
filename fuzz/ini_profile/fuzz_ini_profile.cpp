// Arbitrary settings-file text through the profile reader: every key the workstation reads
// must come back as nothing or a value of at most 255 characters, without a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/ini_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  static constexpr std::string_view kKeys[][2] = {
      {"DataBase", "Alias"},          {"DataBase", "Engine"},
      {"database", "PORT"},           {"DataBase", "Key"},
      {"MessageSrv", "PingTime"},     {"Defaults", "Vantera"},
      {"MessageSrv", "ServerAddress"}};
  for (const auto& k : kKeys) {
    auto value = vantera::FindProfileValue(text, k[0], k[1]);
    if (value && value->size() > vantera::kProfileValueMax)
      std::abort();
  }
  return 0;
}
