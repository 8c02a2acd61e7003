// The server's connection policy in process, on a clock of the test's choice: the held
// heartbeat interval, the no-session time, the log throttle and their options.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server/log_throttle.h"
#include "server/server_options.h"
#include "server/transport_registry.h"

namespace vantera {
namespace {

using namespace std::chrono_literals;
using Clock = TransportRegistry::Clock;
using Reason = TransportRegistry::DropReason;

TransportLimits Limits(std::chrono::milliseconds maxHeartbeat,
                       std::chrono::milliseconds noSession) {
  TransportLimits limits;
  limits.maxHeartbeat = maxHeartbeat;
  limits.noSessionTimeout = noSession;
  return limits;
}

// A transport as a frame connection opens it, optionally with a session.
uint32_t Framed(TransportRegistry& registry, uint32_t heartbeat, bool withSession) {
  const uint32_t id = registry.OpenTransport(heartbeat).id;
  registry.AddConnection(id);
  if (withSession) {
    EXPECT_TRUE(registry.OpenSession(id, "", 0, 10800));
  }
  return id;
}

TEST(ConnectionPolicy, AnnouncedHeartbeatsAreHeldToTheCap) {
  TransportRegistry registry(Limits(2000ms, 0ms));
  EXPECT_EQ(registry.OpenTransport(600000).heartbeatInterval, 2000u);
  EXPECT_EQ(registry.OpenTransport(0xFFFFFFFFu).heartbeatInterval, 2000u);
  EXPECT_EQ(registry.OpenTransport(2000).heartbeatInterval, 2000u);
  EXPECT_EQ(registry.OpenTransport(1500).heartbeatInterval, 1500u);
  EXPECT_EQ(registry.OpenTransport(0).heartbeatInterval, 0u);  // no heartbeat: never silent

  const uint32_t huge = Framed(registry, 0xFFFFFFFFu, true);
  const uint32_t within = Framed(registry, 1500, true);
  const uint32_t none = Framed(registry, 0, true);
  const auto now = Clock::now();
  EXPECT_TRUE(registry.ExpireSilent(now + 2900ms).empty());
  // Twice 1500 ms: the two that announced it.
  auto dropped = registry.ExpireSilent(now + 3100ms);
  ASSERT_EQ(dropped.size(), 2u);
  EXPECT_EQ(dropped[1].transportId, within);
  // Twice the cap: 600000, 0xFFFFFFFF and 2000 as announced, and `huge` with its session.
  dropped = registry.ExpireSilent(now + 4100ms);
  ASSERT_EQ(dropped.size(), 4u);
  for (const auto& d : dropped)
    EXPECT_EQ(d.reason, Reason::Silent);
  EXPECT_EQ(dropped[3].transportId, huge);
  EXPECT_EQ(dropped[3].sessions.size(), 1u);
  // The two that announced 0 stay.
  EXPECT_TRUE(registry.ExpireSilent(now + 24h).empty());
  EXPECT_TRUE(registry.Exists(none));
  EXPECT_EQ(registry.TransportCount(), 2u);
}

TEST(ConnectionPolicy, TransportsWithoutAnOpenSessionAreDroppedAfterTheNoSessionTime) {
  TransportRegistry registry(Limits(60000ms, 1000ms));
  const uint32_t bare = Framed(registry, 0, false);
  const uint32_t served = Framed(registry, 0, true);
  const uint32_t local = registry.OpenTransport(0).id;  // the local registry calls: no frames
  const uint32_t closing = registry.OpenTransport(0).id;
  registry.AddConnection(closing);
  auto session = registry.OpenSession(closing, "", 0, 10800);
  ASSERT_TRUE(session);
  const auto opened = Clock::now();
  EXPECT_TRUE(registry.ExpireSilent(opened + 900ms).empty());

  // The session closes 300 ms later: the time of its transport counts from the close.
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(registry.CloseSession(closing, session->sessionId));
  const auto closed = Clock::now();
  auto dropped = registry.ExpireSilent(opened + 1100ms);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].transportId, bare);
  EXPECT_EQ(dropped[0].reason, Reason::NoSession);
  dropped = registry.ExpireSilent(closed + 1100ms);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].transportId, closing);
  EXPECT_EQ(dropped[0].reason, Reason::NoSession);
  EXPECT_TRUE(registry.ExpireSilent(closed + 24h).empty());
  EXPECT_TRUE(registry.Exists(served));
  EXPECT_TRUE(registry.Exists(local));

  // A session that does not serve yet (a tunnel session before its real session opens)
  // does not count until it is marked; closing a non-serving one changes nothing.
  const uint32_t tunnel = registry.OpenTransport(0).id;
  registry.AddConnection(tunnel);
  auto pending = registry.OpenSession(tunnel, "VanteraTunl", 0, 10800, false);
  ASSERT_TRUE(pending);
  EXPECT_FALSE(registry.HasServingSession(tunnel));
  const uint32_t marked = registry.OpenTransport(0).id;
  registry.AddConnection(marked);
  auto later = registry.OpenSession(marked, "VanteraTunl", 0, 10800, false);
  ASSERT_TRUE(later);
  registry.MarkServing(marked, later->sessionId);
  registry.MarkServing(marked, later->sessionId + 1000);  // not its session: ignored
  EXPECT_TRUE(registry.HasServingSession(marked));
  EXPECT_TRUE(registry.HasServingSession(served));
  EXPECT_FALSE(registry.HasServingSession(local));
  dropped = registry.ExpireSilent(Clock::now() + 1100ms);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].transportId, tunnel);
  EXPECT_EQ(dropped[0].reason, Reason::NoSession);
  ASSERT_EQ(dropped[0].sessions.size(), 1u);  // its session ends with it
  EXPECT_TRUE(registry.Exists(marked));

  // 0 turns the rule off.
  TransportRegistry lenient(Limits(60000ms, 0ms));
  Framed(lenient, 0, false);
  EXPECT_TRUE(lenient.ExpireSilent(Clock::now() + 24h).empty());
}

TEST(ConnectionPolicy, TheThrottleWritesOneLinePerIntervalAndCountsTheRest) {
  LogThrottle throttle(10s);
  const auto t0 = LogThrottle::Clock::now();
  std::string held = "untouched";
  EXPECT_TRUE(throttle.Allow(t0, held));
  EXPECT_EQ(held, "");
  for (int i = 1; i <= 5; ++i)
    EXPECT_FALSE(throttle.Allow(t0 + std::chrono::seconds(i), held));
  EXPECT_TRUE(throttle.Allow(t0 + 10s, held));
  EXPECT_EQ(held, " (5 similar line(s) held back)");
  EXPECT_FALSE(throttle.Allow(t0 + 19s, held));
  EXPECT_TRUE(throttle.Allow(t0 + 21s, held));
  EXPECT_EQ(held, " (1 similar line(s) held back)");
  EXPECT_TRUE(throttle.Allow(t0 + 40s, held));
  EXPECT_EQ(held, "");
  // A forced line tells what was held back and starts a new interval.
  EXPECT_FALSE(throttle.Allow(t0 + 41s, held));
  throttle.Force(t0 + 42s, held);
  EXPECT_EQ(held, " (1 similar line(s) held back)");
  EXPECT_FALSE(throttle.Allow(t0 + 51s, held));
  EXPECT_TRUE(throttle.Allow(t0 + 52s, held));
  EXPECT_EQ(held, " (1 similar line(s) held back)");
}

TEST(ConnectionPolicy, OptionsOfTheLimits) {
  ServerOptions d = ParseServerOptions({});
  EXPECT_EQ(d.maxHeartbeatSeconds, 60u);
  EXPECT_EQ(d.noSessionTimeoutMs, 30000u);
  EXPECT_EQ(d.maxPerAddress, 64u);
  EXPECT_EQ(d.maxConnections, 1000u);
  ServerOptions o = ParseServerOptions({"--max-heartbeat", "2", "--no-session-timeout", "0",
                                        "--max-per-address", "3", "--max-connections", "4"});
  EXPECT_EQ(o.maxHeartbeatSeconds, 2u);
  EXPECT_EQ(o.noSessionTimeoutMs, 0u);
  EXPECT_EQ(o.maxPerAddress, 3u);
  EXPECT_EQ(o.maxConnections, 4u);
  for (auto bad : std::vector<std::vector<std::string>>{{"--max-heartbeat", "0"},
                                                        {"--max-heartbeat", "86401"},
                                                        {"--max-heartbeat", "1.5"},
                                                        {"--no-session-timeout", "-1"},
                                                        {"--max-per-address", "0"},
                                                        {"--max-per-address"}})
    EXPECT_THROW(ParseServerOptions(bad), std::invalid_argument) << bad[0];
  const std::string usage = ServerUsage();
  for (const char* option : {"--max-heartbeat SECONDS", "--no-session-timeout MS",
                             "--max-per-address N", "--frame-timeout MS"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace vantera
