// The TCP transport and the server's listening half in one process, with a dispatcher that
// echoes: payloads of every size arrive whole in both directions.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbconn/nxtwWinsockTransport.h"
#include "protocol/nxllErrors.h"
#include "server/tcp_server.h"
#include "tests/server/in_process_server.h"

namespace vantera {
namespace {

class EchoDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession&, uint32_t messageId,
                              std::string_view payload) override {
    return DispatchReply{messageId == 2 ? 8706u : 0u, Bytes(payload)};
  }
};

struct Reply {
  int calls = 0;
  uint32_t error = 0;
  std::string data;
};

void Collect(uint32_t, uint32_t error, const char* data, uint32_t length, void* cookie) {
  auto* r = static_cast<Reply*>(cookie);
  ++r->calls;
  r->error = error;
  r->data.assign(data ? data : "", data ? length : 0);
}

TEST(LargePayloads, TravelWholeBothWaysAndOversizedRequestsAreRefused) {
  TransportRegistry registry;
  EchoDispatcher dispatcher;
  AccountStore accounts;
  LoginChecker login;
  ServerContext ctx{registry, dispatcher, accounts, login, ServerLog::Null()};
  ctx.maxFrameLength = 4u << 20;
  TcpServerOptions options;
  options.port = 0;
  options.discovery = false;
  TcpServer server(ctx, options);
  server.Start();

  TnxWinsockTransport t;
  t.SetServerNameRuntime("127.0.0.1");
  t.SetPort(server.Port());
  t.SetHeartbeatInterval(0);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  for (size_t n :
       {size_t{0}, size_t{1}, size_t{65504}, size_t{65505}, size_t{200000}, size_t{3} << 20}) {
    std::string payload(n, '\0');
    for (size_t i = 0; i < n; ++i)
      payload[i] = static_cast<char>(i * 7 + i / 251);
    Reply r;
    t.Request(0, session, 1, payload.data(), static_cast<uint32_t>(n), 0, &Collect, &r);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.error, 0u) << n;
    EXPECT_TRUE(r.data == payload) << n;
  }
  // An error code travels with its reply data.
  Reply coded;
  t.Request(0, session, 2, "abc", 3, 0, &Collect, &coded);
  EXPECT_EQ(coded.error, 8706u);
  EXPECT_EQ(coded.data, "abc");
  TnxTransportStatistics stats = t.Statistics();
  EXPECT_EQ(stats.messagesReceived, 6u);  // successful replies only

  // A request beyond the server's maximum closes its connection: 11276 for it alone.
  std::string tooBig((4u << 20) + 1, 'x');
  Reply refused;
  t.Request(0, session, 1, tooBig.data(), static_cast<uint32_t>(tooBig.size()), 0, &Collect,
            &refused);
  EXPECT_EQ(refused.error, nxcode::kLostCommunication);
  Reply after;
  t.Request(0, session, 1, "ok", 2, 0, &Collect, &after);
  EXPECT_EQ(after.error, 0u);
  EXPECT_EQ(after.data, "ok");
  t.Close();
  server.Stop();
}

// Holds every request until four are inside at once (or 5 s have passed).
class RendezvousDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession&, uint32_t, std::string_view) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++inside_;
    cv_.notify_all();
    bool met = cv_.wait_for(lock, std::chrono::seconds(5), [this] { return inside_ >= 4; });
    return DispatchReply{met ? 0u : 15461u, {}};
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int inside_ = 0;
};

TEST(ParallelRequests, RunAtTheSameTimeOnSeparateConnections) {
  RendezvousDispatcher dispatcher;
  testing::InProcessTcpServer server(dispatcher);

  TnxWinsockTransport t;
  t.SetServerNameRuntime("127.0.0.1");
  t.SetPort(server.Port());
  t.SetHeartbeatInterval(0);
  t.Open();
  uint32_t session = 0;
  ASSERT_EQ(t.EstablishSession(0, "", "", 10000, session), 0u);
  Reply replies[4];
  std::vector<std::thread> threads;
  for (Reply& r : replies)
    threads.emplace_back([&] { t.Request(0, session, 1, nullptr, 0, 0, &Collect, &r); });
  for (auto& th : threads)
    th.join();
  for (const Reply& r : replies) {
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.error, 0u);  // all four were inside the server together
  }
  EXPECT_EQ(t.ConnectionCount(), 4u);
  EXPECT_EQ(t.IdleConnectionCount(), 4u);
  t.Close();
  server.server.Stop();
}

}  // namespace
}  // namespace vantera
