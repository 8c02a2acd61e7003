#include "fingerprint/fp_template.h"

#include <array>

namespace vantera {
namespace {

constexpr char kMagic[4] = {'V', 'F', 'P', 'T'};
constexpr size_t kHeaderSize = 20;
constexpr size_t kMinutiaSize = 8;
constexpr int kMapSide = 8;
constexpr size_t kMapSize = kMapSide * kMapSide;
constexpr size_t kCrcSize = 4;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

size_t TotalSize(size_t count) {
  size_t size = kHeaderSize + kMinutiaSize * count + kMapSize + kCrcSize;
  return size < kTemplateMinSize ? kTemplateMinSize : size;
}

std::array<uint8_t, kMapSize> QualityMap(const Minutiae& minutiae) {
  std::array<uint8_t, kMapSize> map{};
  for (const Minutia& m : minutiae) {
    if (m.x < 0 || m.y < 0 || m.x >= kSensorWidth || m.y >= kSensorHeight)
      continue;
    size_t cell = static_cast<size_t>(m.y * kMapSide / kSensorHeight * kMapSide +
                                      m.x * kMapSide / kSensorWidth);
    if (map[cell] < 255)
      ++map[cell];
  }
  return map;
}

// The first fault of one minutia, or nullptr.
const char* MinutiaFault(const Minutia& m) {
  if (m.x < kCoordMin || m.x > kCoordMax || m.y < kCoordMin || m.y > kCoordMax)
    return "minutia position out of range";
  if (m.angle >= 360)
    return "minutia angle out of range";
  if (m.type != MinutiaType::kEnding && m.type != MinutiaType::kBifurcation)
    return "unknown minutia type";
  if (m.quality > 100)
    return "minutia quality out of range";
  return nullptr;
}

[[noreturn]] void Fail(const std::string& why) {
  throw EFPError("Invalid template: " + why);
}

}  // namespace

uint32_t Crc32(std::string_view bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (char b : bytes)
    c = kCrcTable[(c ^ static_cast<unsigned char>(b)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

Bytes EncodeTemplate(const TemplateData& data) {
  if (data.minutiae.size() > kMaxTemplateMinutiae)
    Fail("too many minutiae");
  if (data.placements < 1 || data.placements > kMaxPlacements)
    Fail("placement count out of range");
  if (data.kind != TemplateKind::kCapture && data.kind != TemplateKind::kEnrolment)
    Fail("unknown template kind");
  for (const Minutia& m : data.minutiae)
    if (const char* fault = MinutiaFault(m))
      Fail(fault);

  size_t total = TotalSize(data.minutiae.size());
  Bytes out;
  out.reserve(total);
  out.append(kMagic, sizeof kMagic);
  PutFixed8(&out, kTemplateFormatMajor);
  PutFixed8(&out, kTemplateFormatMinor);
  PutFixed16(&out, static_cast<uint16_t>(total));
  PutFixed64(&out, data.instance_id);
  PutFixed8(&out, static_cast<uint8_t>(data.kind));
  PutFixed8(&out, data.placements);
  PutFixed16(&out, static_cast<uint16_t>(data.minutiae.size()));
  for (const Minutia& m : data.minutiae) {
    PutFixed16(&out, static_cast<uint16_t>(m.x));
    PutFixed16(&out, static_cast<uint16_t>(m.y));
    PutFixed16(&out, m.angle);
    PutFixed8(&out, static_cast<uint8_t>(m.type));
    PutFixed8(&out, m.quality);
  }
  for (uint8_t cell : QualityMap(data.minutiae))
    PutFixed8(&out, cell);
  out.append(total - kCrcSize - out.size(), '\0');
  PutFixed32(&out, Crc32(out));
  return out;
}

TemplateData DecodeTemplate(std::string_view bytes) {
  if (bytes.size() < kTemplateMinSize)
    Fail("shorter than " + std::to_string(kTemplateMinSize) + " bytes");
  if (bytes.size() > kTemplateMaxSize)
    Fail("longer than " + std::to_string(kTemplateMaxSize) + " bytes");
  if (bytes.substr(0, sizeof kMagic) != std::string_view(kMagic, sizeof kMagic))
    Fail("bad magic");
  uint32_t stored_crc = DecodeFixed32(bytes.data() + bytes.size() - kCrcSize);
  if (Crc32(bytes.substr(0, bytes.size() - kCrcSize)) != stored_crc)
    Fail("checksum mismatch");

  // The sizes checked above cover the header; the reader still bounds every read.
  Reader in(bytes.substr(0, bytes.size() - kCrcSize));
  in.Skip(sizeof kMagic);
  uint8_t major = in.GetFixed8();
  uint8_t minor = in.GetFixed8();
  if (major != kTemplateFormatMajor || minor != kTemplateFormatMinor)
    Fail("unsupported format " + std::to_string(major) + "." + std::to_string(minor));
  if (in.GetFixed16() != bytes.size())
    Fail("size field does not match the byte count");
  TemplateData data;
  data.instance_id = in.GetFixed64();
  data.kind = static_cast<TemplateKind>(in.GetFixed8());
  if (data.kind != TemplateKind::kCapture && data.kind != TemplateKind::kEnrolment)
    Fail("unknown template kind");
  data.placements = in.GetFixed8();
  if (data.placements < 1 || data.placements > kMaxPlacements)
    Fail("placement count out of range");
  size_t count = in.GetFixed16();
  if (count > kMaxTemplateMinutiae)
    Fail("too many minutiae");
  if (TotalSize(count) != bytes.size())
    Fail("size does not fit the minutia count");
  data.minutiae.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    Minutia m;
    m.x = static_cast<int16_t>(in.GetFixed16());
    m.y = static_cast<int16_t>(in.GetFixed16());
    m.angle = in.GetFixed16();
    m.type = static_cast<MinutiaType>(in.GetFixed8());
    m.quality = in.GetFixed8();
    if (const char* fault = MinutiaFault(m))
      Fail(fault);
    data.minutiae.push_back(m);
  }
  std::array<uint8_t, kMapSize> map = QualityMap(data.minutiae);
  std::string_view stored_map = in.GetBytes(kMapSize);
  for (size_t i = 0; i < kMapSize; ++i)
    if (static_cast<uint8_t>(stored_map[i]) != map[i])
      Fail("quality map does not fit the minutiae");
  while (!in.empty())
    if (in.GetFixed8() != 0)
      Fail("non-zero padding");
  return data;
}

}  // namespace vantera
