#include "server/connection_threads.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

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
                                     std::chrono::milliseconds receiveTimeout, size_t maxPerSource,
                                     std::chrono::milliseconds evictionAge)
    : log_(log),
      max_connections_(maxConnections),
      max_per_source_(maxPerSource),
      receive_timeout_(receiveTimeout),
      eviction_age_(evictionAge) {}

ConnectionThreads::~ConnectionThreads() {
  StopAll();
}

void ConnectionThreads::Admit(std::shared_ptr<ServedConnection> c, int fd,
                              const std::function<std::string()>& label, bool logOpening,
                              std::function<void()> serve) {
  c->fd = fd;
  std::string refusal;      // what follows "<label> refused: " when refused
  std::string making_room;  // what follows "<label> admitted " when another one made room
  bool write = false;
  std::string held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    c->number = next_number_++;
    const size_t count = connections_.size();
    const auto source = c->source.empty() ? per_source_.end() : per_source_.find(c->source);
    const size_t fromSource = source == per_source_.end() ? 0 : source->second;
    const bool overSource = max_per_source_ != 0 && fromSource >= max_per_source_;
    const auto now = LogThrottle::Clock::now();
    if (overSource) {
      refusal = std::to_string(fromSource) + " connections open from " + c->source;
      write = refusals_.Allow(now, held);
    } else if (count >= max_connections_) {
      const bool episodeBegins = !full_;
      full_ = true;
      // Connections shut down to make room count until their threads are reaped: at most
      // as many again as the limit, so that threads stay bounded.
      std::shared_ptr<ServedConnection> victim;
      if (count < 2 * max_connections_)
        victim = OldestEvictable(now);
      std::string& text = victim ? making_room : refusal;
      if (victim) {
        victim->Shutdown();
        text = "in place of connection " + std::to_string(victim->number) +
               (victim->source.empty() ? std::string() : " from " + victim->source) +
               ", which had no work";
      } else {
        text = std::to_string(count) + " connections open";
      }
      LogThrottle& throttle = victim ? evictions_ : refusals_;
      if (episodeBegins && !per_source_.empty() && breakdowns_.Allow(now, held)) {
        text += ", the server is full; by address: " + SourceBreakdown();
        throttle.Force(now, held);
        write = true;
      } else {
        write = throttle.Allow(now, held);
      }
    } else {
      full_ = false;
    }
  }
  if (!refusal.empty()) {
    if (write)
      log_.Line(label() + " refused: " + refusal + held);
    c->CloseSocket();
    return;
  }
  if (!making_room.empty() && write)
    log_.Line(label() + " admitted " + making_room + held);
  const timeval send = Timeval(std::chrono::seconds(30));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
  const timeval receive = Timeval(receive_timeout_);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
  if (logOpening)
    log_.Line(label());
  std::lock_guard<std::mutex> lock(mutex_);
  c->admitted_ = std::chrono::steady_clock::now();
  connections_.push_back(c);
  if (!c->source.empty())
    ++per_source_[c->source];
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
        auto source = per_source_.find((*it)->source);
        if (source != per_source_.end() && --source->second == 0)
          per_source_.erase(source);
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

std::shared_ptr<ServedConnection> ConnectionThreads::OldestEvictable(
    std::chrono::steady_clock::time_point now) {
  // The list is in the order of admission: the first match is the oldest.
  for (auto& c : connections_) {
    if (now - c->admitted_ < eviction_age_)
      break;
    if (!c->drop && !c->finished && c->Evictable())
      return c;
  }
  return nullptr;
}

std::string ConnectionThreads::SourceBreakdown() const {
  constexpr size_t kShown = 10;
  std::vector<std::pair<std::string, size_t>> sources(per_source_.begin(), per_source_.end());
  std::stable_sort(sources.begin(), sources.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  size_t restCount = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (i >= kShown) {
      restCount += sources[i].second;
      continue;
    }
    text += (i ? ", " : "") + sources[i].first + " " + std::to_string(sources[i].second);
  }
  if (sources.size() > kShown)
    text += " and " + std::to_string(restCount) + " from " +
            std::to_string(sources.size() - kShown) + " more addresses";
  return text;
}

}  // namespace vantera
