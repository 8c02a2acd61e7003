#include "server/registry_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <set>

#include "core/runtime_dir.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

constexpr int kPollMs = 100;

}  // namespace

struct RegistryServer::Channel : ServedConnection {
  std::set<uint32_t> transports;  // attached through this channel; end with it
};

RegistryServer::RegistryServer(ServerContext& context, RegistryServerOptions options)
    : ctx_(context),
      options_(std::move(options)),
      // A call once begun must arrive, and its answer be taken, in time.
      channels_(ctx_.log, options_.maxConnections, std::chrono::seconds(30)) {}

RegistryServer::~RegistryServer() {
  Stop();
}

void RegistryServer::Start() {
  EnsureRuntimeDir(options_.runtimeDir);
  path_ = RegistryEntryPath(options_.runtimeDir, options_.serverName);
  listen_fd_ = ListenUnix(path_, SOCK_STREAM);
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0)
    inode_ = st.st_ino;
  started_ = true;
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void RegistryServer::Stop() {
  if (stop_.exchange(true) || !started_)
    return;
  if (accept_thread_.joinable())
    accept_thread_.join();
  channels_.StopAll();
  // The entry is removed only while it is still ours: a server that replaced it keeps it.
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && st.st_ino == inode_)
    ::unlink(path_.c_str());
  listen_fd_.Reset();
}

void RegistryServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_fd_.Get(), POLLIN, 0};
    int ready = ::poll(&p, 1, kPollMs);
    channels_.ReapFinished();
    if (ready <= 0)
      continue;
    int fd = ::accept4(listen_fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    auto c = std::make_shared<Channel>();
    channels_.Admit(
        c, fd, [] { return std::string("registry connection"); }, false, [this, c] { Serve(c); });
  }
}

void RegistryServer::Serve(std::shared_ptr<Channel> c) {
  std::string reason;
  while (!stop_) {
    pollfd p{c->fd, POLLIN, 0};
    int ready = ::poll(&p, 1, kPollMs);
    if (ready == 0)
      continue;
    Bytes body;
    try {
      body = ReadRegistryMessage(c->fd, options_.maxCallLength);
    } catch (const std::exception&) {
      break;  // closed by the client, cut off, or longer than a call may be
    }
    RegistryReply reply;
    RegistryMethod method = RegistryMethod::AttachTransport;
    try {
      RegistryCall call = DecodeRegistryCall(body);
      method = call.method;
      reply = Execute(*c, call);
    } catch (const DecodeError& e) {
      ctx_.log.Line("registry connection " + std::to_string(c->number) +
                    ": malformed call refused: " + e.what());
      reply = RegistryReply{};
      reply.status = kCallInvalidArgument;
    }
    try {
      WriteRegistryMessage(c->fd, EncodeRegistryReply(method, reply));
    } catch (const std::exception& e) {
      reason = e.what();
      break;
    }
  }
  for (uint32_t id : c->transports)
    EndTransport(id, "its registry connection closed");
  if (!reason.empty())
    ctx_.log.Line("registry connection " + std::to_string(c->number) + " dropped: " + reason);
}

void RegistryServer::EndTransport(uint32_t transportId, const char* why) {
  if (auto d = ctx_.registry.DropTransport(transportId)) {
    ctx_.log.Line("transport " + std::to_string(transportId) + " ended (" + why + ") with " +
                  std::to_string(d->sessions.size()) + " session(s)");
    for (auto& s : d->sessions)
      ctx_.dispatcher.SessionClosed(s);
  }
}

RegistryReply RegistryServer::Execute(Channel& c, const RegistryCall& call) {
  RegistryReply reply;
  const uint32_t id = call.transport.id;
  if (call.method == RegistryMethod::AttachTransport) {
    TransportRegistry::Opened t = ctx_.registry.OpenTransport(0);
    c.transports.insert(t.id);
    reply.transport = {t.id, t.key};
    ctx_.log.Line("registry connection " + std::to_string(c.number) + ": transport " +
                  std::to_string(t.id) + " attached");
    return reply;
  }
  // Every other call names a transport by id and key.
  if (!ctx_.registry.Attach(id, call.transport.key) || !ctx_.registry.Touch(id)) {
    reply.status = kCallFailed;
    return reply;
  }
  switch (call.method) {
    case RegistryMethod::AttachTransport:
      break;
    case RegistryMethod::EstablishConnection: {
      const std::string user = Win1252FromWide(call.userName);
      if (!ctx_.accounts.Check(user, Win1252FromWide(call.password))) {
        ctx_.log.Line("login of unknown user \"" + user + "\" refused");
        reply.error = static_cast<int32_t>(nxcode::kUnknownUserOrPassword);
        return reply;
      }
      auto session = ctx_.registry.OpenSession(id, user, static_cast<uint32_t>(call.timeout),
                                               static_cast<uint32_t>(call.clientVersion));
      if (!session) {
        reply.status = kCallFailed;
        return reply;
      }
      ctx_.log.Line("session " + std::to_string(session->sessionId) + " opened for user \"" + user +
                    "\" on transport " + std::to_string(id));
      ctx_.dispatcher.SessionOpened(*session);
      reply.serverVersion = options_.serverVersion;
      reply.connection = session->sessionId;
      return reply;
    }
    case RegistryMethod::TerminateTransport:
      c.transports.erase(id);
      EndTransport(id, "terminated by its client");
      return reply;
    case RegistryMethod::Request:
    case RegistryMethod::Post: {
      auto session = ctx_.registry.FindSession(id, call.connection);
      if (!session) {
        reply.status = kCallFailed;  // the connection object is gone
        return reply;
      }
      const std::string_view payload =
          call.data ? std::string_view(*call.data) : std::string_view();
      if (call.method == RegistryMethod::Post) {
        try {
          ctx_.dispatcher.HandlePost(*session, static_cast<uint32_t>(call.messageId), payload);
        } catch (const std::exception& e) {
          ctx_.log.Line(std::string("post failed: ") + e.what());
        }
        return reply;
      }
      DispatchReply answer;
      try {
        answer =
            ctx_.dispatcher.HandleRequest(*session, static_cast<uint32_t>(call.messageId), payload);
      } catch (...) {
        answer.errorCode = nxExceptionToCode(std::current_exception());
        answer.payload.clear();
        ctx_.log.Line("request " + std::to_string(call.messageId) +
                      " failed: " + nxExceptionMessage(std::current_exception()));
      }
      reply.messageId = call.messageId;
      reply.error = static_cast<int32_t>(answer.errorCode);
      if (!answer.payload.empty())
        reply.data = std::move(answer.payload);
      return reply;
    }
    case RegistryMethod::TerminateConnection:
      if (auto s = ctx_.registry.CloseSession(id, call.connection)) {
        ctx_.log.Line("session " + std::to_string(s->sessionId) + " closed");
        ctx_.dispatcher.SessionClosed(*s);
      }
      return reply;
  }
  return reply;
}

}  // namespace vantera
