#include "app/window_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/Main.h"

namespace vantera {
namespace {

TEST(WindowTimerTest, EnabledAndIntervalDecideWhetherItRuns) {
  WindowTimer t("T", 0);
  EXPECT_FALSE(t.Enabled());
  t.SetEnabled(true);
  EXPECT_TRUE(t.Enabled());
  EXPECT_FALSE(t.Running());  // an interval of 0 never fires
  t.SetInterval(50);
  EXPECT_TRUE(t.Running());
  t.SetInterval(-3);
  EXPECT_EQ(t.Interval(), 0);
  EXPECT_FALSE(t.Running());
  t.SetInterval(60000);
  t.SetEnabled(false);
  EXPECT_FALSE(t.Running());
  EXPECT_EQ(t.Interval(), 60000);

  EXPECT_EQ(PingIntervalMs(180), 180000);
  EXPECT_EQ(PingIntervalMs(0), 0);
  EXPECT_EQ(PingIntervalMs(-5), 0);
  EXPECT_EQ(PingIntervalMs(INT32_MAX), 2147483000);
}

TEST(WindowTimerTest, FiresTheHandlerWhileEnabled) {
  WindowTimer t("T", 1);
  int ticks = 0;
  t.SetOnTimer([&] {
    if (++ticks == 3)
      t.SetEnabled(false);
  });
  t.SetEnabled(true);
  QElapsedTimer clock;
  clock.start();
  while (t.Enabled() && clock.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(t.Running());
}

}  // namespace
}  // namespace vantera
