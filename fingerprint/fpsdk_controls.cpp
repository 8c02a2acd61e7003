#include "fingerprint/fpsdk_controls.h"

#include "fingerprint/enrolment_merge.h"
#include "fingerprint/matcher.h"

namespace vantera {

int32_t FPControl::InitControl() {
  initialised_ = true;
  emit OnDevConnected();
  return kStatusOk;
}

int32_t FPControl::Start(const QVariant&) {
  if (!initialised_)
    return kStatusNotInitialised;
  if (disabled_)
    return kStatusNoReader;
  bool was_armed = armed_;
  armed_ = true;
  Armed(was_armed);
  emit ArmedChanged(true);
  return kStatusOk;
}

int32_t FPControl::Stop() {
  if (armed_) {
    armed_ = false;
    Disarmed();
    emit ArmedChanged(false);
  }
  return kStatusOk;
}

void FPControl::Disable() {
  Stop();
  disabled_ = true;
}

void FPControl::ShowImage(const GreyImage* image, int done, int needed) {
  if (image == nullptr)
    return;
  last_image_ = *image;
  emit PlacementImage(last_image_, done, needed);
}

void FPControl::Finish(const IFPTemplate& done) {
  armed_ = false;
  Disarmed();
  emit ArmedChanged(false);
  emit OnDone(done);
}

int32_t TFPGetTemplateX::SetOwnerWindow(int32_t kind, quintptr window) {
  owner_kind_ = kind;
  owner_window_ = window;
  return kStatusOk;
}

bool TFPGetTemplateX::TakePlacement(const Minutiae& placement, uint64_t instance_id,
                                    const GreyImage* image) {
  if (!IsArmed())
    return false;
  ShowImage(image, 1, 1);
  TemplateData data;
  data.instance_id = instance_id;
  data.kind = TemplateKind::kCapture;
  data.placements = 1;
  data.minutiae = placement;
  if (data.minutiae.size() > kMaxTemplateMinutiae)
    data.minutiae.resize(kMaxTemplateMinutiae);
  const IFPTemplate done(std::move(data));
  Finish(done);
  return true;
}

TFPRegisterTemplateX::Step TFPRegisterTemplateX::TakePlacement(const Minutiae& placement,
                                                               uint64_t instance_id,
                                                               const GreyImage* image) {
  Step step;
  step.done = PlacementsDone();
  if (!IsArmed())
    return step;
  if (!placements_.empty() && !MatchMinutiae(placement, placements_.front()).same) {
    step.rejected = true;
    ShowImage(image, step.done, step.needed);
    return step;
  }
  placements_.push_back(placement);
  step.taken = true;
  step.done = PlacementsDone();
  ShowImage(image, step.done, step.needed);
  if (step.done < kEnrolmentPlacements)
    return step;

  TemplateData data;
  data.instance_id = instance_id;
  data.kind = TemplateKind::kEnrolment;
  data.placements = static_cast<uint8_t>(placements_.size());
  data.minutiae = CombinePlacements(placements_);
  if (data.minutiae.size() > kMaxTemplateMinutiae)
    data.minutiae.resize(kMaxTemplateMinutiae);
  const IFPTemplate done(std::move(data));
  Finish(done);
  return step;
}

}  // namespace vantera
