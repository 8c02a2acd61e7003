#include "server/pipe_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <vector>

#include "core/runtime_dir.h"
#include "protocol/pipe_messages.h"
#include "protocol/pipe_names.h"
#include "server/connection_limits.h"

namespace vantera {

namespace {

constexpr int kPollMs = 100;

// Sends every answer frame of `out` as pipe messages; false when the pipe failed.
bool WriteFrames(int fd, const Bytes& out) {
  size_t pos = 0;
  try {
    while (pos + FrameHeader::kSize <= out.size()) {
      FrameHeader h = FrameHeader::DecodeFrom(out.data() + pos);
      const size_t length = h.PayloadLength();
      WritePipeFrame(fd, h, out.data() + pos + FrameHeader::kSize, length);
      pos += FrameHeader::kSize + length;
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

PipeServer::PipeServer(ServerContext& context, PipeServerOptions options)
    : ctx_(context),
      options_(std::move(options)),
      connections_(ctx_.log, options_.maxConnections, std::chrono::milliseconds(kPollMs)) {
  if (options_.computerName.empty())
    options_.computerName = LocalComputerName();
}

PipeServer::~PipeServer() {
  Stop();
}

void PipeServer::Start() {
  EnsureRuntimeDir(options_.runtimeDir);
  pipe_path_ = PipeSocketPath(options_.runtimeDir, options_.port, options_.serverName);
  listen_fd_ = ListenUnix(pipe_path_, SOCK_SEQPACKET);
  started_ = true;
  if (options_.discovery) {
    mailslot_path_ = ServerMailslotPath(options_.runtimeDir, options_.port, options_.serverName);
    mailslot_fd_ = ListenUnix(mailslot_path_, SOCK_DGRAM);
    discovery_thread_ = std::thread([this] { DiscoveryLoop(); });
  }
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void PipeServer::Stop() {
  if (stop_.exchange(true) || !started_)
    return;
  for (std::thread* t : {&accept_thread_, &discovery_thread_}) {
    if (t->joinable())
      t->join();
  }
  connections_.StopAll();
  listen_fd_.Reset();
  mailslot_fd_.Reset();
  ::unlink(pipe_path_.c_str());
  if (!mailslot_path_.empty())
    ::unlink(mailslot_path_.c_str());
}

void PipeServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_fd_.Get(), POLLIN, 0};
    int ready = ::poll(&p, 1, kPollMs);
    connections_.ReapFinished();
    if (ready <= 0)
      continue;
    int fd = ::accept4(listen_fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    auto c = std::make_shared<ServedConnection>();
    connections_.Admit(
        c, fd, [&c] { return "pipe connection " + std::to_string(c->number); }, ctx_.trace,
        [this, c] { Serve(c); });
  }
}

void PipeServer::Serve(std::shared_ptr<ServedConnection> c) {
  // Pipe connections are numbered apart from TCP ones in the log by a leading "pipe".
  FrameHandler handler(ctx_, c->number);
  QuietConnectionWatch watch(options_.handshakeTimeoutMs, options_.frameTimeoutMs);
  std::string reason;
  std::vector<char> message(kPipeMessageMax + 1);
  Bytes out;
  while (!stop_) {
    iovec part{message.data(), message.size()};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    ssize_t got = ::recvmsg(c->fd, &msg, 0);
    const QuietConnectionWatch::Step step = watch.AfterReceive(got, handler, reason);
    if (step == QuietConnectionWatch::Step::Again)
      continue;
    if (step == QuietConnectionWatch::Step::End)
      break;
    if (msg.msg_flags & MSG_TRUNC) {
      reason = "pipe message longer than " + std::to_string(kPipeMessageMax) + " bytes";
      break;
    }
    out.clear();
    FrameHandler::Result r = handler.Consume(message.data(), static_cast<size_t>(got), out);
    if (!out.empty() && !WriteFrames(c->fd, out)) {
      reason = std::string("send: ") + std::strerror(errno);
      break;
    }
    if (r == FrameHandler::Result::Close)
      break;
    if (watch.AfterConsume(handler, reason) == QuietConnectionWatch::Step::End)
      break;
  }
  if (!reason.empty())
    ctx_.log.Line("pipe connection " + std::to_string(c->number) + " dropped: " + reason);
  else if (ctx_.trace)
    ctx_.log.Line("pipe connection " + std::to_string(c->number) + " closed");
}

void PipeServer::DiscoveryLoop() {
  const std::string answer = BuildPipeDiscoveryAnswer(options_.serverName, options_.computerName);
  FileDescriptor sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  while (!stop_) {
    pollfd p{mailslot_fd_.Get(), POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0)
      continue;
    char buffer[kMailslotMessageMax];
    ssize_t got = ::recv(mailslot_fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0)
      continue;
    std::string replyPath;
    if (!ParseClientMailslotName(std::string(buffer, static_cast<size_t>(got)), options_.port,
                                 options_.computerName, options_.runtimeDir, replyPath)) {
      ctx_.log.Line("pipe discovery query with an unusable reply mailslot ignored");
      continue;
    }
    sockaddr_un to;
    if (!sender.Valid() || !MakeUnixAddress(replyPath, to))
      continue;
    (void)::sendto(sender.Get(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (ctx_.trace)
      ctx_.log.Line("pipe discovery query answered");
  }
}

}  // namespace vantera
