// The libfprint reader backend: a fingerprint device of libfprint behind the capture and
// enrolment controls, in place of the simulated reader.
//
// 1. Open (start-up) picks the device of the choice (libfprint_devices.h). A device that
//    delivers no images (a match-on-chip reader) is refused: the log names it and why, and
//    both controls are disabled. No device: the log says so and the controls stay usable;
//    the next arming looks again.
// 2. While either control is armed, one image capture waits for the finger on the device.
//    Its image goes through the extractor into a placement for the enrolment control when
//    that is armed, else for the capture control (as the simulated reader's kAuto). When a
//    control is still armed afterwards (an enrolment needs more placements, or an OnDone
//    handler armed again), the next capture starts.
// 3. When no control is armed any more, the running capture is cancelled.
// 4. A retry result of the device (too short, not centred, remove finger) leaves the
//    controls armed, is written to the log and the capture starts again; a device error is
//    logged and the capture starts again after kErrorPause.
// 5. A device unplugged is logged and dropped; the next arming looks for one again.
//
// Everything runs on the GUI thread: libfprint's asynchronous calls complete on GLib's
// default main context, which Qt's event loop iterates on Linux; when the event loop is not
// GLib's, a timer iterates that context from the Qt loop. Nothing here blocks.
// Log texts are Windows-1252. The controls must outlive the reader; a capture still running
// when the reader goes is cancelled and its device closed without it.
#pragma once

// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <fprint.h>
#pragma pop_macro("signals")

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "fingerprint/finger_random.h"
#include "fingerprint/fpsdk_controls.h"

namespace vantera {

class LibfprintReader : public QObject {
  Q_OBJECT

 public:
  using Log = std::function<void(const std::string& text)>;
  static constexpr std::chrono::milliseconds kErrorPause{1000};

  // choice: the setting [Lukija] Laite (LIBFPRINT, a device id or a driver name).
  // seed 0 takes one from the system's random source (for the instance ids).
  LibfprintReader(TFPGetTemplateX& capture, TFPRegisterTemplateX& enrolment, std::string choice,
                  Log log, uint64_t seed = 0);
  ~LibfprintReader() override;

  // Looks for the device and starts opening it.
  void Open();

  bool HasDevice() const;
  bool Refused() const { return refused_; }
  bool DeviceOpen() const { return open_; }
  bool Capturing() const { return capturing_; }
  // The device in use (held by the reader), null when none.
  FpDevice* Device() const;

 signals:
  // The device waits for a finger (libfprint's finger status "needed").
  void WaitingForFinger();
  // A capture came back (image, retry, error or cancelled) and was handled.
  void CaptureEnded();

 public:
  // What libfprint's pending calls hold (defined in the .cpp).
  struct Link;

 private:
  void Update();
  bool FindDevice();
  void StartCapture();
  void Opened(bool ok, const std::string& error);
  void Captured(FpImage* image, const GError* error);
  void Deliver(FpImage* image);
  void DeviceRemoved();
  void DropDevice();

  TFPGetTemplateX& capture_;
  TFPRegisterTemplateX& enrolment_;
  std::string choice_;
  Log log_;
  FingerRandom random_;
  std::shared_ptr<Link> link_;
  QTimer glib_pump_;  // only when Qt's event loop is not GLib's
  bool refused_ = false;
  bool opening_ = false;
  bool open_ = false;
  bool capturing_ = false;
  bool delivering_ = false;
  bool paused_ = false;        // after a device error, until kErrorPause has passed
  bool removed_ = false;       // unplugged, until a device is found again
  bool missing_said_ = false;  // "not found" logged, until a device is found
  bool search_ = false;        // an arming asked for a device
  bool closing_ = false;       // a close of the dropped device is running
};

}  // namespace vantera
