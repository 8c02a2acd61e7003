#include "fingerprint/reader_protocol.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vantera {
namespace {

TEST(ReaderProtocol, RequestsRoundTripAndBadOnesAreNamed) {
  EXPECT_EQ(FormatPlaceRequest({ReaderTarget::kAuto, "12345/oikea etusormi"}),
            "place auto 12345/oikea etusormi\n");
  EXPECT_EQ(FormatPlaceRequest({ReaderTarget::kEnrolment, "x"}), "place enrol x\n");
  EXPECT_EQ(FormatPlaceRequest({ReaderTarget::kCapture, "x"}), "place capture x\n");
  EXPECT_THROW(FormatPlaceRequest({ReaderTarget::kAuto, ""}), std::invalid_argument);
  EXPECT_THROW(FormatPlaceRequest({ReaderTarget::kAuto, "a\nb"}), std::invalid_argument);
  EXPECT_THROW(FormatPlaceRequest({ReaderTarget::kAuto, std::string(256, 'a')}),
               std::invalid_argument);

  std::string error;
  auto r = ParsePlaceRequest("place capture 12345/oikea  etusormi \r", &error);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->target, ReaderTarget::kCapture);
  EXPECT_EQ(r->finger, "12345/oikea  etusormi ");  // blanks inside the name are kept
  ASSERT_TRUE(ParsePlaceRequest("place auto " + std::string(255, 'n'), &error));

  struct Bad {
    std::string line;
    const char* why;
  };
  for (const Bad& bad :
       {Bad{"", "unknown request"}, Bad{"PLACE auto x", "unknown request"},
        Bad{"place auto", "missing finger name"}, Bad{"place auto ", "missing finger name"},
        Bad{"place left x", "unknown target"},
        Bad{"place auto " + std::string(256, 'n'), "finger name too long"},
        Bad{"place auto a\rb", "line break in finger name"},
        Bad{std::string(kMaxReaderLine + 1, 'p'), "line too long"}}) {
    error.clear();
    EXPECT_FALSE(ParsePlaceRequest(bad.line, &error)) << bad.line;
    EXPECT_EQ(error, bad.why) << bad.line;
  }
}

TEST(ReaderProtocol, RepliesRoundTrip) {
  for (PlaceReply reply :
       {PlaceReply{PlaceOutcome::kCaptured, 0, 0}, PlaceReply{PlaceOutcome::kEnrolled, 2, 4},
        PlaceReply{PlaceOutcome::kEnrolled, 4, 4}, PlaceReply{PlaceOutcome::kRejected, 1, 4},
        PlaceReply{PlaceOutcome::kNoneArmed, 0, 0}}) {
    std::string line = FormatPlaceReply(reply);
    ASSERT_EQ(line.back(), '\n');
    auto back = ParsePlaceReply(line.substr(0, line.size() - 1));
    ASSERT_TRUE(back) << line;
    EXPECT_EQ(*back, reply);
  }
  EXPECT_EQ(FormatPlaceReply({PlaceOutcome::kEnrolled, 2, 4}), "ok enrolment 2/4\n");
  EXPECT_EQ(FormatPlaceReply({PlaceOutcome::kNoneArmed, 0, 0}), "none armed\n");
  for (const char* bad :
       {"error busy", "ok", "ok enrolment", "ok enrolment 5/4", "ok enrolment 1/0",
        "ok enrolment -1/4", "ok enrolment 1/4x", "rejected enrolment /4", "ok enrolment 123/999"})
    EXPECT_FALSE(ParsePlaceReply(bad)) << bad;
  EXPECT_EQ(ReaderSocketPath("/run/x"), "/run/x/reader.sock");
}

}  // namespace
}  // namespace vantera
