#include "fingerprint/simulated_reader.h"

#include <random>

#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/minutia_extract.h"

namespace vantera {
namespace {

uint64_t SystemSeed() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

}  // namespace

SimulatedReader::SimulatedReader(TFPGetTemplateX& capture, TFPRegisterTemplateX& enrolment,
                                 uint64_t seed)
    : capture_(capture), enrolment_(enrolment), random_(seed != 0 ? seed : SystemSeed()) {}

PlaceReply SimulatedReader::Place(std::string_view finger, ReaderTarget target) {
  PlaceReply reply;
  bool to_enrolment =
      enrolment_.IsArmed() && (target == ReaderTarget::kAuto || target == ReaderTarget::kEnrolment);
  bool to_capture = !to_enrolment && capture_.IsArmed() &&
                    (target == ReaderTarget::kAuto || target == ReaderTarget::kCapture);
  if (!to_enrolment && !to_capture)
    return reply;  // none armed

  // A fresh impression of the finger, read the way a real reader's image is.
  const GreyImage image = RenderFinger(finger, random_.Next());
  Minutiae placement = ExtractMinutiae(image).minutiae;
  uint64_t instance_id = random_.Next();
  if (to_capture) {
    capture_.TakePlacement(placement, instance_id, &image);
    reply.outcome = PlaceOutcome::kCaptured;
    return reply;
  }
  TFPRegisterTemplateX::Step step = enrolment_.TakePlacement(placement, instance_id, &image);
  reply.outcome = step.rejected ? PlaceOutcome::kRejected : PlaceOutcome::kEnrolled;
  reply.done = step.done;
  reply.needed = step.needed;
  return reply;
}

}  // namespace vantera
