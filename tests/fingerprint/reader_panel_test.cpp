#include "fingerprint/reader_panel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <vector>

#include "tests/fingerprint/qt_app.h"

namespace vantera {
namespace {

TEST(ReaderPanel, PlacesTheNamedFingerOnItsControl) {
  TestApp();
  TFPGetTemplateX capture;
  TFPRegisterTemplateX enrol;
  capture.InitControl();
  enrol.InitControl();
  SimulatedReader reader(capture, enrol, 8);
  ReaderPanel panel(reader, ReaderTarget::kCapture);
  std::vector<IFPTemplate> done;
  QObject::connect(&capture, &FPControl::OnDone, [&](const IFPTemplate& t) { done.push_back(t); });
  EXPECT_EQ(panel.PlaceButton()->text(), "Aseta sormi");

  panel.PlaceButton()->click();
  EXPECT_EQ(panel.StatusLabel()->text(), "Anna sormen nimi.");
  panel.NameEdit()->setText(QString::fromUtf8("12/oikea etusormi \xC3\xA4"));
  panel.PlaceButton()->click();
  EXPECT_EQ(panel.StatusLabel()->text(), "Lukija ei odota sormea.");
  EXPECT_TRUE(done.empty());

  capture.Start();
  enrol.Start();  // the panel names its control: the capture takes it
  emit panel.NameEdit()->returnPressed();
  EXPECT_EQ(panel.StatusLabel()->text(), "Sormi luettu.");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(enrol.PlacementsDone(), 0);
  // The typed name reaches the reader as Windows-1252.
  capture.Start();
  reader.Place("12/oikea etusormi \xE4", ReaderTarget::kCapture);
  ASSERT_EQ(done.size(), 2u);
  EXPECT_NE(CoFPVerify().CompareTemplates(done[0], done[1]).verified, 0);

  EXPECT_EQ(ReaderPanel::StatusText({PlaceOutcome::kEnrolled, 2, 4}),
            QString::fromUtf8("Rekisteröinti: 2/4 luettu."));
  EXPECT_EQ(ReaderPanel::StatusText({PlaceOutcome::kEnrolled, 4, 4}),
            QString::fromUtf8("Rekisteröinti valmis."));
}

}  // namespace
}  // namespace vantera
