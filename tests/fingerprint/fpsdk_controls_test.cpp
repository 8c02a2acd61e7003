#include "fingerprint/fpsdk_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fingerprint/simulated_finger.h"
#include "fingerprint/simulated_reader.h"

namespace vantera {
namespace {

// Records every OnDone of a control.
struct DoneLog {
  std::vector<IFPTemplate> done;
  explicit DoneLog(FPControl& control) {
    QObject::connect(&control, &FPControl::OnDone,
                     [this](const IFPTemplate& t) { done.push_back(t); });
  }
};

Minutiae Placement(const char* finger, FingerRandom& rng) {
  return PlaceFinger(PatternOfFinger(finger), rng);
}

TEST(FPControls, CaptureRaisesOnDoneOncePerArming) {
  FingerRandom rng(1);
  TFPGetTemplateX capture;
  DoneLog log(capture);
  int connected = 0;
  QObject::connect(&capture, &FPControl::OnDevConnected, [&] { ++connected; });

  // Not initialised: Start is refused and nothing is armed.
  EXPECT_EQ(capture.Start(), kStatusNotInitialised);
  EXPECT_FALSE(capture.TakePlacement(Placement("1/a", rng), 1));
  EXPECT_EQ(capture.SetOwnerWindow(1, 0x1234), kStatusOk);
  EXPECT_EQ(capture.InitControl(), kStatusOk);
  EXPECT_EQ(connected, 1);

  // Start, placement: one OnDone; a second placement finds the control idle.
  EXPECT_EQ(capture.Start(QVariant()), kStatusOk);
  EXPECT_TRUE(capture.TakePlacement(Placement("1/a", rng), 0xABC));
  ASSERT_EQ(log.done.size(), 1u);
  EXPECT_EQ(log.done[0].ReadInstanceId(), "0000000000000ABC");
  EXPECT_EQ(log.done[0].Data().kind, TemplateKind::kCapture);
  EXPECT_FALSE(capture.IsArmed());
  EXPECT_FALSE(capture.TakePlacement(Placement("1/a", rng), 2));
  EXPECT_EQ(log.done.size(), 1u);

  // Stop disarms without OnDone.
  capture.Start();
  EXPECT_EQ(capture.Stop(), kStatusOk);
  EXPECT_FALSE(capture.TakePlacement(Placement("1/a", rng), 3));
  EXPECT_EQ(log.done.size(), 1u);
  EXPECT_EQ(capture.Stop(), kStatusOk);  // on an idle control

  // Start on an armed capture control is accepted; still one OnDone per placement.
  capture.Start();
  EXPECT_EQ(capture.Start(), kStatusOk);
  EXPECT_TRUE(capture.IsArmed());
  EXPECT_TRUE(capture.TakePlacement(Placement("1/a", rng), 4));
  EXPECT_EQ(log.done.size(), 2u);
  EXPECT_FALSE(capture.TakePlacement(Placement("1/a", rng), 5));
}

TEST(FPControls, OnDoneHandlerMayArmTheControlAgain) {
  FingerRandom rng(2);
  TFPGetTemplateX capture;
  capture.InitControl();
  int done = 0;
  QObject::connect(&capture, &FPControl::OnDone, [&](const IFPTemplate&) {
    ++done;
    EXPECT_FALSE(capture.IsArmed());
    capture.Start();
  });
  capture.Start();
  EXPECT_TRUE(capture.TakePlacement(Placement("2/b", rng), 1));
  EXPECT_TRUE(capture.IsArmed());
  EXPECT_TRUE(capture.TakePlacement(Placement("2/b", rng), 2));
  EXPECT_EQ(done, 2);
}

TEST(FPControls, EnrolmentTakesFourPlacementsOfOneFinger) {
  FingerRandom rng(3);
  TFPRegisterTemplateX enrol;
  DoneLog log(enrol);
  enrol.InitControl();
  EXPECT_FALSE(enrol.TakePlacement(Placement("3/c", rng), 1).taken);  // idle

  enrol.Start();
  for (int n = 1; n < kEnrolmentPlacements; ++n) {
    auto step = enrol.TakePlacement(Placement("3/c", rng), 1);
    EXPECT_TRUE(step.taken);
    EXPECT_EQ(step.done, n);
    EXPECT_EQ(step.needed, kEnrolmentPlacements);
  }
  EXPECT_TRUE(log.done.empty());
  // Another finger is not counted.
  auto rejected = enrol.TakePlacement(Placement("3/other", rng), 1);
  EXPECT_TRUE(rejected.rejected);
  EXPECT_FALSE(rejected.taken);
  EXPECT_EQ(rejected.done, kEnrolmentPlacements - 1);
  auto last = enrol.TakePlacement(Placement("3/c", rng), 0x77);
  EXPECT_EQ(last.done, kEnrolmentPlacements);
  ASSERT_EQ(log.done.size(), 1u);
  EXPECT_FALSE(enrol.IsArmed());
  const TemplateData& data = log.done[0].Data();
  EXPECT_EQ(data.kind, TemplateKind::kEnrolment);
  EXPECT_EQ(data.placements, kEnrolmentPlacements);
  EXPECT_EQ(log.done[0].ReadInstanceId(), "0000000000000077");

  // Stop in the middle drops the placements; so does Start on an armed enrolment.
  enrol.Start();
  enrol.TakePlacement(Placement("3/c", rng), 1);
  enrol.TakePlacement(Placement("3/c", rng), 1);
  enrol.Stop();
  EXPECT_EQ(enrol.PlacementsDone(), 0);
  EXPECT_FALSE(enrol.TakePlacement(Placement("3/c", rng), 1).taken);
  enrol.Start();
  enrol.TakePlacement(Placement("3/c", rng), 1);
  enrol.Start();
  EXPECT_EQ(enrol.PlacementsDone(), 0);
  EXPECT_EQ(enrol.TakePlacement(Placement("3/d", rng), 1).done, 1);  // a new first finger
  EXPECT_EQ(log.done.size(), 1u);
}

TEST(FPControls, EnrolledBytesCompareWithLaterCaptures) {
  TFPGetTemplateX capture;
  TFPRegisterTemplateX enrol;
  capture.InitControl();
  enrol.InitControl();
  SimulatedReader reader(capture, enrol, 99);
  Bytes stored;
  QObject::connect(&enrol, &FPControl::OnDone,
                   [&](const IFPTemplate& t) { stored = t.ExportBytes(); });
  std::vector<IFPTemplate> captured;
  QObject::connect(&capture, &FPControl::OnDone,
                   [&](const IFPTemplate& t) { captured.push_back(t); });

  enrol.Start();
  for (int i = 0; i < kEnrolmentPlacements; ++i)
    reader.Place("12345/oikea etusormi");
  ASSERT_FALSE(stored.empty());
  for (const char* finger : {"12345/oikea etusormi", "12345/vasen etusormi"}) {
    capture.Start();
    EXPECT_EQ(reader.Place(finger).outcome, PlaceOutcome::kCaptured);
  }
  ASSERT_EQ(captured.size(), 2u);
  IFPTemplate imported = CoFPTemplate::Create();
  imported.ImportBytes(stored);
  CoFPVerify verify = CoFPVerify::Create();
  EXPECT_NE(verify.CompareTemplates(imported, captured[0]).verified, 0);
  EXPECT_EQ(verify.CompareTemplates(imported, captured[1]).verified, 0);
}

TEST(SimulatedReader, RoutesToTheArmedControl) {
  TFPGetTemplateX capture;
  TFPRegisterTemplateX enrol;
  capture.InitControl();
  enrol.InitControl();
  SimulatedReader reader(capture, enrol, 5);
  DoneLog captures(capture);
  DoneLog enrolments(enrol);

  EXPECT_EQ(reader.Place("9/a").outcome, PlaceOutcome::kNoneArmed);
  capture.Start();
  enrol.Start();
  // Both armed: auto goes to the enrolment, an explicit target to its control.
  PlaceReply r = reader.Place("9/a");
  EXPECT_EQ(r, (PlaceReply{PlaceOutcome::kEnrolled, 1, kEnrolmentPlacements}));
  EXPECT_EQ(reader.Place("9/a", ReaderTarget::kCapture).outcome, PlaceOutcome::kCaptured);
  EXPECT_EQ(captures.done.size(), 1u);
  EXPECT_EQ(reader.Place("9/a", ReaderTarget::kCapture).outcome, PlaceOutcome::kNoneArmed);
  EXPECT_EQ(reader.Place("9/b", ReaderTarget::kEnrolment),
            (PlaceReply{PlaceOutcome::kRejected, 1, kEnrolmentPlacements}));
  enrol.Stop();
  EXPECT_EQ(reader.Place("9/a", ReaderTarget::kEnrolment).outcome, PlaceOutcome::kNoneArmed);
  capture.Start();
  EXPECT_EQ(reader.Place("9/a").outcome, PlaceOutcome::kCaptured);
  EXPECT_EQ(captures.done.size(), 2u);
  EXPECT_TRUE(enrolments.done.empty());
  // Each placement is a new template with a new instance id.
  EXPECT_NE(captures.done[0].ExportBytes(), captures.done[1].ExportBytes());
  EXPECT_NE(captures.done[0].ReadInstanceId(), captures.done[1].ReadInstanceId());
}

}  // namespace
}  // namespace vantera

namespace vantera {
namespace {

// What a reader backend sees of a control: ArmedChanged in order with OnDone, and Disable.
TEST(FPControls, ArmedChangedTellsTheBackendAndDisableRefusesStart) {
  FingerRandom rng(3);
  TFPGetTemplateX capture;
  std::vector<std::string> events;
  QObject::connect(&capture, &FPControl::ArmedChanged,
                   [&](bool armed) { events.push_back(armed ? "armed" : "disarmed"); });
  QObject::connect(&capture, &FPControl::OnDone, [&](const IFPTemplate&) {
    events.push_back(capture.IsArmed() ? "done while armed" : "done");
  });
  capture.Start();  // not initialised: nothing
  capture.InitControl();
  capture.Stop();  // idle: nothing
  capture.Start();
  capture.Start();
  capture.TakePlacement(Placement("1/a", rng), 1);
  capture.Start();
  capture.Stop();
  EXPECT_EQ(events,
            (std::vector<std::string>{"armed", "armed", "disarmed", "done", "armed", "disarmed"}));

  events.clear();
  capture.Start();
  capture.Disable();
  EXPECT_TRUE(capture.IsDisabled());
  EXPECT_FALSE(capture.IsArmed());
  EXPECT_EQ(capture.Start(), kStatusNoReader);
  EXPECT_FALSE(capture.IsArmed());
  EXPECT_FALSE(capture.TakePlacement(Placement("1/a", rng), 2));
  EXPECT_EQ(events, (std::vector<std::string>{"armed", "disarmed"}));
}

}  // namespace
}  // namespace vantera
