// The simulated fingerprint reader: places a named finger on the workstation's reader and
// hands the placement to the armed control.
//
// Which control takes a placement: with ReaderTarget::kAuto the enrolment control while it
// is armed, else the capture control while it is armed, else none. kCapture and kEnrolment
// name the control; when that one is not armed, nothing happens ("none armed").
//
// Every placement draws an impression number from the reader's own random source and
// renders that impression of the named finger (finger_render.h); the extractor reads its
// minutiae as it would a real reader's image, and the control gets them with the image.
// Every template gets a fresh instance id from the same source.
//
// Lives on the GUI thread with the controls, which must outlive it.
#pragma once

#include <cstdint>
#include <string_view>

#include "fingerprint/finger_random.h"
#include "fingerprint/fpsdk_controls.h"
#include "fingerprint/reader_protocol.h"

namespace vantera {

class SimulatedReader {
 public:
  // seed 0 takes a seed from the system's random source.
  SimulatedReader(TFPGetTemplateX& capture, TFPRegisterTemplateX& enrolment, uint64_t seed = 0);

  // Places the finger named by finger (Windows-1252 bytes) on the reader. The chosen
  // control's OnDone handler, when raised, has run before this returns.
  PlaceReply Place(std::string_view finger, ReaderTarget target = ReaderTarget::kAuto);

 private:
  TFPGetTemplateX& capture_;
  TFPRegisterTemplateX& enrolment_;
  FingerRandom random_;
};

}  // namespace vantera
