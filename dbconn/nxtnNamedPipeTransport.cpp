#include "dbconn/nxtnNamedPipeTransport.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "core/runtime_dir.h"
#include "protocol/local_sockets.h"
#include "protocol/nxllException.h"
#include "protocol/pipe_messages.h"
#include "protocol/winsock_errors.h"

namespace vantera {

namespace {

std::atomic<uint32_t> g_next_transport_number{1};

// A pipe whose listener is busy (its queue of connections full) is tried again for at
// most kBusyTimeout, the pipe's default time-out; then opening fails.
constexpr auto kBusyTimeout = std::chrono::milliseconds(500);

// Removes the reply mailslot's socket file when discovery ends.
class UnlinkOnExit {
 public:
  explicit UnlinkOnExit(std::string path) : path_(std::move(path)) {}
  ~UnlinkOnExit() { ::unlink(path_.c_str()); }
  UnlinkOnExit(const UnlinkOnExit&) = delete;
  UnlinkOnExit& operator=(const UnlinkOnExit&) = delete;

 private:
  std::string path_;
};

// The discovery sockets of every server of instance `port` in `folder`.
std::vector<std::string> ServerMailslots(const std::string& folder, uint16_t port) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir)
    return paths;  // no folder: no server has ever served here
  const std::string prefix = ServerMailslotPrefix(port);
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0)
      paths.push_back(folder + "/" + name);
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TnxNamedPipeTransport

TnxNamedPipeTransport::TnxNamedPipeTransport(std::string name)
    : TnxBasePooledTransport(std::move(name)), number_(g_next_transport_number.fetch_add(1)) {}

TnxNamedPipeTransport::~TnxNamedPipeTransport() {
  Close();
}

void TnxNamedPipeTransport::SetRuntimeFolder(const std::string& folder) {
  if (folder == runtime_folder_)
    return;
  CheckInactive();
  runtime_folder_ = folder;
}

std::string TnxNamedPipeTransport::EffectiveRuntimeFolder() const {
  return RuntimeDir(runtime_folder_);
}

std::string TnxNamedPipeTransport::CurrentPipeName() const {
  return PipeName(SplitPipeServerName(ServerNameRuntime(), LocalComputerName()), Port());
}

std::string TnxNamedPipeTransport::CurrentPipePath() const {
  PipeServerName name = SplitPipeServerName(ServerNameRuntime(), LocalComputerName());
  return PipeSocketPath(EffectiveRuntimeFolder(), Port(), name.server);
}

std::unique_ptr<TnxBasePooledConnection> TnxNamedPipeTransport::CreateConnection() {
  return std::make_unique<TnxNamedPipeClientConnection>(*this);
}

void TnxNamedPipeTransport::GetServerNames(std::vector<std::string>& list, uint32_t timeout) {
  using Clock = std::chrono::steady_clock;
  list.clear();
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(std::min<uint32_t>(1500, std::max(timeout, 300u)));
  const std::string folder = EffectiveRuntimeFolder();
  const uint32_t pid = static_cast<uint32_t>(::getpid());
  const std::string replyPath = ClientMailslotPath(folder, Port(), pid, number_);

  FileDescriptor reply;
  try {
    EnsureRuntimeDir(folder);
    reply = ListenUnix(replyPath, SOCK_DGRAM);
  } catch (const std::runtime_error& e) {
    throw EnxOSError(std::string("Cannot create the reply mailslot: ") + e.what(), 0);
  }
  UnlinkOnExit removeReply(replyPath);

  const std::string query =
      ClientMailslotName(LocalComputerName(), Port(), pid, number_) + std::string(1, '\0');
  FileDescriptor sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sender.Valid())
    RaiseLastSocketError();
  for (const std::string& target : ServerMailslots(folder, Port())) {
    sockaddr_un to;
    if (MakeUnixAddress(target, to))  // a server that is gone simply does not answer
      (void)::sendto(sender.Get(), query.data(), query.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      break;
    pollfd p{reply.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 200))) <= 0)
      continue;
    char message[kMailslotMessageMax];
    ssize_t got = ::recv(reply.Get(), message, sizeof message, MSG_DONTWAIT);
    if (got <= 0)
      continue;
    std::string name = TextUpToZero(message, static_cast<size_t>(got));
    if (!name.empty() && std::find(list.begin(), list.end(), name) == list.end())
      list.push_back(name);
  }
}

// ---------------------------------------------------------------------------------------
// TnxNamedPipeClientConnection

TnxNamedPipeClientConnection::TnxNamedPipeClientConnection(TnxNamedPipeTransport& transport)
    : TnxBasePooledConnection(transport), pipe_(transport) {
  PipeServerName name = SplitPipeServerName(transport.ServerNameRuntime(), LocalComputerName());
  if (name.machine != ".")
    RaiseSocketError(wsa::kEHOSTUNREACH);  // pipes of other machines cannot be reached here
  if (name.server.empty())
    RaiseSocketError(wsa::kHOST_NOT_FOUND);
  const std::string path =
      PipeSocketPath(transport.EffectiveRuntimeFolder(), transport.Port(), name.server);
  // Non-blocking, so that a busy listener is seen instead of waited for in the connect;
  // every later wait on the socket is a poll with the connection's deadline.
  // A listener whose queue is full is busy: it is waited for, as for a busy pipe, but not
  // past the pipe's default time-out (nor past the connection's deadline or a shut-down).
  FileDescriptor fd = ConnectUnixBounded(path, SOCK_SEQPACKET,
                                         std::min(Deadline(), WaitClock::now() + kBusyTimeout));
  buffer_.resize(kBufferSize);
  fd_ = fd.Release();
}

TnxNamedPipeClientConnection::~TnxNamedPipeClientConnection() {
  Detach();
  Close();
  if (fd_ >= 0)
    ::close(fd_);
}

void TnxNamedPipeClientConnection::Close() {
  closing_ = true;
  if (fd_ >= 0)
    ::shutdown(fd_, SHUT_RDWR);  // ends a pending read; the descriptor goes with the object
}

void TnxNamedPipeClientConnection::SendMessage(FrameHeader header, const char* data,
                                               size_t length) {
  header.compressType = header.uncompressedLength ? pipe_.CompressType() : 0;
  WritePipeFrame(fd_, header, data, length, closing_, Deadline());
  pipe_.CountMessageSent(FrameHeader::kSize + length,
                         header.uncompressedLength ? header.uncompressedLength : length);
}

FrameHeader TnxNamedPipeClientConnection::ReadFrame() {
  return ReadPipeFrame(fd_, buffer_, pipe_.MaxMessageLength(), closing_, Deadline());
}

void TnxNamedPipeClientConnection::ShrinkBuffer() {
  if (buffer_.size() > kBufferSize) {
    buffer_.resize(kBufferSize);
    buffer_.shrink_to_fit();
  }
}

void TnxNamedPipeClientConnection::ReceiveInto(FrameHeader& header, char* dest, size_t capacity,
                                               size_t& copied) {
  header = ReadFrame();
  copied = std::min<size_t>(header.PayloadLength(), capacity);
  if (copied)
    std::copy_n(buffer_.data() + FrameHeader::kSize, copied, dest);
  ShrinkBuffer();
}

void TnxNamedPipeClientConnection::ReceiveReply(TnxReplyCallback callback, void* cookie) {
  FrameHeader header = ReadFrame();
  try {
    pipe_.HandleReply(header, buffer_.data() + FrameHeader::kSize, header.PayloadLength(), callback,
                      cookie);
  } catch (...) {
    ShrinkBuffer();
    throw;
  }
  ShrinkBuffer();
}

void TnxNamedPipeClientConnection::ReceiveAny(const MessageHandler& handler) {
  FrameHeader header = ReadFrame();
  try {
    handler(header, buffer_.data() + FrameHeader::kSize, header.PayloadLength());
  } catch (...) {
    ShrinkBuffer();
    throw;
  }
  ShrinkBuffer();
}

}  // namespace vantera
