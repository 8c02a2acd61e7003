#include "server/connection_threads.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace vantera {

namespace {

timeval Timeval(std::chrono::milliseconds ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
  return tv;
}

}  // namespace

void ServedConnection::Shutdown() {
  drop = true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd >= 0)
    ::shutdown(fd, SHUT_RDWR);
}

void ServedConnection::CloseSocket() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

ConnectionThreads::ConnectionThreads(ServerLog& log, size_t maxConnections,
                                     std::chrono::milliseconds receiveTimeout)
    : log_(log), max_connections_(maxConnections), receive_timeout_(receiveTimeout) {}

ConnectionThreads::~ConnectionThreads() {
  StopAll();
}

void ConnectionThreads::Admit(std::shared_ptr<ServedConnection> c, int fd,
                              const std::function<std::string()>& label, bool logOpening,
                              std::function<void()> serve) {
  c->fd = fd;
  size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    c->number = next_number_++;
    count = connections_.size();
  }
  if (count >= max_connections_) {
    log_.Line(label() + " refused: " + std::to_string(count) + " connections open");
    c->CloseSocket();
    return;
  }
  const timeval send = Timeval(std::chrono::seconds(30));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
  const timeval receive = Timeval(receive_timeout_);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
  if (logOpening)
    log_.Line(label());
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.push_back(c);
  c->thread_ = std::thread([c, serve = std::move(serve)] {
    serve();
    c->CloseSocket();
    c->finished = true;
  });
}

void ConnectionThreads::ReapFinished() {
  Reap(false);
}

void ConnectionThreads::StopAll() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_)
      c->Shutdown();
  }
  Reap(true);
}

void ConnectionThreads::ForEach(const std::function<void(ServedConnection&)>& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : connections_)
    f(*c);
}

void ConnectionThreads::Reap(bool all) {
  std::list<std::shared_ptr<ServedConnection>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->finished) {
        done.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : done) {
    if (c->thread_.joinable())
      c->thread_.join();
  }
}

}  // namespace vantera
