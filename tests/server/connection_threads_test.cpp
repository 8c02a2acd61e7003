// The connection bookkeeping of the listeners on socket pairs: numbering, refusal beyond
// the limit, the time-outs of an admitted socket, reaping of finished threads, stopping.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/connection_threads.h"

namespace vantera {
namespace {

using namespace std::chrono_literals;

// A log written to memory; Lines() gives what was logged without the program name and time.
class MemoryLog {
 public:
  MemoryLog() : file_(open_memstream(&data_, &size_)), log_(file_) {}
  ~MemoryLog() {
    std::fclose(file_);
    std::free(data_);
  }
  ServerLog& Log() { return log_; }
  std::vector<std::string> Lines() {
    std::fflush(file_);
    std::vector<std::string> lines;
    std::istringstream in(std::string(data_, size_));
    for (std::string line; std::getline(in, line);) {
      const size_t name = line.find(' ');
      const size_t time = line.find(' ', name + 1);
      lines.push_back(line.substr(time + 1));
    }
    return lines;
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
  ServerLog log_;
};

// One end of a socket pair for the server side, the other kept as the client.
struct Pair {
  int server = -1;
  int client = -1;
  Pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      server = fds[0];
      client = fds[1];
    }
  }
  ~Pair() { CloseClient(); }
  void CloseClient() {
    if (client >= 0)
      ::close(client);
    client = -1;
  }
  // True when the server end has been closed or shut down (the client reads end of file).
  bool ClientSeesEnd() const {
    timeval tv{2, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char b;
    return ::recv(client, &b, 1, 0) == 0;
  }
};

// Serves by waiting until the client hangs up or the socket is shut down (at most 10 s).
std::function<void()> WaitForEnd(const std::shared_ptr<ServedConnection>& c,
                                 std::atomic<int>& served) {
  return [c, &served] {
    ++served;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    char b[16];
    while (std::chrono::steady_clock::now() < deadline) {
      ssize_t got = ::recv(c->fd, b, sizeof b, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        return;
    }
  };
}

bool WaitFinished(const ServedConnection& c) {
  for (int i = 0; i < 500 && !c.finished; ++i)
    std::this_thread::sleep_for(10ms);
  return c.finished;
}

int OpenCount(ConnectionThreads& threads) {
  int n = 0;
  threads.ForEach([&n](ServedConnection&) { ++n; });
  return n;
}

TEST(ConnectionThreads, NumbersRefusesBeyondTheLimitReapsAndStops) {
  MemoryLog memory;
  std::atomic<int> served{0};
  ConnectionThreads threads(memory.Log(), 2, 100ms);
  Pair a, b, c, d;
  ASSERT_GE(d.server, 0);
  std::vector<std::shared_ptr<ServedConnection>> conns;
  for (int i = 0; i < 4; ++i)
    conns.push_back(std::make_shared<ServedConnection>());
  auto label = [](const std::shared_ptr<ServedConnection>& x) {
    return [x] { return "test connection " + std::to_string(x->number); };
  };

  threads.Admit(conns[0], a.server, label(conns[0]), true, WaitForEnd(conns[0], served));
  threads.Admit(conns[1], b.server, label(conns[1]), false, WaitForEnd(conns[1], served));
  // The third is beyond the limit: numbered all the same, closed, never served.
  threads.Admit(conns[2], c.server, label(conns[2]), true, WaitForEnd(conns[2], served));
  EXPECT_EQ(conns[0]->number, 1u);
  EXPECT_EQ(conns[1]->number, 2u);
  EXPECT_EQ(conns[2]->number, 3u);
  EXPECT_EQ(conns[2]->fd, -1);
  EXPECT_TRUE(c.ClientSeesEnd());
  EXPECT_EQ(OpenCount(threads), 2);

  // An admitted socket waits at most 30 s on a send and the given time on a receive.
  timeval tv{};
  socklen_t len = sizeof tv;
  ASSERT_EQ(getsockopt(a.server, SOL_SOCKET, SO_SNDTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 30);
  EXPECT_EQ(tv.tv_usec, 0);
  ASSERT_EQ(getsockopt(a.server, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 0);
  EXPECT_EQ(tv.tv_usec, 100000);

  // A connection whose serving has ended is closed, and its place is free once reaped.
  a.CloseClient();
  ASSERT_TRUE(WaitFinished(*conns[0]));
  EXPECT_EQ(conns[0]->fd, -1);
  threads.ReapFinished();
  EXPECT_EQ(OpenCount(threads), 1);
  threads.Admit(conns[3], d.server, label(conns[3]), true, WaitForEnd(conns[3], served));
  EXPECT_EQ(conns[3]->number, 4u);
  EXPECT_EQ(OpenCount(threads), 2);

  // Stopping shuts the others down and waits for their threads.
  threads.StopAll();
  EXPECT_EQ(OpenCount(threads), 0);
  for (int i : {1, 3}) {
    EXPECT_TRUE(conns[i]->finished);
    EXPECT_TRUE(conns[i]->drop);
    EXPECT_EQ(conns[i]->fd, -1);
  }
  EXPECT_TRUE(b.ClientSeesEnd());
  EXPECT_TRUE(d.ClientSeesEnd());
  EXPECT_EQ(served, 3);
  EXPECT_EQ(memory.Lines(),
            (std::vector<std::string>{"test connection 1",
                                      "test connection 3 refused: 2 connections open",
                                      "test connection 4"}));
}

TEST(ConnectionThreads, LimitsEachSourceAndTellsWhoFillsTheListener) {
  MemoryLog memory;
  std::atomic<int> served{0};
  ConnectionThreads threads(memory.Log(), 20, 100ms, 2);
  std::vector<std::unique_ptr<Pair>> pairs;
  std::vector<std::shared_ptr<ServedConnection>> conns;
  auto admit = [&](const std::string& source) {
    pairs.push_back(std::make_unique<Pair>());
    auto c = std::make_shared<ServedConnection>();
    c->source = source;
    conns.push_back(c);
    threads.Admit(
        c, pairs.back()->server, [c] { return "test connection " + std::to_string(c->number); },
        false, WaitForEnd(c, served));
    return c->fd >= 0;
  };
  // Two from 10.0.0.1; the third and fourth from there are refused, one line for both.
  EXPECT_TRUE(admit("10.0.0.1"));
  EXPECT_TRUE(admit("10.0.0.1"));
  EXPECT_FALSE(admit("10.0.0.1"));
  EXPECT_FALSE(admit("10.0.0.1"));
  EXPECT_TRUE(pairs[2]->ClientSeesEnd());
  // Connections without a source (local ones) are not limited by it.
  EXPECT_TRUE(admit(""));
  EXPECT_TRUE(admit(""));
  EXPECT_TRUE(admit(""));
  // Fourteen more sources, 10.0.0.2 with two connections: the listener is full at 20.
  EXPECT_TRUE(admit("10.0.0.2"));
  EXPECT_TRUE(admit("10.0.0.2"));
  for (int i = 3; i <= 15; ++i)
    EXPECT_TRUE(admit("10.0.0." + std::to_string(i)));
  EXPECT_EQ(OpenCount(threads), 20);
  EXPECT_FALSE(admit("10.0.0.50"));  // 21st open one: full; who holds what is logged
  EXPECT_FALSE(admit("10.0.0.51"));  // same episode, held back
  // A slot given back ends the episode; the next one's breakdown waits for its minute.
  pairs[0]->CloseClient();
  ASSERT_TRUE(WaitFinished(*conns[0]));
  threads.ReapFinished();
  EXPECT_TRUE(admit("10.0.0.1"));
  EXPECT_FALSE(admit("10.0.0.52"));
  threads.StopAll();
  const std::vector<std::string> lines = memory.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "test connection 3 refused: 2 connections open from 10.0.0.1");
  EXPECT_EQ(lines[1],
            "test connection 23 refused: 20 connections open, the server is full; by address: "
            "10.0.0.1 2, 10.0.0.2 2, 10.0.0.10 1, 10.0.0.11 1, 10.0.0.12 1, 10.0.0.13 1, "
            "10.0.0.14 1, 10.0.0.15 1, 10.0.0.3 1, 10.0.0.4 1 and 5 from 5 more addresses "
            "(1 similar line(s) held back)");
}

// A connection whose work the test decides.
struct IdleOrBusy : ServedConnection {
  explicit IdleOrBusy(bool isIdle) : idle(isIdle) {}
  bool Evictable() const override { return idle; }
  std::atomic<bool> idle;
};

TEST(ConnectionThreads, AFullListenerClosesItsOldestIdleConnectionToMakeRoom) {
  MemoryLog memory;
  std::atomic<int> served{0};
  ConnectionThreads threads(memory.Log(), 3, 100ms, 0, 0ms);
  Pair a, b, c, d, e, f;
  auto busy = std::make_shared<IdleOrBusy>(false);
  auto idle1 = std::make_shared<IdleOrBusy>(true);
  auto idle2 = std::make_shared<IdleOrBusy>(true);
  auto newcomer = std::make_shared<IdleOrBusy>(false);
  auto another = std::make_shared<IdleOrBusy>(false);
  auto label = [](const std::shared_ptr<IdleOrBusy>& x) {
    return [x] { return "test connection " + std::to_string(x->number); };
  };
  threads.Admit(busy, a.server, label(busy), false, WaitForEnd(busy, served));
  threads.Admit(idle1, b.server, label(idle1), false, WaitForEnd(idle1, served));
  threads.Admit(idle2, c.server, label(idle2), false, WaitForEnd(idle2, served));
  // Full: the oldest idle one (2, not the busy 1) makes room for 4.
  threads.Admit(newcomer, d.server, label(newcomer), false, WaitForEnd(newcomer, served));
  EXPECT_NE(newcomer->fd, -1);
  EXPECT_TRUE(idle1->drop);
  EXPECT_TRUE(b.ClientSeesEnd());
  EXPECT_FALSE(busy->drop);
  EXPECT_FALSE(idle2->drop);
  // Once idle2 too has made room (for 5), only working connections are left: refused.
  threads.Admit(another, e.server, label(another), false, WaitForEnd(another, served));
  EXPECT_TRUE(idle2->drop);
  ASSERT_TRUE(WaitFinished(*idle1));
  ASSERT_TRUE(WaitFinished(*idle2));
  threads.ReapFinished();
  auto refused = std::make_shared<IdleOrBusy>(true);
  threads.Admit(refused, f.server, label(refused), false, WaitForEnd(refused, served));
  EXPECT_EQ(refused->fd, -1);
  EXPECT_TRUE(f.ClientSeesEnd());
  EXPECT_EQ(OpenCount(threads), 3);
  threads.StopAll();
  EXPECT_EQ(served, 5);
  // Evictions and refusals are throttled apart: the second eviction is held back.
  EXPECT_EQ(memory.Lines(),
            (std::vector<std::string>{
                "test connection 4 admitted in place of connection 2, which had no work",
                "test connection 6 refused: 3 connections open"}));

  // Younger than the eviction age: nobody makes room.
  ConnectionThreads patient(memory.Log(), 1, 100ms, 0, 10s);
  Pair g, h;
  auto old = std::make_shared<IdleOrBusy>(true);
  auto late = std::make_shared<IdleOrBusy>(false);
  patient.Admit(old, g.server, label(old), false, WaitForEnd(old, served));
  patient.Admit(late, h.server, label(late), false, WaitForEnd(late, served));
  EXPECT_EQ(late->fd, -1);
  EXPECT_FALSE(old->drop);
}

}  // namespace
}  // namespace vantera
