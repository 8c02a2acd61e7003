#include "app/activity_log.h"

#include <gtest/gtest.h>

namespace vantera {
namespace {

// Records what the view is told.
struct RecordingView : ActivityLogView {
  std::vector<std::string> events;
  void LogLineAdded(const std::string& line) override { events.push_back("+" + line); }
  void LogCleared() override { events.push_back("clear"); }
  void MessageDisplayChanged(bool on) override { events.push_back(on ? "on" : "off"); }
};

TEST(ActivityLogTest, EmptiesBeforeTheLineAfter501) {
  ActivityLog log;
  RecordingView view;
  log.SetView(&view);
  for (int i = 1; i <= 500; ++i)
    log.WriteLog("line " + std::to_string(i), true);
  EXPECT_EQ(log.LineCount(), 500u);
  log.WriteLog("line 501", true);  // 500 lines take one more
  EXPECT_EQ(log.LineCount(), 501u);
  EXPECT_EQ(log.Lines().front(), "line 1");
  EXPECT_EQ(view.events.size(), 501u);

  log.WriteLog("line 502", true);  // 501 lines: emptied first
  ASSERT_EQ(log.LineCount(), 1u);
  EXPECT_EQ(log.Lines()[0], "line 502");
  ASSERT_EQ(view.events.size(), 503u);
  EXPECT_EQ(view.events[501], "clear");
  EXPECT_EQ(view.events[502], "+line 502");
}

TEST(ActivityLogTest, OptionalLinesFollowMessageDisplay) {
  ActivityLog log;
  RecordingView view;
  log.SetView(&view);
  EXPECT_FALSE(log.MessageDisplay());
  log.WriteLog("optional", false);
  log.WriteLog("always", true);
  log.SetMessageDisplay(true);
  log.SetMessageDisplay(true);  // same state: nothing
  log.WriteLog("optional now", false);
  log.SetMessageDisplay(false);
  log.WriteLog("dropped", false);
  log.Clear();
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"+always", "on", "+optional now", "off", "clear"}));
  EXPECT_EQ(log.LineCount(), 0u);
}

}  // namespace
}  // namespace vantera
