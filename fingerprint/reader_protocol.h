// The line protocol of the reader socket (<runtime folder>/reader.sock), built and parsed
// here for both ends: the workstation's ReaderSocket and the vantera-reader tool.
//
// A client sends one request line and reads one reply line per request; lines end in "\n"
// and hold at most kMaxReaderLine bytes. Texts on the socket are UTF-8.
//
//   request:  "place " TARGET " " NAME      TARGET: auto | capture | enrol
//   replies:  "ok capture"                  the capture control took the placement
//             "ok enrolment N/M"            the enrolment control counted placement N of M
//                                           (N = M: the enrolment is complete)
//             "rejected enrolment N/M"      not the finger of the enrolment's first
//                                           placement; N placements stay counted
//             "none armed"                  no control (of the target) is armed
//             "error TEXT"                  the request was not understood
//
// "auto" gives the placement to the enrolment control while it is armed, else to the capture
// control: a running enrolment has suspended identification anyway.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantera {

inline constexpr size_t kMaxReaderLine = 512;
inline constexpr size_t kMaxFingerName = 255;
inline constexpr const char* kReaderSocketName = "reader.sock";

enum class ReaderTarget { kAuto, kCapture, kEnrolment };

struct PlaceRequest {
  ReaderTarget target = ReaderTarget::kAuto;
  std::string finger;  // 1..kMaxFingerName bytes
};

enum class PlaceOutcome { kCaptured, kEnrolled, kRejected, kNoneArmed };

struct PlaceReply {
  PlaceOutcome outcome = PlaceOutcome::kNoneArmed;
  int done = 0;    // enrolment: placements counted
  int needed = 0;  // enrolment: placements an enrolment takes
  friend bool operator==(const PlaceReply&, const PlaceReply&) = default;
};

// "<dir>/reader.sock".
std::string ReaderSocketPath(const std::string& runtime_dir);

// The request line with its "\n". Throws std::invalid_argument for an empty name, a name
// longer than kMaxFingerName or one holding a line break.
std::string FormatPlaceRequest(const PlaceRequest& request);
// A request line without its "\n"; nullopt with *error set when it is not one.
std::optional<PlaceRequest> ParsePlaceRequest(std::string_view line, std::string* error);

std::string FormatPlaceReply(const PlaceReply& reply);  // with its "\n"
// A reply line without its "\n"; nullopt when it is not a placement reply (an "error"
// line, or garbage).
std::optional<PlaceReply> ParsePlaceReply(std::string_view line);

const char* TargetName(ReaderTarget target);  // "auto", "capture", "enrol"
std::optional<ReaderTarget> TargetFromName(std::string_view name);

}  // namespace vantera
