#include "fingerprint/fpsdk_objects.h"

#include <cstdio>
#include <utility>

#include "fingerprint/matcher.h"

namespace vantera {

IFPTemplate::IFPTemplate(TemplateData data) : bytes_(EncodeTemplate(data)) {
  data_ = std::move(data);
}

const TemplateData& IFPTemplate::Data() const {
  if (!data_)
    throw EFPError("Template is empty");
  return *data_;
}

std::string IFPTemplate::ReadInstanceId() const {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(Data().instance_id));
  return text;
}

std::string IFPTemplate::ReadVersion() const {
  (void)Data();
  return std::to_string(kTemplateFormatMajor) + "." + std::to_string(kTemplateFormatMinor);
}

Bytes IFPTemplate::ExportBytes() const {
  (void)Data();
  return bytes_;
}

void IFPTemplate::ImportBytes(std::string_view bytes) {
  TemplateData data = DecodeTemplate(bytes);  // throws before anything changes
  bytes_.assign(bytes.data(), bytes.size());
  data_ = std::move(data);
}

FPVerifyResult CoFPVerify::CompareTemplates(const IFPTemplate& stored,
                                            const IFPTemplate& captured) const {
  MatchResult match = MatchMinutiae(stored.Data().minutiae, captured.Data().minutiae);
  FPVerifyResult result;
  result.verified = match.same ? 1 : 0;
  result.score = match.score;
  result.threshold = kMatchThreshold;
  return result;
}

}  // namespace vantera
