// The fingerprint pictures of the main window, offscreen: the capture control's holder on
// "Seuranta" shows the last captured image; the enrolment control's holder on
// "Rekisteröinti" shows each placement with its count.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPixmap>

#include "app/fingerprint_link.h"
#include "app/workstation_wiring.h"
#include "fingerprint/image/finger_render.h"
#include "tests/app/window_fixture.h"

namespace vantera {
namespace {

TEST(FingerprintPicture, WindowShowsTheCapturedImageAndTheEnrolmentCount) {
  testing::TempDir runtime;
  testing::WindowFixture f;
  TfrmVantera& w = f.window();
  w.SetParts(MakeWorkstationParts(w, CommandLine{}));
  auto* fp = dynamic_cast<WorkstationFingerprints*>(w.Parts().fingerprint.get());
  ASSERT_NE(fp, nullptr);
  FingerprintView* capture_view = fp->CaptureView();
  FingerprintView* enrol_view = fp->EnrolmentView();
  ASSERT_NE(capture_view, nullptr);
  ASSERT_NE(enrol_view, nullptr);
  // Each picture sits in its control's holder on its tab.
  EXPECT_EQ(capture_view->parentWidget(), f.ui().FPGetTemplateX);
  EXPECT_EQ(enrol_view->parentWidget(), f.ui().FPRegTemplateX);
  EXPECT_TRUE(capture_view->Shown().isNull());
  EXPECT_TRUE(capture_view->PictureLabel()->pixmap().isNull());

  fp->FPGetTemplateX().InitControl();
  fp->FPRegTemplateX().InitControl();
  fp->FPGetTemplateX().Start();
  ASSERT_EQ(fp->Reader().Place("12345/oikea etusormi", ReaderTarget::kCapture).outcome,
            PlaceOutcome::kCaptured);
  const GreyImage& captured = fp->FPGetTemplateX().LastImage();
  ASSERT_EQ(captured.width, kImageWidth);
  ASSERT_EQ(captured.height, kImageHeight);
  const QImage& shown = capture_view->Shown();
  ASSERT_EQ(shown.size(), QSize(kImageWidth, kImageHeight));
  for (int y : {0, kImageHeight / 2, kImageHeight - 1})
    for (int x : {0, kImageWidth / 3, kImageWidth - 1})
      EXPECT_EQ(qGray(shown.pixel(x, y)), captured.at(x, y)) << x << "," << y;
  EXPECT_FALSE(capture_view->PictureLabel()->pixmap().isNull());
  EXPECT_EQ(capture_view->CountLabel()->text(), "");
  EXPECT_TRUE(enrol_view->Shown().isNull());

  // Enrolment: every placement is shown with its count; a rejected one keeps the count.
  fp->FPRegTemplateX().Start();
  for (int n = 1; n <= kEnrolmentPlacements; ++n) {
    if (n == 3) {
      PlaceReply other = fp->Reader().Place("999/vasen peukalo", ReaderTarget::kEnrolment);
      EXPECT_EQ(other.outcome, PlaceOutcome::kRejected);
      EXPECT_EQ(enrol_view->CountLabel()->text(), "2/4");
    }
    PlaceReply r = fp->Reader().Place("12345/oikea etusormi", ReaderTarget::kEnrolment);
    EXPECT_EQ(r.outcome, PlaceOutcome::kEnrolled);
    EXPECT_EQ(enrol_view->CountLabel()->text(), QString("%1/4").arg(n));
    EXPECT_EQ(enrol_view->Shown(), FingerprintView::ToQImage(fp->FPRegTemplateX().LastImage()));
  }
  // The capture's picture stays as it was.
  EXPECT_EQ(capture_view->Shown(), FingerprintView::ToQImage(captured));
}

}  // namespace
}  // namespace vantera
