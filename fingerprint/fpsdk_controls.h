// The two reader controls of the fingerprint SDK boundary: TFPGetTemplateX captures one
// placement for identification, TFPRegisterTemplateX gathers the placements of one
// enrolment. A placement reaches a control through the simulated reader (SimulatedReader),
// on the GUI thread.
//
// States of a control:
//
//   uninitialised --InitControl--> idle --Start--> armed --placement(s)--> idle + OnDone
//                                        <--Stop--
//
// - Start before InitControl is refused (status kStatusNotInitialised) and arms nothing;
//   so is Start on a control that Disable switched off (kStatusNoReader).
// - Start on an armed capture control is accepted: it stays armed. Start on an armed
//   enrolment control begins the enrolment anew (placements counted so far are dropped).
// - Stop disarms without OnDone; Stop on an idle control does nothing.
// - OnDone is raised once per arming, after the control is idle again, so that a handler
//   may Start it at once. It is raised synchronously, inside the call that delivered the
//   placement.
// The statuses are 0 for success; the workflows do not look at them.
// ArmedChanged tells the reader backend: true after every accepted Start, false when the
// control disarms (Stop on an armed control, or a finished arming just before OnDone).
//
// A placement that came as an image (the simulated reader renders one) raises
// PlacementImage before the control acts on it, with the placements of the running
// enrolment counted so far including it (a capture: 1 of 1); a rejected enrolment
// placement raises it with the count unchanged. LastImage keeps the latest.
//
// OnError, OnDevConnected and OnDevDisconnected complete the set of events; the workflows
// leave them unhandled. InitControl raises OnDevConnected (the simulated device is always
// present).
#pragma once

#include <QObject>
#include <QVariant>
#include <cstdint>
#include <vector>

#include "fingerprint/fpsdk_objects.h"
#include "fingerprint/image/grey_image.h"
#include "fingerprint/minutia.h"

namespace vantera {

inline constexpr int32_t kStatusOk = 0;
inline constexpr int32_t kStatusNotInitialised = 1;
inline constexpr int32_t kStatusNoReader = 2;

// The placements one enrolment takes.
inline constexpr int kEnrolmentPlacements = 4;

class FPControl : public QObject {
  Q_OBJECT

 public:
  explicit FPControl(QObject* parent = nullptr) : QObject(parent) {}

  int32_t InitControl();
  // arg is not looked at (the workflows pass an empty variant).
  int32_t Start(const QVariant& arg = QVariant());
  int32_t Stop();

  bool IsInitialised() const { return initialised_; }
  bool IsArmed() const { return armed_; }
  // Disarms the control for good: the reader behind it cannot serve it.
  void Disable();
  bool IsDisabled() const { return disabled_; }
  // The image of the latest placement that came with one (empty before).
  const GreyImage& LastImage() const { return last_image_; }

 signals:
  void OnDone(const vantera::IFPTemplate& pTemplate);
  void PlacementImage(const vantera::GreyImage& image, int done, int needed);
  void OnError(int code, const QString& text);
  void OnDevConnected();
  void OnDevDisconnected();
  void ArmedChanged(bool armed);

 protected:
  // Called by Start on an idle control and on an armed one.
  virtual void Armed(bool was_armed) = 0;
  virtual void Disarmed() {}
  // Disarms and raises OnDone with the template.
  void Finish(const IFPTemplate& done);
  // Keeps the image (when there is one) and raises PlacementImage.
  void ShowImage(const GreyImage* image, int done, int needed);

 private:
  GreyImage last_image_;
  bool initialised_ = false;
  bool armed_ = false;
  bool disabled_ = false;
};

// The capture control of the tab "Seuranta".
class TFPGetTemplateX : public FPControl {
  Q_OBJECT

 public:
  explicit TFPGetTemplateX(QObject* parent = nullptr) : FPControl(parent) {}

  // The owner window for the reader's own dialogs; kept, not used by the simulated reader.
  int32_t SetOwnerWindow(int32_t kind, quintptr window);

  // One placement. When armed: builds the template (instance id as given), disarms and
  // raises OnDone; returns true. When idle: returns false and nothing happens.
  // image: the placement's image, when it came as one.
  bool TakePlacement(const Minutiae& placement, uint64_t instance_id,
                     const GreyImage* image = nullptr);

 protected:
  void Armed(bool) override {}

 private:
  int32_t owner_kind_ = 0;
  quintptr owner_window_ = 0;
};

// The enrolment control of the tab "Rekisteröinti".
class TFPRegisterTemplateX : public FPControl {
  Q_OBJECT

 public:
  explicit TFPRegisterTemplateX(QObject* parent = nullptr) : FPControl(parent) {}

  struct Step {
    bool taken = false;     // armed and the placement counted
    bool rejected = false;  // armed, but not the finger of the first placement
    int done = 0;           // placements counted in this enrolment
    int needed = kEnrolmentPlacements;
  };

  // One placement. When armed, a placement of the enrolment's finger is counted (the first
  // placement decides the finger); the kEnrolmentPlacements-th combines them all into one
  // template, disarms and raises OnDone. When idle nothing happens (taken false).
  Step TakePlacement(const Minutiae& placement, uint64_t instance_id,
                     const GreyImage* image = nullptr);

  int PlacementsDone() const { return static_cast<int>(placements_.size()); }

 protected:
  void Armed(bool) override { placements_.clear(); }
  void Disarmed() override { placements_.clear(); }

 private:
  std::vector<Minutiae> placements_;
};

}  // namespace vantera
