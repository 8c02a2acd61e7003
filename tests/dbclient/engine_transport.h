// A transport that hands requests straight to the server's database engine in this
// process: the table cursor then runs against the real storage (SQLite), key order, ranges
// and blobs, without sockets. `lost` makes every request end as a lost connection does.
#pragma once

#include <atomic>

#include "dbconn/nxptBasePooledTransport.h"
#include "server/engine/server_engine.h"

namespace vantera::testing {

class EngineTransport : public TnxBaseTransport {
 public:
  explicit EngineTransport(ServerEngine& engine)
      : TnxBaseTransport("nxEngineTransport"), engine_(engine) {}
  ~EngineTransport() override { Close(); }

  std::atomic<bool> lost{false};
  std::atomic<uint64_t> requests{0};

  uint32_t EstablishSession(uint32_t, const std::string&, const std::string&, uint32_t,
                            uint32_t& session_id) override {
    if (lost)
      return 11276;
    session_id = next_session_++;
    engine_.OpenSession(session_id);
    return 0;
  }
  void Request(uint32_t, uint32_t session_id, uint32_t message_id, const char* data,
               uint32_t length, uint32_t, TnxReplyCallback callback, void* cookie) override {
    ++requests;
    if (lost) {
      callback(message_id, 11276, nullptr, 0, cookie);
      return;
    }
    EngineReply reply = engine_.Dispatch(session_id, message_id, std::string_view(data, length));
    callback(message_id, reply.code, reply.data.empty() ? nullptr : reply.data.data(),
             static_cast<uint32_t>(reply.data.size()), cookie);
  }
  void Post(uint32_t, uint32_t, uint32_t, const char*, uint32_t, uint32_t) override {}
  void CloseSession(uint32_t, uint32_t session_id, uint32_t) override {
    if (!lost)
      engine_.CloseSession(session_id);
  }

 private:
  ServerEngine& engine_;
  uint32_t next_session_ = 1;
};

}  // namespace vantera::testing
