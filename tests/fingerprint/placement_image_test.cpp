// The image that comes with a placement: PlacementImage before OnDone, with the count of
// the running enrolment; none for a placement without an image or on an idle control.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fingerprint/fpsdk_controls.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"

namespace vantera {
namespace {

struct EventLog {
  std::vector<std::string> events;  // "image d/n" and "done"
  explicit EventLog(FPControl& control) {
    QObject::connect(
        &control, &FPControl::PlacementImage, [this](const GreyImage&, int done, int needed) {
          events.push_back("image " + std::to_string(done) + "/" + std::to_string(needed));
        });
    QObject::connect(&control, &FPControl::OnDone,
                     [this](const IFPTemplate&) { events.push_back("done"); });
  }
};

TEST(PlacementImage, ComesBeforeOnDoneWithTheEnrolmentCount) {
  const GreyImage a0 = RenderFinger("5/a", 0), a1 = RenderFinger("5/a", 1);
  const GreyImage b0 = RenderFinger("5/b", 0);
  const Minutiae ma0 = ExtractMinutiae(a0).minutiae, ma1 = ExtractMinutiae(a1).minutiae;
  const Minutiae mb0 = ExtractMinutiae(b0).minutiae;

  TFPGetTemplateX capture;
  EventLog clog(capture);
  capture.InitControl();
  EXPECT_FALSE(capture.TakePlacement(ma0, 1, &a0));  // idle: nothing, not even the image
  EXPECT_TRUE(capture.LastImage().empty());
  capture.Start();
  EXPECT_TRUE(capture.TakePlacement(ma0, 2, nullptr));  // no image: OnDone alone
  capture.Start();
  EXPECT_TRUE(capture.TakePlacement(ma1, 3, &a1));
  EXPECT_EQ(clog.events, (std::vector<std::string>{"done", "image 1/1", "done"}));
  EXPECT_EQ(capture.LastImage(), a1);

  TFPRegisterTemplateX enrol;
  EventLog elog(enrol);
  enrol.InitControl();
  enrol.Start();
  enrol.TakePlacement(ma0, 1, &a0);
  enrol.TakePlacement(mb0, 1, &b0);  // another finger: shown, not counted
  EXPECT_EQ(enrol.LastImage(), b0);
  enrol.TakePlacement(ma1, 1, &a1);
  for (uint64_t p = 2; p < 4; ++p) {
    GreyImage image = RenderFinger("5/a", p);
    enrol.TakePlacement(ExtractMinutiae(image).minutiae, 1, &image);
  }
  EXPECT_EQ(elog.events, (std::vector<std::string>{"image 1/4", "image 1/4", "image 2/4",
                                                   "image 3/4", "image 4/4", "done"}));
}

}  // namespace
}  // namespace vantera
