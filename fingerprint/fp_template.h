// The template bytes of the simulated reader: what ExportBytes gives, ImportBytes takes and
// the database stores unchanged.
//
// Layout (little-endian), 300 to 1500 bytes:
//
//   offset  size  field
//   0       4     magic "VFPT"
//   4       1     format major (1)
//   5       1     format minor (0)
//   6       2     total size in bytes, the checksum included
//   8       8     instance id (unique per template)
//   16      1     kind: 1 capture (one placement), 2 enrolment (placements combined)
//   17      1     placements combined (1..8; 1 for a capture)
//   18      2     minutia count n (0..kMaxTemplateMinutiae)
//   20      8n    minutiae: x int16, y int16, angle uint16 (0..359), type uint8 (1, 2),
//                 quality uint8 (0..100); x and y within kCoordMin..kCoordMax
//   20+8n   64    quality map: minutiae per cell of an 8 x 8 grid over the sensor window
//                 (minutiae outside the window are not counted; each cell capped at 255)
//   ...     pad   zero bytes up to the minimum size
//   size-4  4     CRC-32 (IEEE, reflected) of every byte before it
//
// Decoding accepts only what encoding produces: every field in range, the quality map and
// padding as they would be written and the checksum right. So EncodeTemplate of a decoded
// template gives back the same bytes, and damaged bytes are rejected, never half-read.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "fingerprint/minutia.h"

namespace vantera {

// Raised by every failing template or verifier operation; the text says what failed.
class EFPError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TemplateKind : uint8_t { kCapture = 1, kEnrolment = 2 };

inline constexpr size_t kTemplateMinSize = 300;
inline constexpr size_t kTemplateMaxSize = 1500;
inline constexpr size_t kMaxTemplateMinutiae = 160;
inline constexpr int kMaxPlacements = 8;
inline constexpr uint8_t kTemplateFormatMajor = 1;
inline constexpr uint8_t kTemplateFormatMinor = 0;

struct TemplateData {
  uint64_t instance_id = 0;
  TemplateKind kind = TemplateKind::kCapture;
  uint8_t placements = 1;
  Minutiae minutiae;
  friend bool operator==(const TemplateData&, const TemplateData&) = default;
};

// The bytes of a template; throws EFPError when a field is out of range (too many
// minutiae, a coordinate, angle, type or quality outside its range, placements 0 or > 8).
Bytes EncodeTemplate(const TemplateData& data);

// Reads template bytes; throws EFPError naming the first fault found.
TemplateData DecodeTemplate(std::string_view bytes);

// CRC-32 (IEEE 802.3, reflected, initial and final xor 0xFFFFFFFF).
uint32_t Crc32(std::string_view bytes);

}  // namespace vantera
