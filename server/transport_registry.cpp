#include "server/transport_registry.h"

#include <algorithm>

namespace vantera {

namespace {

TransportLimits WithGrace(std::chrono::milliseconds unconnectedGrace) {
  TransportLimits limits;
  limits.unconnectedGrace = unconnectedGrace;
  return limits;
}

}  // namespace

TransportRegistry::TransportRegistry(std::chrono::milliseconds unconnectedGrace)
    : TransportRegistry(WithGrace(unconnectedGrace)) {}

TransportRegistry::TransportRegistry(const TransportLimits& limits)
    : limits_(limits), random_(std::random_device{}()) {}

TransportRegistry::Opened TransportRegistry::OpenTransport(uint32_t heartbeatInterval) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t id = next_transport_++;
  if (next_transport_ == 0)
    next_transport_ = 1;
  uint32_t key = static_cast<uint32_t>(random_());
  // The announced interval is honoured up to the cap; the client is not told, it keeps
  // its own rhythm, and a client within the cap is judged exactly as it announced.
  const int64_t cap = std::clamp<int64_t>(limits_.maxHeartbeat.count(), 1, 0xFFFFFFFF);
  Transport t;
  t.key = key;
  t.heartbeatInterval = static_cast<uint32_t>(std::min<int64_t>(heartbeatInterval, cap));
  t.lastHeard = Clock::now();
  t.sessionlessSince = t.lastHeard;
  transports_[id] = t;
  return {id, key, t.heartbeatInterval};
}

bool TransportRegistry::Attach(uint32_t id, uint32_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  if (it == transports_.end() || it->second.key != key)
    return false;
  it->second.lastHeard = Clock::now();
  return true;
}

bool TransportRegistry::Touch(uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  if (it == transports_.end())
    return false;
  it->second.lastHeard = Clock::now();
  return true;
}

bool TransportRegistry::Exists(uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transports_.count(id) != 0;
}

bool TransportRegistry::HasServingSession(uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  return it != transports_.end() && !it->second.serving.empty();
}

void TransportRegistry::AddConnection(uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  if (it == transports_.end())
    return;
  it->second.framed = true;
  ++it->second.connections;
}

void TransportRegistry::RemoveConnection(uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  if (it == transports_.end() || it->second.connections == 0)
    return;
  if (--it->second.connections == 0)
    it->second.unconnectedSince = Clock::now();
}

std::optional<ServerSession> TransportRegistry::OpenSession(uint32_t transportId,
                                                            const std::string& userName,
                                                            uint32_t timeout,
                                                            uint32_t clientVersion, bool serving) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(transportId);
  if (it == transports_.end())
    return std::nullopt;
  ServerSession s;
  s.transportId = transportId;
  s.sessionId = next_session_++;
  if (next_session_ == 0)
    next_session_ = 1;
  s.userName = userName;
  s.timeout = timeout;
  s.clientVersion = clientVersion;
  it->second.sessions.insert(s.sessionId);
  if (serving)
    it->second.serving.insert(s.sessionId);
  sessions_[s.sessionId] = s;
  return s;
}

void TransportRegistry::MarkServing(uint32_t transportId, uint32_t sessionId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(transportId);
  if (it != transports_.end() && it->second.sessions.count(sessionId) != 0)
    it->second.serving.insert(sessionId);
}

std::optional<ServerSession> TransportRegistry::FindSession(uint32_t transportId,
                                                            uint32_t sessionId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(sessionId);
  if (it == sessions_.end() || it->second.transportId != transportId)
    return std::nullopt;
  return it->second;
}

std::optional<ServerSession> TransportRegistry::CloseSession(uint32_t transportId,
                                                             uint32_t sessionId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(sessionId);
  if (it == sessions_.end() || it->second.transportId != transportId)
    return std::nullopt;
  ServerSession s = it->second;
  sessions_.erase(it);
  auto t = transports_.find(transportId);
  if (t != transports_.end()) {
    t->second.sessions.erase(sessionId);
    if (t->second.serving.erase(sessionId) != 0 && t->second.serving.empty())
      t->second.sessionlessSince = Clock::now();
  }
  return s;
}

TransportRegistry::Dropped TransportRegistry::Remove(std::map<uint32_t, Transport>::iterator it) {
  Dropped d{it->first, {}, DropReason::Asked};
  for (uint32_t sid : it->second.sessions) {
    auto s = sessions_.find(sid);
    if (s != sessions_.end()) {
      d.sessions.push_back(s->second);
      sessions_.erase(s);
    }
  }
  transports_.erase(it);
  return d;
}

std::vector<TransportRegistry::Dropped> TransportRegistry::ExpireSilent(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Dropped> dropped;
  for (auto it = transports_.begin(); it != transports_.end();) {
    const Transport& t = it->second;
    auto limit = std::chrono::milliseconds(2ull * t.heartbeatInterval);
    const bool silent = t.heartbeatInterval != 0 && now - t.lastHeard > limit;
    const bool unconnected =
        t.framed && t.connections == 0 && now - t.unconnectedSince > limits_.unconnectedGrace;
    // Transports of the local registry calls (never framed) end with their channel.
    const bool sessionless = t.framed && t.serving.empty() &&
                             limits_.noSessionTimeout.count() > 0 &&
                             now - t.sessionlessSince > limits_.noSessionTimeout;
    if (silent || unconnected || sessionless) {
      const DropReason reason = silent        ? DropReason::Silent
                                : unconnected ? DropReason::Unconnected
                                              : DropReason::NoSession;
      auto next = std::next(it);
      dropped.push_back(Remove(it));
      dropped.back().reason = reason;
      it = next;
    } else {
      ++it;
    }
  }
  return dropped;
}

std::vector<TransportRegistry::Dropped> TransportRegistry::DropAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Dropped> dropped;
  while (!transports_.empty())
    dropped.push_back(Remove(transports_.begin()));
  return dropped;
}

std::optional<TransportRegistry::Dropped> TransportRegistry::DropTransport(uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = transports_.find(id);
  if (it == transports_.end())
    return std::nullopt;
  return Remove(it);
}

size_t TransportRegistry::TransportCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transports_.size();
}

size_t TransportRegistry::SessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace vantera
