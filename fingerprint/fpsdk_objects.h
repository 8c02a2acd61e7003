// The template and verifier objects of the fingerprint SDK boundary: IFPTemplate (made by
// CoFPTemplate or delivered by a control's OnDone) and CoFPVerify with CompareTemplates.
// Plain C++ without Qt, so that the fuzz and benchmark programs use them as they are.
//
// Every failing operation raises EFPError (fp_template.h) and leaves the object as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "fingerprint/fp_template.h"

namespace vantera {

// One fingerprint template. A template made by CoFPTemplate is empty until ImportBytes
// fills it; reading an empty template raises EFPError("Template is empty"). Copyable;
// not thread-safe (one thread at a time).
class IFPTemplate {
 public:
  IFPTemplate() = default;
  // A template of the given content; throws EFPError when the content cannot be encoded.
  explicit IFPTemplate(TemplateData data);

  bool IsEmpty() const { return !data_.has_value(); }

  // The template's instance id as 16 upper-case hexadecimal digits.
  std::string ReadInstanceId() const;
  // The template format's version, "major.minor" ("1.0").
  std::string ReadVersion() const;
  // The template bytes (300 to 1500 of them); importing them gives an equal template and
  // exporting that gives the same bytes.
  Bytes ExportBytes() const;
  // Fills the template from exported bytes. Malformed bytes raise EFPError and leave the
  // template unchanged.
  void ImportBytes(std::string_view bytes);

  // The decoded content; throws EFPError when empty.
  const TemplateData& Data() const;

 private:
  std::optional<TemplateData> data_;
  Bytes bytes_;
};

// Makes templates.
class CoFPTemplate {
 public:
  static IFPTemplate Create() { return IFPTemplate(); }
};

// The results of CompareTemplates. Only `verified` is used by the workflows; the others
// explain the decision.
struct FPVerifyResult {
  int16_t verified = 0;   // non-zero: the same finger
  int32_t score = 0;      // similarity 0..100 (matcher.h: ScoreOf)
  int32_t threshold = 0;  // the least score that can verify
  int32_t status = 0;     // 0: compared
};

class CoFPVerify {
 public:
  static CoFPVerify Create() { return CoFPVerify(); }
  // Compares a stored template with a captured one. Raises EFPError when either is empty.
  // Thread-safe.
  FPVerifyResult CompareTemplates(const IFPTemplate& stored, const IFPTemplate& captured) const;
};

}  // namespace vantera
