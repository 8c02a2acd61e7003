#include "fingerprint/reader_protocol.h"

#include <charconv>
#include <stdexcept>
#include <utility>

namespace vantera {
namespace {

constexpr std::string_view kPlace = "place ";
constexpr std::string_view kOkCapture = "ok capture";
constexpr std::string_view kOkEnrolment = "ok enrolment ";
constexpr std::string_view kRejected = "rejected enrolment ";
constexpr std::string_view kNoneArmed = "none armed";

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Progress(const PlaceReply& reply) {
  return std::to_string(reply.done) + "/" + std::to_string(reply.needed);
}

// "N/M" with 0 <= N <= M <= 99 and M >= 1.
bool ParseProgress(std::string_view text, PlaceReply* reply) {
  size_t slash = text.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 >= text.size())
    return false;
  auto number = [](std::string_view digits, int* out) {
    if (digits.size() > 2)
      return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *out);
    return ec == std::errc() && end == digits.data() + digits.size();
  };
  if (!number(text.substr(0, slash), &reply->done) ||
      !number(text.substr(slash + 1), &reply->needed))
    return false;
  return reply->needed >= 1 && reply->done >= 0 && reply->done <= reply->needed;
}

}  // namespace

std::string ReaderSocketPath(const std::string& runtime_dir) {
  return runtime_dir + "/" + kReaderSocketName;
}

const char* TargetName(ReaderTarget target) {
  switch (target) {
    case ReaderTarget::kCapture:
      return "capture";
    case ReaderTarget::kEnrolment:
      return "enrol";
    case ReaderTarget::kAuto:
      break;
  }
  return "auto";
}

std::optional<ReaderTarget> TargetFromName(std::string_view name) {
  if (name == "auto")
    return ReaderTarget::kAuto;
  if (name == "capture")
    return ReaderTarget::kCapture;
  if (name == "enrol")
    return ReaderTarget::kEnrolment;
  return std::nullopt;
}

std::string FormatPlaceRequest(const PlaceRequest& request) {
  if (request.finger.empty())
    throw std::invalid_argument("the finger has no name");
  if (request.finger.size() > kMaxFingerName)
    throw std::invalid_argument("the finger's name is longer than " +
                                std::to_string(kMaxFingerName) + " bytes");
  if (HasLineBreak(request.finger))
    throw std::invalid_argument("the finger's name holds a line break");
  return std::string(kPlace) + TargetName(request.target) + " " + request.finger + "\n";
}

std::optional<PlaceRequest> ParsePlaceRequest(std::string_view line, std::string* error) {
  auto fail = [error](const char* why) {
    if (error != nullptr)
      *error = why;
    return std::nullopt;
  };
  if (line.size() > kMaxReaderLine)
    return fail("line too long");
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  if (line.substr(0, kPlace.size()) != kPlace)
    return fail("unknown request");
  line.remove_prefix(kPlace.size());
  size_t space = line.find(' ');
  if (space == std::string_view::npos)
    return fail("missing finger name");
  std::optional<ReaderTarget> target = TargetFromName(line.substr(0, space));
  if (!target)
    return fail("unknown target");
  std::string_view finger = line.substr(space + 1);
  if (finger.empty())
    return fail("missing finger name");
  if (finger.size() > kMaxFingerName)
    return fail("finger name too long");
  if (HasLineBreak(finger))
    return fail("line break in finger name");
  return PlaceRequest{*target, std::string(finger)};
}

std::string FormatPlaceReply(const PlaceReply& reply) {
  switch (reply.outcome) {
    case PlaceOutcome::kCaptured:
      return std::string(kOkCapture) + "\n";
    case PlaceOutcome::kEnrolled:
      return std::string(kOkEnrolment) + Progress(reply) + "\n";
    case PlaceOutcome::kRejected:
      return std::string(kRejected) + Progress(reply) + "\n";
    case PlaceOutcome::kNoneArmed:
      break;
  }
  return std::string(kNoneArmed) + "\n";
}

std::optional<PlaceReply> ParsePlaceReply(std::string_view line) {
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  PlaceReply reply;
  if (line == kOkCapture) {
    reply.outcome = PlaceOutcome::kCaptured;
    return reply;
  }
  if (line == kNoneArmed) {
    reply.outcome = PlaceOutcome::kNoneArmed;
    return reply;
  }
  for (auto [prefix, outcome] : {std::pair{kOkEnrolment, PlaceOutcome::kEnrolled},
                                 std::pair{kRejected, PlaceOutcome::kRejected}}) {
    if (line.substr(0, prefix.size()) == prefix) {
      reply.outcome = outcome;
      if (ParseProgress(line.substr(prefix.size()), &reply))
        return reply;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace vantera
