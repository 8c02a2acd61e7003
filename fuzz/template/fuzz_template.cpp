// Arbitrary bytes into ImportBytes, then CompareTemplates against a valid template (both
// ways round). Accepted bytes must export unchanged; rejected ones must leave the template
// empty. Nothing may crash or read out of bounds. Each input is tried as it is and once more
// with its checksum made right, so that the fuzzer reaches the field checks and the matcher
// instead of stopping at the checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/simulated_finger.h"

using namespace vantera;

namespace {

const IFPTemplate& Valid() {
  static const IFPTemplate valid = [] {
    FingerRandom rng(1);
    TemplateData data;
    data.instance_id = 42;
    data.minutiae = PlaceFinger(PatternOfFinger("12345/oikea etusormi"), rng);
    return IFPTemplate(data);
  }();
  return valid;
}

void Try(std::string_view bytes) {
  IFPTemplate t = CoFPTemplate::Create();
  try {
    t.ImportBytes(bytes);
  } catch (const EFPError&) {
    if (!t.IsEmpty())
      std::abort();
    return;
  }
  if (t.ExportBytes() != bytes)
    std::abort();
  (void)t.ReadInstanceId();
  (void)t.ReadVersion();
  CoFPVerify verify;
  (void)verify.CompareTemplates(t, Valid());
  (void)verify.CompareTemplates(Valid(), t);
  (void)verify.CompareTemplates(t, t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Try(bytes);
  if (size >= 4 && size <= kTemplateMaxSize) {
    Bytes sealed(bytes);
    EncodeFixed32(sealed.data() + size - 4, Crc32(bytes.substr(0, size - 4)));
    Try(sealed);
  }
  return 0;
}
