// The card point waits as long as --timeout and --quiet-ms say, however long that is.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <climits>
#include <string>

#include "tests/msglink/program_runner.h"
#include "tools/cardpoint/cardpoint_command.h"
#include "tools/cardpoint/msg_line_client.h"

namespace vantera {
namespace {

using Clock = MsgLineClient::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(CardpointWait, DeadlinesFollowTheCommandLine) {
  const Clock::time_point start = Clock::now();
  CardpointCommand cmd = ParseCardpointCommand({"present", "4711", "--to", "V", "--timeout", "90"});
  Clock::time_point deadline = CommandDeadline(cmd, start);
  EXPECT_EQ(deadline - start, seconds(90));
  // One wait of the whole 90 s, not a minute and then giving up.
  EXPECT_EQ(PollTimeoutMs(deadline, start), 90000);
  EXPECT_EQ(PollTimeoutMs(deadline, start + seconds(70)), 20000);

  cmd = ParseCardpointCommand(
      {"log", "GetLog", "--to", "V", "--timeout", "86400", "--quiet-ms", "600000"});
  Clock::time_point end = CommandDeadline(cmd, start);
  EXPECT_EQ(end - start, seconds(86400));
  Clock::time_point next = NextLogLineDeadline(cmd, start, end);
  EXPECT_EQ(next - start, milliseconds(600000));
  EXPECT_EQ(PollTimeoutMs(next, start), 600000);
  EXPECT_EQ(PollTimeoutMs(end, start), 86400000);
  // The quiet time never reaches past the end of the command.
  EXPECT_EQ(NextLogLineDeadline(cmd, end - seconds(5), end), end);

  EXPECT_EQ(PollTimeoutMs(start, start), 0);
  EXPECT_EQ(PollTimeoutMs(start - seconds(1), start), 0);
  EXPECT_EQ(PollTimeoutMs(start + std::chrono::microseconds(400), start), 1);  // rounded up
  EXPECT_EQ(PollTimeoutMs(Clock::time_point::max(), start), INT_MAX);
}

// A server that accepts the connection and never says anything.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(::listen(fd_, 4), 0);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(CardpointWait, ReadingWaitsUntilItsDeadline) {
  SilentServer server;
  MsgLineClient client;
  client.Connect("127.0.0.1", server.port(), seconds(5));
  std::string wire;
  const Clock::time_point deadline = Clock::now() + milliseconds(300);
  EXPECT_FALSE(client.ReadWire(&wire, deadline));
  EXPECT_GE(Clock::now(), deadline);
  EXPECT_FALSE(client.ReadWire(&wire, Clock::now() - seconds(1)));  // passed: at once
}

TEST(CardpointWait, PresentEndsAtItsTimeout) {
  test::MsgServerProcess server;
  const Clock::time_point start = Clock::now();
  auto lonely = test::RunProgram(
      VANTERA_CARDPOINT_PATH, {"--server", "127.0.0.1:" + std::to_string(server.port()), "present",
                               "4711", "--to", "Vantera01", "--timeout", "2"});
  const auto took = Clock::now() - start;
  EXPECT_EQ(lonely.code, 1);
  EXPECT_NE(lonely.err.find("no reply within 2 s"), std::string::npos);
  EXPECT_GE(took, seconds(2));  // it waited as long as it was told
  EXPECT_LT(took, seconds(10));
}

}  // namespace
}  // namespace vantera
