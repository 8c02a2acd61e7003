// kantadb-server against clients that try to hold its connection slots without doing any
// work: huge announced heartbeat intervals, frames trickled a byte at a time, transports
// that never open a session, floods from one address, a full server. Each is dropped or
// refused within the limits given on the command line, while a real client keeps working.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/nxllErrors.h"
#include "protocol/transport_frame.h"
#include "tests/server/raw_client.h"
#include "tests/server/remote_client.h"
#include "tests/server/server_process.h"

namespace vantera {
namespace {

using namespace std::chrono_literals;
using testing::Frame;
using testing::Login;
using testing::RawClient;
using testing::RemoteClient;
using testing::ServerProcess;
using testing::Word;

// A request of an unknown kind: a live session answers 12289 (the server has no engine
// here), a dropped transport 11276.
uint32_t Probe(RemoteClient& client) {
  return client.Call(0x1234, "x").code;
}

TEST(HostileClients, AnnouncedHeartbeatsAreHeldToTheCap) {
  ServerProcess server({"--max-heartbeat", "2"});
  // A real client within the cap: judged as it announced, and its heartbeats keep it.
  RemoteClient workstation(server.Port(), 1000);
  RawClient longInterval(server.Port());
  const uint32_t longTid = longInterval.OpenTransport(600000).first;
  RawClient endless(server.Port());
  const uint32_t endlessTid = endless.OpenTransport(0xFFFFFFFFu).first;
  ASSERT_NE(longTid, 0u);
  ASSERT_NE(endlessTid, 0u);
  // The answer is the usual one: nothing tells the client about the cap.
  EXPECT_TRUE(server.WaitForLog("heartbeat interval 600000 ms (held to 2000 ms)"));
  EXPECT_TRUE(server.WaitForLog("heartbeat interval 4294967295 ms (held to 2000 ms)"));
  EXPECT_TRUE(server.WaitForLog("heartbeat interval 1000 ms\n"));

  // Silent for twice the cap (4 s): both dropped, well before the 30 s without a session.
  EXPECT_TRUE(longInterval.EndsWithin(15000));
  EXPECT_TRUE(endless.EndsWithin(5000));
  for (uint32_t tid : {longTid, endlessTid})
    EXPECT_TRUE(server.WaitForLog("transport " + std::to_string(tid) +
                                  " silent for twice its heartbeat interval"));
  EXPECT_EQ(Probe(workstation), nxcode::kNotSupported);
  EXPECT_EQ(server.CountInLog("silent for twice its heartbeat interval"), 2);
}

TEST(HostileClients, AFrameMustArriveWholeWithinTheFrameTimeoutOfItsFirstByte) {
  ServerProcess server({"--frame-timeout", "1000"});
  // One byte every 200 ms: the connection is quiet between bytes.
  RawClient slow(server.Port());
  slow.OpenTransport();
  // One byte every 50 ms: data keeps coming, faster than the server's receive wake-ups.
  RawClient steady(server.Port());
  steady.OpenTransport();
  // Whole frames, each sent in two halves 100 ms apart, for longer than the time-out.
  RawClient honest(server.Port());
  const uint32_t honestTid = honest.OpenTransport().first;

  const Bytes header = Frame(mkHeartbeat, 0, 0, 0);
  const Bytes request = Frame(mkRequest, 0, 0, 1, Bytes(64, 'r'));  // 96 bytes: 4.8 s at 50 ms
  size_t slowSent = 0;
  size_t steadySent = 0;
  bool slowOpen = true;
  bool steadyOpen = true;
  const Bytes heartbeat = Frame(mkHeartbeat, honestTid, 0, 0);
  for (int tick = 0; tick < 96 && (slowOpen || steadyOpen || tick < 48); ++tick) {
    if (steadyOpen)
      steadyOpen = steady.TrySend(request.substr(steadySent, 1)) && ++steadySent < request.size();
    if (slowOpen && tick % 4 == 0)
      slowOpen = slow.TrySend(header.substr(slowSent, 1)) && ++slowSent < header.size();
    if (tick % 4 == 0 && tick < 48)  // 2.4 s of frames, ending with a second half
      honest.Send(heartbeat.substr(tick % 8 == 0 ? 0 : 16, 16));
    std::this_thread::sleep_for(50ms);
  }
  // Both trickling connections end long before their frames could have been complete.
  EXPECT_TRUE(slow.EndsWithin(3000));
  EXPECT_TRUE(steady.EndsWithin(3000));
  EXPECT_LT(slowSent, header.size());
  EXPECT_LT(steadySent, request.size());
  EXPECT_TRUE(server.WaitForLog("dropped: frame not complete within 1000 ms of its first byte"));
  EXPECT_EQ(server.CountInLog("frame not complete within 1000 ms of its first byte"), 2);
  // The honest client's frames each arrived in time: it is still served.
  honest.Send(Frame(mkRequest, honestTid, 77, 5));
  auto answer = honest.ReadFrame();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->header.kind, mkUnsupported);
  EXPECT_EQ(answer->header.errorCode, nxcode::kInvalidHandle);  // no session 77
}

TEST(HostileClients, ATransportWithoutAnOpenSessionIsDropped) {
  ServerProcess server({"--no-session-timeout", "1000"});
  RemoteClient workstation(server.Port(), 200);  // opens its session at once
  // Heartbeats on time, but never a session: two connections of one transport.
  RawClient idle(server.Port());
  auto [idleTid, idleKey] = idle.OpenTransport(200);
  RawClient attached(server.Port());
  attached.Send(Frame(mkAttachConnection, idleTid, 0, 0, Word(idleKey)));
  ASSERT_TRUE(attached.ReadFrame());
  // A session opened and closed again: the time counts from the close.
  RawClient closer(server.Port());
  const uint32_t closerTid = closer.OpenTransport(200).first;
  closer.Send(Frame(mkOpenSession, closerTid, 0, 1, Login("", "")));
  auto opened = closer.ReadFrame();
  ASSERT_TRUE(opened);
  ASSERT_EQ(opened->header.errorCode, 0);
  const uint32_t sid = DecodeFixed32(opened->payload.data());

  bool idleOpen = true;
  bool closerOpen = true;
  int idleTicks = 0;
  int closerTicks = 0;
  for (int tick = 0; tick < 80 && (idleOpen || closerOpen); ++tick) {
    if (tick == 10)
      closer.Send(Frame(mkCloseSession, closerTid, sid, 0));
    if (idleOpen && (idleOpen = idle.TrySend(Frame(mkHeartbeat, idleTid, 0, 0))))
      ++idleTicks;
    if (closerOpen && (closerOpen = closer.TrySend(Frame(mkHeartbeat, closerTid, 0, 0))))
      ++closerTicks;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_FALSE(idleOpen);
  EXPECT_FALSE(closerOpen);
  EXPECT_TRUE(attached.EndsWithin(3000));
  // The closer lived on its session for 1 s first.
  EXPECT_GT(closerTicks, idleTicks);
  for (uint32_t tid : {idleTid, closerTid})
    EXPECT_TRUE(server.WaitForLog("transport " + std::to_string(tid) +
                                  " without a working session for too long"));
  EXPECT_EQ(Probe(workstation), nxcode::kNotSupported);
  EXPECT_EQ(server.CountInLog("without a working session"), 2);
}

TEST(HostileClients, OneAddressMayHoldOnlyItsShareOfTheConnections) {
  ServerProcess server({"--max-per-address", "3"});
  const Bytes open = Frame(mkOpenTransport, 0, 0, 0, Word(0));
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.2"));
    ASSERT_NE(held.back()->OpenTransport().first, 0u);
  }
  // Beyond three: closed at once without an answer, with one log line for the flood.
  for (int i = 0; i < 10; ++i) {
    RawClient extra(server.Port(), "127.0.0.2");
    (void)extra.TrySend(open);
    EXPECT_FALSE(extra.ReadFrame(2000)) << i;
  }
  EXPECT_TRUE(server.WaitForLog("refused: 3 connections open from 127.0.0.2"));
  EXPECT_EQ(server.CountInLog("refused: "), 1);
  // Other addresses, the workstations among them, are served meanwhile.
  RawClient other(server.Port(), "127.0.0.3");
  EXPECT_NE(other.OpenTransport().first, 0u);
  RemoteClient workstation(server.Port());
  EXPECT_EQ(Probe(workstation), nxcode::kNotSupported);
  // A connection that ends gives its slot back.
  held[0]->Close();
  bool admitted = false;
  for (int i = 0; i < 50 && !admitted; ++i) {
    RawClient again(server.Port(), "127.0.0.2");
    (void)again.TrySend(open);
    admitted = again.ReadFrame(1000).has_value();
    if (!admitted)
      std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(admitted);
}

// Opens a transport (heartbeat 0) and a session of the empty account on `client`.
void OpenSession(RawClient& client) {
  const uint32_t tid = client.OpenTransport().first;
  ASSERT_NE(tid, 0u);
  client.Send(Frame(mkOpenSession, tid, 0, 1, Login("", "")));
  auto opened = client.ReadFrame();
  ASSERT_TRUE(opened);
  ASSERT_EQ(opened->header.errorCode, 0);
}

// The first line of the log that contains `text`, or the empty text.
std::string LogLineWith(const ServerProcess& server, const std::string& text) {
  const std::string log = server.Log();
  const size_t at = log.find(text);
  if (at == std::string::npos)
    return {};
  const size_t begin = log.rfind('\n', at);
  const size_t end = log.find('\n', at);
  return log.substr(begin == std::string::npos ? 0 : begin + 1,
                    end == std::string::npos ? std::string::npos
                                             : end - (begin == std::string::npos ? 0 : begin + 1));
}

TEST(HostileClients, AFullServerLogsWhichAddressesHoldItsSlots) {
  ServerProcess server({"--max-connections", "4"});
  // Connections that work (each has a session): none of them makes room for another.
  std::vector<std::unique_ptr<RawClient>> held;
  for (const char* source : {"127.0.0.2", "127.0.0.3", "127.0.0.2", "127.0.0.2"}) {
    held.push_back(std::make_unique<RawClient>(server.Port(), source));
    OpenSession(*held.back());
  }
  const Bytes open = Frame(mkOpenTransport, 0, 0, 0, Word(0));
  for (int i = 0; i < 6; ++i) {
    RawClient extra(server.Port(), "127.0.0.4");
    (void)extra.TrySend(open);
    EXPECT_FALSE(extra.ReadFrame(2000)) << i;
  }
  ASSERT_TRUE(server.WaitForLog("the server is full"));
  const std::string line = LogLineWith(server, "the server is full");
  EXPECT_NE(line.find("connection 5 from 127.0.0.4:"), std::string::npos) << line;
  EXPECT_NE(line.find(" refused: 4 connections open, the server is full; by address: "
                      "127.0.0.2 3, 127.0.0.3 1"),
            std::string::npos)
      << line;
  // One line for the whole flood.
  EXPECT_EQ(server.CountInLog("refused: "), 1);
}

TEST(HostileClients, IdleConnectionsMakeRoomForAWorkstationInAFullServer) {
  ServerProcess server({"--max-connections", "4"});
  // Four connections that opened transports and never a session fill the server.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 4; ++i) {
    idle.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.2"));
    ASSERT_NE(idle.back()->OpenTransport().first, 0u);
  }
  // A newcomer is refused while they are young (under 2 s)...
  RawClient early(server.Port(), "127.0.0.3");
  (void)early.TrySend(Frame(mkOpenTransport, 0, 0, 0, Word(0)));
  EXPECT_FALSE(early.ReadFrame(2000));
  EXPECT_TRUE(server.WaitForLog("refused: 4 connections open, the server is full"));
  // ...and once they are older, the workstation's connections take the places of the
  // oldest ones: it opens its session and works.
  std::this_thread::sleep_for(2200ms);
  RemoteClient workstation(server.Port());
  EXPECT_EQ(Probe(workstation), nxcode::kNotSupported);
  EXPECT_TRUE(idle[0]->EndsWithin(3000));
  EXPECT_TRUE(
      server.WaitForLog("admitted in place of connection 1 from 127.0.0.2, which had no "
                        "work"));
  // A working connection is never closed to make room: with the workstation's two and two
  // idle ones left, newcomers push out only the idle ones, then are refused.
  for (int i = 0; i < 4; ++i) {
    RawClient extra(server.Port(), "127.0.0.4");
    (void)extra.TrySend(Frame(mkOpenTransport, 0, 0, 0, Word(0)));
    (void)extra.ReadFrame(500);
  }
  EXPECT_EQ(Probe(workstation), nxcode::kNotSupported);
}

}  // namespace
}  // namespace vantera
