// A transport for tests: records every request and answers from a script.
//
// Each request is answered by the first matching scripted reply (by message id), taken in
// order; a request without one is answered by the default handler, or with code 0 and no
// bytes. Extra replies can be pushed to arrive with the next request (stale replies,
// batches, wrong message ids).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/nxRequests.h"

namespace vantera::testing {

struct RecordedRequest {
  uint32_t session_id;
  uint32_t message_id;
  Bytes payload;
  uint32_t timeout;
};

struct ScriptedReply {
  uint32_t message_id;  // the reply's own message id
  uint32_t result;
  Bytes data;
};

class RecordingTransport : public TnxBaseTransport {
 public:
  RecordingTransport() : TnxBaseTransport("nxTestTransport") {}
  ~RecordingTransport() override { Close(); }

  // Login: the code and the session id it gives.
  uint32_t login_result = 0;
  uint32_t next_session_id = 7;
  std::vector<std::string> logins;  // "user/password" per attempt
  std::vector<uint32_t> closed_sessions;
  // Answers a request that has no scripted reply; the default answers 0 with no bytes.
  std::function<ScriptedReply(const RecordedRequest&)> handler;
  // When set, every request is answered with 11276 (a lost connection).
  bool lost = false;
  std::vector<RecordedRequest> requests;

  // The next request with this message id is answered thus.
  void Answer(uint32_t message_id, uint32_t result, Bytes data = {}) {
    script_.push_back({message_id, {message_id, result, std::move(data)}});
  }
  // The next request with `request_id` is answered with a reply carrying another id.
  void AnswerWith(uint32_t request_id, ScriptedReply reply) {
    script_.push_back({request_id, std::move(reply)});
  }
  // Delivered before the answer of the next request (any id), in order.
  void PushExtra(ScriptedReply reply) { extras_.push_back(std::move(reply)); }
  // The next request delivers no reply at all.
  void SwallowNext() { swallow_next_ = true; }

  std::vector<uint32_t> Ids() const {
    std::vector<uint32_t> ids;
    for (const auto& r : requests)
      ids.push_back(r.message_id);
    return ids;
  }
  // Request names joined by " ", for readable sequence checks.
  std::string Sequence(size_t from = 0) const {
    std::string s;
    for (size_t i = from; i < requests.size(); ++i) {
      if (!s.empty())
        s += ' ';
      s += nxRequestName(requests[i].message_id);
    }
    return s;
  }
  void ClearRecord() { requests.clear(); }

  uint32_t EstablishSession(uint32_t, const std::string& user, const std::string& password,
                            uint32_t, uint32_t& session_id) override {
    logins.push_back(user + "/" + password);
    if (login_result != 0)
      return login_result;
    session_id = next_session_id;
    return 0;
  }

  void Request(uint32_t, uint32_t session_id, uint32_t message_id, const char* data,
               uint32_t length, uint32_t timeout, TnxReplyCallback callback,
               void* cookie) override {
    RecordedRequest r{session_id, message_id, Bytes(data ? data : "", length), timeout};
    requests.push_back(r);
    if (lost) {
      callback(message_id, 11276, nullptr, 0, cookie);
      return;
    }
    while (!extras_.empty()) {
      ScriptedReply e = std::move(extras_.front());
      extras_.pop_front();
      callback(e.message_id, e.result, e.data.data(), static_cast<uint32_t>(e.data.size()), cookie);
    }
    if (swallow_next_) {
      swallow_next_ = false;
      return;
    }
    ScriptedReply reply{message_id, 0, {}};
    bool scripted = false;
    for (auto it = script_.begin(); it != script_.end(); ++it) {
      if (it->first == message_id) {
        reply = std::move(it->second);
        script_.erase(it);
        scripted = true;
        break;
      }
    }
    if (!scripted && handler)
      reply = handler(r);
    callback(reply.message_id, reply.result, reply.data.data(),
             static_cast<uint32_t>(reply.data.size()), cookie);
  }

  void Post(uint32_t, uint32_t, uint32_t, const char*, uint32_t, uint32_t) override {}
  void CloseSession(uint32_t, uint32_t session_id, uint32_t) override {
    closed_sessions.push_back(session_id);
  }

 private:
  std::deque<std::pair<uint32_t, ScriptedReply>> script_;
  std::deque<ScriptedReply> extras_;
  bool swallow_next_ = false;
};

}  // namespace vantera::testing
