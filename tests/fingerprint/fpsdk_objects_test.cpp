#include "fingerprint/fpsdk_objects.h"

#include <gtest/gtest.h>

#include "fingerprint/finger_random.h"
#include "fingerprint/simulated_finger.h"

namespace vantera {
namespace {

IFPTemplate Capture(const char* finger, FingerRandom& rng) {
  TemplateData data;
  data.instance_id = rng.Next();
  data.minutiae = PlaceFinger(PatternOfFinger(finger), rng);
  return IFPTemplate(data);
}

TEST(FPTemplate, EmptyTemplateRaisesOnEveryRead) {
  IFPTemplate t = CoFPTemplate::Create();
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_THROW(t.ReadInstanceId(), EFPError);
  EXPECT_THROW(t.ReadVersion(), EFPError);
  EXPECT_THROW(t.ExportBytes(), EFPError);
  FingerRandom rng(3);
  IFPTemplate full = Capture("1/a", rng);
  CoFPVerify verify = CoFPVerify::Create();
  EXPECT_THROW(verify.CompareTemplates(t, full), EFPError);
  EXPECT_THROW(verify.CompareTemplates(full, t), EFPError);
}

TEST(FPTemplate, ExportedBytesImportExactlyAndCompareWithAFreshCapture) {
  FingerRandom rng(11);
  IFPTemplate captured = Capture("12345/oikea etusormi", rng);
  Bytes stored = captured.ExportBytes();
  EXPECT_GE(stored.size(), 300u);
  EXPECT_LE(stored.size(), 1500u);

  IFPTemplate imported = CoFPTemplate::Create();
  imported.ImportBytes(stored);
  EXPECT_EQ(imported.ExportBytes(), stored);
  EXPECT_EQ(imported.ReadInstanceId(), captured.ReadInstanceId());
  EXPECT_EQ(imported.ReadInstanceId().size(), 16u);
  EXPECT_EQ(imported.ReadVersion(), "1.0");

  CoFPVerify verify = CoFPVerify::Create();
  IFPTemplate fresh = Capture("12345/oikea etusormi", rng);
  EXPECT_NE(fresh.ExportBytes(), stored);  // every placement is a new template
  FPVerifyResult same = verify.CompareTemplates(imported, fresh);
  EXPECT_NE(same.verified, 0);
  EXPECT_GE(same.score, same.threshold);
  IFPTemplate other = Capture("12345/vasen etusormi", rng);
  EXPECT_EQ(verify.CompareTemplates(imported, other).verified, 0);
}

TEST(FPTemplate, MalformedImportRaisesAndKeepsTheTemplate) {
  FingerRandom rng(5);
  IFPTemplate t = Capture("7/peukalo", rng);
  const Bytes before = t.ExportBytes();
  for (const Bytes& bad : {Bytes(), Bytes("VFPT"), Bytes(400, '\0'), before.substr(1),
                           Bytes(before).replace(40, 1, "\x7F")}) {
    EXPECT_THROW(t.ImportBytes(bad), EFPError);
    EXPECT_EQ(t.ExportBytes(), before);
  }
  IFPTemplate empty = CoFPTemplate::Create();
  EXPECT_THROW(empty.ImportBytes(before.substr(0, 299)), EFPError);
  EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
}  // namespace vantera
