#include "fingerprint/reader_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/runtime_dir.h"
#include "core/win1252.h"

namespace vantera {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw std::runtime_error("reader socket " + path + ": " + why);
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path)
    Fail(path, "path too long");
  std::memcpy(addr.sun_path, path.data(), path.size());
  return addr;
}

// True when something accepts connections at addr.
bool Answers(const sockaddr_un& addr) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void SendAll(int fd, const std::string& text) {
  // Replies are short and the client waits for them; a client that does not read is
  // dropped rather than waited for.
  (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

struct ReaderSocket::Client {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;  // a child of the ReaderSocket
  std::string buffer;
};

ReaderSocket::ReaderSocket(SimulatedReader& reader, const std::string& runtime_dir, QObject* parent)
    : QObject(parent), reader_(reader), path_(ReaderSocketPath(runtime_dir)) {
  sockaddr_un addr = AddressOf(path_);
  EnsureRuntimeDir(runtime_dir);
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode))
      Fail(path_, "exists and is not a socket");
    if (Answers(addr))
      Fail(path_, "another workstation is listening");
    if (unlink(path_.c_str()) != 0)
      Fail(path_, std::string("cannot remove the old socket: ") + std::strerror(errno));
  }
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0)
    Fail(path_, std::strerror(errno));
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 8) != 0 || stat(path_.c_str(), &st) != 0) {
    int saved = errno;
    close(listen_fd_);
    listen_fd_ = -1;
    Fail(path_, std::strerror(saved));
  }
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  listen_notifier_ = new QSocketNotifier(listen_fd_, QSocketNotifier::Read, this);
  connect(listen_notifier_, &QSocketNotifier::activated, this, &ReaderSocket::Accept);
}

ReaderSocket::~ReaderSocket() {
  while (!clients_.empty())
    CloseClient(clients_.begin()->first);
  listen_notifier_->setEnabled(false);
  close(listen_fd_);
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
    unlink(path_.c_str());
}

void ReaderSocket::Accept() {
  // Bounded: at most a few connections per readiness event; the rest come with the next.
  for (int round = 0; round < 8; ++round) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;
    // Full: the client connected longest ago makes room, so that clients which connect and
    // never ask cannot lock the reader out.
    if (clients_.size() >= kMaxReaderClients) {
      SendAll(clients_.begin()->second->fd, "error busy\n");
      CloseClient(clients_.begin()->first);
    }
    int id = next_id_++;
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(client->notifier, &QSocketNotifier::activated, this, [this, id] { ReadClient(id); });
    clients_.emplace(id, std::move(client));
  }
}

void ReaderSocket::CloseClient(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end())
    return;
  Client& client = *it->second;
  // The notifier may be the sender of the signal being handled: disable it now, delete it
  // from the event loop (or with this object, whichever comes first).
  client.notifier->setEnabled(false);
  client.notifier->deleteLater();
  close(client.fd);
  clients_.erase(it);
}

void ReaderSocket::ReadClient(int id) {
  auto it = clients_.find(id);
  if (it == clients_.end())
    return;
  char chunk[1024];
  ssize_t n = recv(it->second->fd, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    CloseClient(id);
    return;
  }
  if (n < 0)
    return;
  it->second->buffer.append(chunk, static_cast<size_t>(n));

  // Requests are answered one by one; an OnDone handler may run an event loop of its own,
  // so the client is looked up again after each answer and not read meanwhile.
  for (;;) {
    it = clients_.find(id);
    if (it == clients_.end())
      return;
    Client* client = it->second.get();
    size_t end = client->buffer.find('\n');
    if (end == std::string::npos) {
      if (client->buffer.size() > kMaxReaderLine) {
        SendAll(client->fd, "error line too long\n");
        CloseClient(id);
      }
      return;
    }
    if (end > kMaxReaderLine) {
      SendAll(client->fd, "error line too long\n");
      CloseClient(id);
      return;
    }
    std::string line = client->buffer.substr(0, end);
    client->buffer.erase(0, end + 1);
    client->notifier->setEnabled(false);
    std::string finger;
    std::string failure;
    std::string reply = Answer(line, &finger, &failure);
    it = clients_.find(id);
    if (it == clients_.end())
      return;
    client = it->second.get();
    client->notifier->setEnabled(true);
    SendAll(client->fd, reply);
    emit Answered(QString::fromStdString(finger),
                  QString::fromStdString(reply.substr(0, reply.size() - 1)));
    if (!failure.empty())
      emit PlacementFailed(QByteArray::fromStdString(failure));
  }
}

std::string ReaderSocket::Answer(std::string_view line, std::string* finger, std::string* failure) {
  std::string error;
  std::optional<PlaceRequest> request = ParsePlaceRequest(line, &error);
  if (!request)
    return "error " + error + "\n";
  *finger = request->finger;
  // The name travels as UTF-8; inside, texts are Windows-1252, as the panel gives them too.
  // A failure in a control's OnDone handler must not unwind through the event loop: the
  // client gets it as its answer, and PlacementFailed reports it at the workstation.
  try {
    PlaceReply reply = reader_.Place(Utf8ToWin1252(request->finger), request->target);
    return FormatPlaceReply(reply);
  } catch (const std::exception& e) {
    *failure = e.what();
    std::string text = e.what();
    for (char& c : text)
      if (c == '\n' || c == '\r')
        c = ' ';
    return "error " + text + "\n";
  }
}

}  // namespace vantera
