#include "fingerprint/fp_template.h"

#include <gtest/gtest.h>

#include "fingerprint/finger_random.h"
#include "fingerprint/simulated_finger.h"

namespace vantera {
namespace {

TemplateData Sample(size_t count, uint64_t seed = 1) {
  FingerRandom rng(seed);
  TemplateData data;
  data.instance_id = 0x0123456789ABCDEFull;
  data.kind = TemplateKind::kEnrolment;
  data.placements = 4;
  for (size_t i = 0; i < count; ++i) {
    Minutia m;
    m.x = static_cast<int16_t>(rng.Int(kCoordMin, kCoordMax));
    m.y = static_cast<int16_t>(rng.Int(kCoordMin, kCoordMax));
    m.angle = static_cast<uint16_t>(rng.Int(0, 359));
    m.type = rng.Chance(0.5) ? MinutiaType::kEnding : MinutiaType::kBifurcation;
    m.quality = static_cast<uint8_t>(rng.Int(0, 100));
    data.minutiae.push_back(m);
  }
  return data;
}

// Replaces the checksum so that only the field under test is wrong.
Bytes Reseal(Bytes bytes) {
  EncodeFixed32(bytes.data() + bytes.size() - 4,
                Crc32(std::string_view(bytes).substr(0, bytes.size() - 4)));
  return bytes;
}

TEST(TemplateBytes, LayoutIsExact) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the published check value
  TemplateData data;
  data.instance_id = 0x1122334455667788ull;
  data.kind = TemplateKind::kCapture;
  data.placements = 1;
  data.minutiae = {{100, -2, 359, MinutiaType::kBifurcation, 77}};
  Bytes b = EncodeTemplate(data);
  ASSERT_EQ(b.size(), 300u);  // padded up to the minimum
  const std::string header("VFPT\x01\x00\x2C\x01\x88\x77\x66\x55\x44\x33\x22\x11\x01\x01\x01\x00",
                           20);
  EXPECT_EQ(b.substr(0, 20), header);
  EXPECT_EQ(b.substr(20, 8), std::string("\x64\x00\xFE\xFF\x67\x01\x02\x4D", 8));
  // y = -2 lies outside the sensor window: the quality map stays empty, as does padding.
  EXPECT_EQ(b.substr(28, 300 - 28 - 4), std::string(300 - 32, '\0'));
  EXPECT_EQ(DecodeFixed32(b.data() + 296), Crc32(std::string_view(b).substr(0, 296)));

  data.minutiae[0].y = 499;  // bottom row, cell (row 7, column 100 * 8 / 400 = 2)
  b = EncodeTemplate(data);
  EXPECT_EQ(b[28 + 7 * 8 + 2], '\x01');
}

TEST(TemplateBytes, RoundTripIsByteExactAndSizesStayInRange) {
  for (size_t count : {size_t{0}, size_t{1}, size_t{30}, size_t{60}, kMaxTemplateMinutiae}) {
    TemplateData data = Sample(count, count + 7);
    Bytes b = EncodeTemplate(data);
    EXPECT_GE(b.size(), kTemplateMinSize);
    EXPECT_LE(b.size(), kTemplateMaxSize);
    TemplateData back = DecodeTemplate(b);
    EXPECT_EQ(back, data);
    EXPECT_EQ(EncodeTemplate(back), b);
  }
  TemplateData too_many = Sample(kMaxTemplateMinutiae + 1);
  EXPECT_THROW(EncodeTemplate(too_many), EFPError);
  TemplateData bad = Sample(3);
  bad.minutiae[1].angle = 360;
  EXPECT_THROW(EncodeTemplate(bad), EFPError);
  bad = Sample(3);
  bad.placements = 0;
  EXPECT_THROW(EncodeTemplate(bad), EFPError);
}

TEST(TemplateBytes, DamagedBytesAreRejected) {
  const Bytes good = EncodeTemplate(Sample(40));
  ASSERT_NO_THROW(DecodeTemplate(good));
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_THROW(DecodeTemplate(std::string_view(good).substr(0, n)), EFPError) << n;
  EXPECT_THROW(DecodeTemplate(good + '\0'), EFPError);
  EXPECT_THROW(DecodeTemplate(Bytes(kTemplateMaxSize + 1, 'V')), EFPError);
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x10);
    EXPECT_THROW(DecodeTemplate(bad), EFPError) << "byte " << i;
  }
}

TEST(TemplateBytes, FieldFaultsAreRejectedEvenWithAGoodChecksum) {
  const Bytes big = EncodeTemplate(Sample(40));    // 408 bytes, no padding
  const Bytes small = EncodeTemplate(Sample(10));  // padded to 300 bytes
  ASSERT_EQ(big.size(), 408u);
  auto rejects = [](const Bytes& good, size_t offset, char value, const char* what) {
    Bytes bad = good;
    bad[offset] = value;
    try {
      DecodeTemplate(Reseal(bad));
      ADD_FAILURE() << "accepted: " << what;
    } catch (const EFPError& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  };
  rejects(big, 0, 'X', "bad magic");
  rejects(big, 4, 2, "unsupported format");
  rejects(big, 6, static_cast<char>(0x99), "size field");
  rejects(big, 16, 3, "unknown template kind");
  rejects(big, 17, 9, "placement count");
  rejects(big, 18, 41, "size does not fit");
  rejects(big, 18, static_cast<char>(0xFF), "too many minutiae");
  rejects(big, 20 + 1, 0x7F, "position");  // x far beyond the coordinate range
  rejects(big, 20 + 5, 0x02, "angle");     // angle 512 or more
  rejects(big, 20 + 6, 3, "unknown minutia type");
  rejects(big, 20 + 7, 101, "quality");
  rejects(big, 20 + 320 + 3, static_cast<char>(0xEE), "quality map");
  rejects(small, small.size() - 5, 1, "padding");
}

}  // namespace
}  // namespace vantera
