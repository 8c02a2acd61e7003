// The libfprint backend behind the two controls, driven through libfprint's virtual image
// device with rendered fingers.
#include "fingerprint/libfprint_reader.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fingerprint/image/finger_render.h"
#include "fingerprint/libfprint_devices.h"
#include "fingerprint/matcher.h"
#include "virtual_image_feeder.h"

namespace vantera {
namespace {

// The two controls with the backend behind them, and what they raised.
struct Workstation {
  VirtualImageFeeder& feeder;
  TFPGetTemplateX capture;
  TFPRegisterTemplateX enrolment;
  std::vector<std::string> log;
  std::vector<IFPTemplate> captured;
  std::vector<IFPTemplate> enrolled;
  int waiting = 0;  // times the device waited for a finger
  int ended = 0;    // captures that came back
  bool all_on_gui_thread = true;
  std::unique_ptr<LibfprintReader> reader;

  explicit Workstation(VirtualImageFeeder& f, const std::string& choice = "LIBFPRINT") : feeder(f) {
    reader = std::make_unique<LibfprintReader>(
        capture, enrolment, choice, [this](const std::string& line) { log.push_back(line); }, 7);
    auto on_done = [this](std::vector<IFPTemplate>& into) {
      return [this, &into](const IFPTemplate& t) {
        all_on_gui_thread &= QThread::currentThread() == QCoreApplication::instance()->thread();
        into.push_back(t);
      };
    };
    QObject::connect(&capture, &FPControl::OnDone, on_done(captured));
    QObject::connect(&enrolment, &FPControl::OnDone, on_done(enrolled));
    QObject::connect(reader.get(), &LibfprintReader::WaitingForFinger, [this] { ++waiting; });
    QObject::connect(reader.get(), &LibfprintReader::CaptureEnded, [this] { ++ended; });
    capture.InitControl();
    enrolment.InitControl();
    reader->Open();
  }

  // Waits until the device waits for a finger, then sends the image.
  void Place(const GreyImage& image) {
    int before = ended;
    ASSERT_TRUE(RunUntil([&] { return reader->Capturing() && waiting > waited_; }));
    waited_ = waiting;
    feeder.SendImage(image);
    ASSERT_TRUE(RunUntil([&] { return ended > before; }));
  }
  void WaitForFinger() {
    ASSERT_TRUE(RunUntil([&] { return reader->Capturing() && waiting > waited_; }));
    waited_ = waiting;
  }

  int waited_ = 0;
};

TEST(LibfprintReader, ListsTheVirtualImageDevice) {
  VirtualImageFeeder feeder;
  std::ostringstream out;
  EXPECT_EQ(ListReaders(out), 0);
  EXPECT_NE(out.str().find("virtual_image\tVirtual image device for debugging\t0\timages\n"),
            std::string::npos)
      << out.str();
}

TEST(LibfprintReader, EnrolsFromFourCapturesAndIdentifiesFromTheFifth) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  ASSERT_TRUE(RunUntil([&] { return w.reader->DeviceOpen(); }));
  ASSERT_FALSE(w.log.empty());
  EXPECT_EQ(w.log[0], "Lukija: Virtual image device for debugging (virtual_image, id 0)");
  EXPECT_FALSE(w.reader->Capturing());  // nothing armed yet

  // Enrolment: four impressions of A, each shown as it came, byte for byte.
  w.enrolment.Start();
  for (int i = 1; i <= kEnrolmentPlacements; ++i) {
    GreyImage image = RenderFinger("1001/A", static_cast<uint64_t>(i));
    ASSERT_NO_FATAL_FAILURE(w.Place(image));
    EXPECT_EQ(w.enrolment.LastImage(), image) << "placement " << i;
    EXPECT_EQ(w.enrolment.PlacementsDone(), i < kEnrolmentPlacements ? i : 0);
  }
  ASSERT_EQ(w.enrolled.size(), 1u);
  EXPECT_EQ(w.enrolled[0].Data().kind, TemplateKind::kEnrolment);
  EXPECT_EQ(w.enrolled[0].Data().placements, kEnrolmentPlacements);
  EXPECT_FALSE(w.enrolment.IsArmed());
  EXPECT_TRUE(w.captured.empty());
  // Nothing armed: no capture waits on the device.
  ASSERT_TRUE(RunUntil([&] { return !w.reader->Capturing(); }));

  // A fifth impression of A is identified; B's is not.
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("1001/A", 5)));
  ASSERT_EQ(w.captured.size(), 1u);
  EXPECT_EQ(w.captured[0].Data().kind, TemplateKind::kCapture);
  EXPECT_TRUE(MatchMinutiae(w.captured[0].Data().minutiae, w.enrolled[0].Data().minutiae).same);

  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("2002/B", 1)));
  ASSERT_EQ(w.captured.size(), 2u);
  EXPECT_FALSE(MatchMinutiae(w.captured[1].Data().minutiae, w.enrolled[0].Data().minutiae).same);
  EXPECT_NE(w.captured[0].Data().instance_id, w.captured[1].Data().instance_id);

  // Every OnDone came on the GUI thread, through the event loop.
  EXPECT_TRUE(w.all_on_gui_thread);
}

TEST(LibfprintReader, EnrolmentRefusesAnotherFingerAndStaysArmed) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  w.enrolment.Start();
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("1001/A", 1)));
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("2002/B", 1)));
  EXPECT_EQ(w.enrolment.PlacementsDone(), 1);
  EXPECT_TRUE(w.enrolment.IsArmed());
  EXPECT_EQ(w.log.back(), "Eri sormi kuin ensimm\xE4isell\xE4 kerralla");
  EXPECT_TRUE(w.enrolled.empty());
}

TEST(LibfprintReader, RetryResultsLeaveTheControlArmed) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  w.capture.Start();
  const char* texts[] = {
      "Lukija: kuva ei kelpaa, sormi uudelleen",
      "Lukija: pyyhk\xE4isy oli liian lyhyt, sormi uudelleen",
      "Lukija: sormi ei ollut keskell\xE4, sormi uudelleen",
      "Lukija: nosta sormi ja aseta se uudelleen",
  };
  for (int code = 0; code < 4; ++code) {
    ASSERT_NO_FATAL_FAILURE(w.WaitForFinger());
    int before = w.ended;
    feeder.SendRetry(code);
    ASSERT_TRUE(RunUntil([&] { return w.ended > before; }));
    EXPECT_EQ(w.log.back(), texts[code]);
    EXPECT_TRUE(w.capture.IsArmed());
    EXPECT_TRUE(w.captured.empty());
  }
  // The capture started again by itself and takes the next finger.
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("1001/A", 1)));
  EXPECT_EQ(w.captured.size(), 1u);
}

TEST(LibfprintReader, DeviceErrorIsLoggedAndTheCaptureStartsAgain) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.WaitForFinger());
  int before = w.ended;
  feeder.SendError(FP_DEVICE_ERROR_PROTO);
  ASSERT_TRUE(RunUntil([&] { return w.ended > before; }));
  ASSERT_FALSE(w.log.empty());
  EXPECT_EQ(w.log.back().rfind("Lukijan virhe: ", 0), 0u) << w.log.back();
  EXPECT_TRUE(w.capture.IsArmed());
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("1001/A", 2)));
  EXPECT_EQ(w.captured.size(), 1u);
}

TEST(LibfprintReader, StopDuringTheWaitCancelsAndTheDeviceServesAgain) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.WaitForFinger());
  int before = w.ended;
  w.capture.Stop();
  ASSERT_TRUE(RunUntil([&] { return w.ended > before && !w.reader->Capturing(); }));
  EXPECT_TRUE(w.captured.empty());
  size_t lines = w.log.size();

  // Armed again: a fresh capture takes the finger.
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.Place(RenderFinger("1001/A", 3)));
  EXPECT_EQ(w.captured.size(), 1u);
  EXPECT_EQ(w.log.size(), lines);  // the cancel wrote nothing

  // The reader goes while a capture waits: the capture is cancelled, the device closed.
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.WaitForFinger());
  w.reader.reset();
  RunUntil([] { return false; }, 200);
  EXPECT_EQ(w.captured.size(), 1u);
}

// libfprint raises "removed" on a device that was unplugged; raised here on the virtual one
// (libfprint then handles it as an unplugged device).
TEST(LibfprintReader, AnUnpluggedReaderIsLoggedAndLookedForAtTheNextArming) {
  VirtualImageFeeder feeder;
  Workstation w(feeder);
  int disconnected = 0;
  QObject::connect(&w.capture, &FPControl::OnDevDisconnected, [&] { ++disconnected; });
  w.capture.Start();
  ASSERT_NO_FATAL_FAILURE(w.WaitForFinger());
  int before = w.ended;
  g_signal_emit_by_name(w.reader->Device(), "removed");
  ASSERT_TRUE(RunUntil([&] { return w.ended > before && !w.reader->Capturing(); }));
  EXPECT_EQ(w.log.back(),
            "Lukija irrotettu: Virtual image device for debugging (virtual_image, id 0)");
  EXPECT_EQ(disconnected, 1);
  EXPECT_FALSE(w.reader->HasDevice());
  EXPECT_TRUE(w.capture.IsArmed());
  RunUntil([] { return false; }, 300);  // the dropped device's close completes
  EXPECT_FALSE(w.reader->Capturing());  // still armed, but no device until an arming

  // libfprint took the unplugged device out of its list once it was closed: the next
  // arming looks again, says so once, and the control stays armed. (A reader plugged in
  // again would be a new device in that list; the virtual device cannot be replugged.)
  w.capture.Stop();
  w.capture.Start();
  EXPECT_EQ(w.log.back(), "Lukijaa ei l\xF6ytynyt (Laite=LIBFPRINT)");
  EXPECT_TRUE(w.capture.IsArmed());
  EXPECT_FALSE(w.reader->Capturing());
  w.enrolment.Start();
  EXPECT_EQ(w.log.size(), 3u);
  EXPECT_TRUE(w.captured.empty());
}

TEST(LibfprintReader, ADeviceWithoutImagesIsRefusedAndTheControlsDisabled) {
  VirtualImageFeeder feeder;
  char folder[] = "/tmp/vantera-fpdev-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  std::string socket = std::string(folder) + "/device.sock";
  ::setenv("FP_VIRTUAL_DEVICE", socket.c_str(), 1);
  ::unsetenv("FP_VIRTUAL_IMAGE");
  {
    Workstation w(feeder, "virtual_device");
    ASSERT_EQ(w.log.size(), 1u);
    EXPECT_EQ(w.log[0],
              "Lukija Virtual device for debugging (virtual_device, id 0) ei anna kuvia "
              "(tunnistus lukijassa): lukijaa ei k\xE4ytet\xE4, sormenj\xE4lkien luku ei ole "
              "k\xE4yt\xF6ss\xE4");
    EXPECT_TRUE(w.reader->Refused());
    EXPECT_EQ(w.capture.Start(), kStatusNoReader);
    EXPECT_EQ(w.enrolment.Start(), kStatusNoReader);
    EXPECT_FALSE(w.capture.IsArmed());
    EXPECT_FALSE(w.reader->Capturing());
  }
  ::unsetenv("FP_VIRTUAL_DEVICE");
  ::rmdir(folder);
}

TEST(LibfprintReader, NoDeviceIsLoggedOnceAndTheControlsStayUsable) {
  VirtualImageFeeder feeder;
  Workstation w(feeder, "no-such-driver");
  ASSERT_EQ(w.log.size(), 1u);
  EXPECT_EQ(w.log[0], "Lukijaa ei l\xF6ytynyt (Laite=no-such-driver)");
  EXPECT_EQ(w.capture.Start(), kStatusOk);
  EXPECT_FALSE(w.reader->HasDevice());
  EXPECT_FALSE(w.reader->Capturing());
  w.capture.Stop();
  w.capture.Start();  // looks again, says nothing new
  EXPECT_EQ(w.log.size(), 1u);
}

}  // namespace
}  // namespace vantera
