// Arbitrary bytes as a received wire text: decipher, then split at "^" as the session does.
// Checks that deciphering and splitting never fail and keep their invariants; a second pass
// splits the raw bytes at a separator taken from the input, with empty pieces left out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "msglink/Brkapart.h"
#include "msglink/base64.h"
#include "msglink/msgcipher.h"
#include "msglink/msgkey.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantera;
  const std::string_view wire(reinterpret_cast<const char*>(data), size);

  Chipper chipper;
  chipper.SetKeyText(kMessageKey);
  const std::string plain = chipper.DecryptLine(wire);
  chipper.WipeKey();

  const std::string decoded = Base64Decode(wire);
  Check(plain.size() == decoded.size());
  Check(plain.size() <= size / 4 * 3);
  chipper.SetKeyText(kMessageKey);
  Check(chipper.EncryptLine(plain) == Base64Encode(decoded));
  chipper.WipeKey();

  TBrkApart msg("^", true);
  msg.SetBaseString(plain);
  msg.Split();
  std::string joined;
  for (std::size_t i = 0; i < msg.StringList().size(); ++i) {
    if (i > 0)
      joined += '^';
    joined += msg.StringList()[i];
  }
  Check(joined == plain);

  if (size > 0) {
    const std::size_t sep_len = data[0] % 4;  // 0 to 3 bytes, the empty separator included
    const std::string_view sep = wire.substr(1, sep_len);
    TBrkApart raw(sep, false);
    raw.SetBaseString(wire);
    raw.Split();
    std::size_t total = 0;
    for (const std::string& piece : raw.StringList()) {
      Check(!piece.empty());
      Check(sep.empty() || piece.find(sep) == std::string::npos);
      total += piece.size();
    }
    Check(total <= size);
  }
  return 0;
}
