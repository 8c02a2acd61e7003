#include "fingerprint/libfprint_reader.h"

#include <QAbstractEventDispatcher>
#include <random>

#include "core/win1252.h"
#include "fingerprint/glib_ref.h"
#include "fingerprint/image/minutia_extract.h"
#include "fingerprint/libfprint_devices.h"

namespace vantera {

// What the asynchronous calls of libfprint hold: the context and the device, kept alive
// until the last call has completed, and the reader while it exists (null after).
struct LibfprintReader::Link {
  LibfprintReader* reader = nullptr;
  GRef<FpContext> context;
  GRef<FpDevice> device;
  GRef<GCancellable> cancel;  // of the running capture
  gulong removed_handler = 0;
  gulong finger_handler = 0;

  void Disconnect() {
    if (device && removed_handler != 0)
      g_signal_handler_disconnect(device.get(), removed_handler);
    if (device && finger_handler != 0)
      g_signal_handler_disconnect(device.get(), finger_handler);
    removed_handler = finger_handler = 0;
  }
  ~Link() { Disconnect(); }
};

namespace {

using LinkPtr = std::shared_ptr<LibfprintReader::Link>;

uint64_t SystemSeed() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

// A copy of the link handed to one asynchronous call, taken back by its callback.
gpointer Hold(const LinkPtr& link) {
  return new LinkPtr(link);
}

std::unique_ptr<LinkPtr> Release(gpointer data) {
  return std::unique_ptr<LinkPtr>(static_cast<LinkPtr*>(data));
}

void Closed(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<LinkPtr> link = Release(data);
  GError* error = nullptr;
  fp_device_close_finish(FP_DEVICE(source), result, &error);
  GErrorPtr owned(error);  // a device gone cannot be closed: nothing more to do
}

// Closes an open device once; the link lives until the close has completed.
void CloseDevice(const LinkPtr& link) {
  if (link->device && fp_device_is_open(link->device.get()))
    fp_device_close(link->device.get(), nullptr, Closed, Hold(link));
}

std::string Shown(const ReaderDevice& d) {
  return Utf8ToWin1252(d.name) + " (" + Utf8ToWin1252(d.driver) + ", id " + Utf8ToWin1252(d.id) +
         ")";
}

std::string RetryText(int code) {
  switch (code) {
    case FP_DEVICE_RETRY_TOO_SHORT:
      return "Lukija: pyyhk\xE4isy oli liian lyhyt, sormi uudelleen";
    case FP_DEVICE_RETRY_CENTER_FINGER:
      return "Lukija: sormi ei ollut keskell\xE4, sormi uudelleen";
    case FP_DEVICE_RETRY_REMOVE_FINGER:
      return "Lukija: nosta sormi ja aseta se uudelleen";
    default:
      return "Lukija: kuva ei kelpaa, sormi uudelleen";
  }
}

// A completed capture on its way to the reader. When the reader went first, the device is
// closed as the result goes.
struct CaptureResult {
  LinkPtr link;
  GRef<FpImage> image;
  GErrorPtr error;
  explicit CaptureResult(LinkPtr l) : link(std::move(l)) {}
  CaptureResult(const CaptureResult&) = delete;
  CaptureResult& operator=(const CaptureResult&) = delete;
  ~CaptureResult() {
    if (!link->reader)
      CloseDevice(link);
  }
};

}  // namespace

LibfprintReader::LibfprintReader(TFPGetTemplateX& capture, TFPRegisterTemplateX& enrolment,
                                 std::string choice, Log log, uint64_t seed)
    : capture_(capture),
      enrolment_(enrolment),
      choice_(std::move(choice)),
      log_(std::move(log)),
      random_(seed != 0 ? seed : SystemSeed()),
      link_(std::make_shared<Link>()) {
  link_->reader = this;
  link_->context.reset(fp_context_new());
  for (FPControl* control :
       {static_cast<FPControl*>(&capture_), static_cast<FPControl*>(&enrolment_)})
    connect(control, &FPControl::ArmedChanged, this, [this](bool armed) {
      search_ |= armed;  // an arming looks for a device when there is none
      Update();
    });
  // Qt on Linux normally runs GLib's main loop; otherwise the default context is iterated
  // from the Qt loop, so that libfprint's callbacks still arrive on this thread.
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr || !dispatcher->inherits("QEventDispatcherGlib")) {
    glib_pump_.setInterval(10);
    connect(&glib_pump_, &QTimer::timeout, this, [] {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
    });
    glib_pump_.start();
  }
}

LibfprintReader::~LibfprintReader() {
  link_->reader = nullptr;
  if (capturing_)
    g_cancellable_cancel(link_->cancel.get());  // the capture's callback closes the device
  else if (!opening_)
    CloseDevice(link_);
}

bool LibfprintReader::HasDevice() const {
  return link_->device != nullptr;
}

FpDevice* LibfprintReader::Device() const {
  return link_->device.get();
}

void LibfprintReader::Open() {
  if (FindDevice())
    Update();
}

// Takes the device of the choice when there is none; false when none can serve.
bool LibfprintReader::FindDevice() {
  if (refused_)
    return false;
  if (link_->device)
    return true;
  FpDevice* device = ChooseDevice(link_->context.get(), choice_);
  if (device == nullptr) {
    if (!missing_said_)
      log_("Lukijaa ei l\xF6ytynyt (Laite=" + Utf8ToWin1252(choice_) + ")");
    missing_said_ = true;  // said once until a device is found
    return false;
  }
  ReaderDevice d = DescribeDevice(device);
  if (!d.images) {
    refused_ = true;
    log_("Lukija " + Shown(d) +
         " ei anna kuvia (tunnistus lukijassa): lukijaa ei k\xE4ytet\xE4, "
         "sormenj\xE4lkien luku ei ole k\xE4yt\xF6ss\xE4");
    capture_.Disable();
    enrolment_.Disable();
    return false;
  }
  link_->device = AddRef(device);
  link_->removed_handler =
      g_signal_connect(device, "removed", G_CALLBACK(+[](FpDevice*, gpointer data) {
                         if (LibfprintReader* reader = static_cast<Link*>(data)->reader)
                           reader->DeviceRemoved();
                       }),
                       link_.get());
  link_->finger_handler = g_signal_connect(
      device, "notify::finger-status", G_CALLBACK(+[](FpDevice* dev, GParamSpec*, gpointer data) {
        LibfprintReader* reader = static_cast<Link*>(data)->reader;
        if (reader && (fp_device_get_finger_status(dev) & FP_FINGER_STATUS_NEEDED))
          emit reader->WaitingForFinger();
      }),
      link_.get());
  log_((removed_ || missing_said_ ? "Lukija liitetty: " : "Lukija: ") + Shown(d));
  removed_ = false;
  missing_said_ = false;
  opening_ = true;
  fp_device_open(
      device, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<LinkPtr> link = Release(data);
        GError* error = nullptr;
        bool ok = fp_device_open_finish(FP_DEVICE(source), result, &error);
        GErrorPtr owned(error);
        if ((*link)->reader)
          (*link)->reader->Opened(ok, owned ? owned->message : "");
        else if (ok)
          CloseDevice(*link);
      },
      Hold(link_));
  return true;
}

void LibfprintReader::Opened(bool ok, const std::string& error) {
  opening_ = false;
  if (!ok) {
    log_("Lukijan avaus ep\xE4onnistui: " + Utf8ToWin1252(error));
    DropDevice();
    return;  // the next arming tries again
  }
  open_ = true;
  if (removed_) {
    DropDevice();  // unplugged while opening
    return;
  }
  Update();
}

// Starts or cancels the capture after the controls changed or a call completed.
void LibfprintReader::Update() {
  if (delivering_)
    return;  // the delivery ends with an Update
  bool wanted = capture_.IsArmed() || enrolment_.IsArmed();
  if (!wanted) {
    if (capturing_)
      g_cancellable_cancel(link_->cancel.get());
    return;
  }
  if (!link_->device) {
    if (!search_ || closing_)
      return;
    search_ = false;
    if (!FindDevice())
      return;
  }
  if (capturing_ || opening_ || paused_ || !open_)
    return;
  StartCapture();
}

void LibfprintReader::StartCapture() {
  capturing_ = true;
  link_->cancel.reset(g_cancellable_new());
  fp_device_capture(
      link_->device.get(), TRUE, link_->cancel.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto done = std::make_shared<CaptureResult>(*Release(data));
        GError* error = nullptr;
        done->image.reset(fp_device_capture_finish(FP_DEVICE(source), result, &error));
        done->error.reset(error);
        // Handled from Qt's event loop, where an exception of an OnDone handler goes to
        // the application's error report rather than through GLib's frames.
        if (LibfprintReader* reader = done->link->reader)
          QMetaObject::invokeMethod(
              reader,
              [done] { done->link->reader->Captured(done->image.get(), done->error.get()); },
              Qt::QueuedConnection);
      },
      Hold(link_));
}

void LibfprintReader::Captured(FpImage* image, const GError* error) {
  capturing_ = false;
  if (error == nullptr && image != nullptr) {
    Deliver(image);
  } else if (error == nullptr || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    // Stopped: nothing to say.
  } else if (error->domain == FP_DEVICE_RETRY) {
    log_(RetryText(error->code));
  } else if (!removed_) {
    log_("Lukijan virhe: " + Utf8ToWin1252(error->message));
    paused_ = true;
    QTimer::singleShot(kErrorPause, this, [this] {
      paused_ = false;
      Update();
    });
  }
  if (removed_ && link_->device)
    DropDevice();
  emit CaptureEnded();
  Update();
}

// The image to the control that takes it, through the extractor.
void LibfprintReader::Deliver(FpImage* image) {
  gsize size = 0;
  const guchar* data = fp_image_get_data(image, &size);
  int width = static_cast<int>(fp_image_get_width(image));
  int height = static_cast<int>(fp_image_get_height(image));
  if (data == nullptr || width < kMinImageSide || height < kMinImageSide || width > kMaxImageSide ||
      height > kMaxImageSide || size != static_cast<gsize>(width) * static_cast<gsize>(height)) {
    log_("Lukijan kuva ei kelpaa: " + std::to_string(width) + " x " + std::to_string(height) +
         " pistett\xE4");
    return;
  }
  GreyImage grey(width, height);
  grey.pixels.assign(data, data + size);
  Minutiae placement = ExtractMinutiae(grey).minutiae;
  uint64_t instance_id = random_.Next();
  delivering_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{delivering_};
  if (enrolment_.IsArmed()) {
    if (enrolment_.TakePlacement(placement, instance_id, &grey).rejected)
      log_("Eri sormi kuin ensimm\xE4isell\xE4 kerralla");
  } else if (capture_.IsArmed()) {
    capture_.TakePlacement(placement, instance_id, &grey);
  }
}

void LibfprintReader::DeviceRemoved() {
  if (removed_)
    return;
  ReaderDevice d = DescribeDevice(link_->device.get());
  log_("Lukija irrotettu: " + Shown(d));
  removed_ = true;
  search_ = false;  // until the next arming
  emit capture_.OnDevDisconnected();
  emit enrolment_.OnDevDisconnected();
  if (capturing_)
    g_cancellable_cancel(link_->cancel.get());  // the capture's end drops the device
  else if (!opening_)
    DropDevice();
}

// Forgets the device (closing it when open); the next arming looks for one again.
void LibfprintReader::DropDevice() {
  link_->Disconnect();
  if (link_->device && fp_device_is_open(link_->device.get())) {
    closing_ = true;
    fp_device_close(
        link_->device.get(), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<LinkPtr> link = Release(data);
          GError* error = nullptr;
          fp_device_close_finish(FP_DEVICE(source), result, &error);
          GErrorPtr owned(error);  // a device gone cannot be closed: nothing more to do
          if (LibfprintReader* reader = (*link)->reader) {
            reader->closing_ = false;
            reader->Update();
          }
        },
        Hold(link_));
  }
  link_->device.reset();
  open_ = false;
}

}  // namespace vantera
