// A transport for tests that hands the four operations straight to a server-side
// RequestDispatcher in the same process, and records every call it receives. It stands in
// for the TCP transport under the encrypted transport, so that tests can see exactly what
// the tunnel asks of its inner transport and can damage replies on the way back.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/nxllErrors.h"
#include "server/account_store.h"
#include "server/request_dispatcher.h"

namespace vantera::testing {

class LoopbackInnerTransport : public TnxBaseTransport {
 public:
  struct Call {
    std::string op;  // "open", "request", "post", "close"
    uint32_t transportId = 0;
    uint32_t sessionId = 0;
    uint32_t messageId = 0;
    uint32_t timeout = 0;
    std::string user;
    std::string data;
  };

  LoopbackInnerTransport(RequestDispatcher& dispatcher, const AccountStore& accounts)
      : TnxBaseTransport("Inner"), dispatcher_(dispatcher), accounts_(accounts) {}
  ~LoopbackInnerTransport() override { Close(); }

  // Changes each reply payload before it is delivered.
  std::function<void(Bytes&)> tamper;
  // Every operation fails as a lost connection would.
  bool failed = false;

  uint32_t EstablishSession(uint32_t transportId, const std::string& user,
                            const std::string& password, uint32_t timeout,
                            uint32_t& sessionId) override {
    Record({"open", transportId, 0, 0, timeout, user, password});
    sessionId = 0;
    if (failed)
      return nxcode::kLostCommunication;
    if (!accounts_.Check(user, password))
      return nxcode::kUnknownUserOrPassword;
    ServerSession s{1, next_++, user, timeout, 10800};
    sessions_[s.sessionId] = s;
    dispatcher_.SessionOpened(s);
    sessionId = s.sessionId;
    return 0;
  }

  void Request(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
               uint32_t length, uint32_t timeout, TnxReplyCallback callback,
               void* cookie) override {
    Record({"request", transportId, sessionId, messageId, timeout, "", Bytes(data, length)});
    auto it = sessions_.find(sessionId);
    if (failed || it == sessions_.end()) {
      callback(messageId, failed ? nxcode::kLostCommunication : nxcode::kInvalidHandle, nullptr, 0,
               cookie);
      return;
    }
    DispatchReply r = dispatcher_.HandleRequest(it->second, messageId, Bytes(data, length));
    if (tamper)
      tamper(r.payload);
    callback(messageId, r.errorCode, r.payload.empty() ? nullptr : r.payload.data(),
             static_cast<uint32_t>(r.payload.size()), cookie);
  }

  void Post(uint32_t transportId, uint32_t sessionId, uint32_t messageId, const char* data,
            uint32_t length, uint32_t timeout) override {
    Record({"post", transportId, sessionId, messageId, timeout, "", Bytes(data, length)});
    auto it = sessions_.find(sessionId);
    if (!failed && it != sessions_.end())
      dispatcher_.HandlePost(it->second, messageId, Bytes(data, length));
  }

  void CloseSession(uint32_t transportId, uint32_t sessionId, uint32_t timeout) override {
    CheckStarted();
    Record({"close", transportId, sessionId, 0, timeout, "", ""});
    auto it = sessions_.find(sessionId);
    if (it != sessions_.end()) {
      dispatcher_.SessionClosed(it->second);
      sessions_.erase(it);
    }
  }

  std::vector<Call> Calls(const std::string& op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> out;
    for (const Call& c : calls_)
      if (c.op == op)
        out.push_back(c);
    return out;
  }
  size_t OpenSessions() const { return sessions_.size(); }

 private:
  void Record(Call c) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(c));
  }

  RequestDispatcher& dispatcher_;
  const AccountStore& accounts_;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::map<uint32_t, ServerSession> sessions_;
  uint32_t next_ = 100;
};

// Echoes each request; message id 2 answers 8706 with the data. Counts what it sees.
class EchoDispatcher : public RequestDispatcher {
 public:
  DispatchReply HandleRequest(const ServerSession& session, uint32_t messageId,
                              std::string_view payload) override {
    std::lock_guard<std::mutex> lock(mutex_);
    last_user = session.userName;
    return DispatchReply{messageId == 2 ? 8706u : 0u, Bytes(payload)};
  }
  void HandlePost(const ServerSession&, uint32_t messageId, std::string_view payload) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posts.push_back(std::to_string(messageId) + ":" + std::string(payload));
  }
  void SessionOpened(const ServerSession& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    opened.push_back(s.userName);
  }
  void SessionClosed(const ServerSession& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed.push_back(s.userName);
  }

  std::mutex mutex_;
  std::string last_user;
  std::vector<std::string> posts;
  std::vector<std::string> opened;
  std::vector<std::string> closed;
};

}  // namespace vantera::testing
