// A client session over the real TCP transport, for tests and benchmarks that talk to
// kantadb-server over loopback: requests are encoded with the client's codecs and the
// reply comes back as code and bytes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "dbconn/nxtwWinsockTransport.h"
#include "server/engine/server_engine.h"

namespace vantera::testing {

class RemoteClient {
 public:
  // Connects to 127.0.0.1:port and logs in with the empty user name and password.
  explicit RemoteClient(uint16_t port, uint32_t heartbeat_interval = 10000)
      : transport_("nxWinsockTransport") {
    transport_.SetServerNameRuntime("KantaDB@127.0.0.1");
    transport_.SetPort(port);
    transport_.SetHeartbeatInterval(heartbeat_interval);
    transport_.Open();
    uint32_t code = transport_.EstablishSession(0, "", "", 10000, session_);
    if (code != 0)
      throw std::runtime_error("login failed: " + std::to_string(code));
  }
  ~RemoteClient() {
    if (vanished_)
      return;
    transport_.CloseSession(0, session_, 1000);
    transport_.Close();
  }
  RemoteClient(const RemoteClient&) = delete;
  RemoteClient& operator=(const RemoteClient&) = delete;

  // Ends the client as a crash would: every connection closed, nothing said to the server.
  void Vanish() {
    transport_.Close();
    vanished_ = true;
  }

  EngineReply Call(uint32_t message_id, std::string_view payload, uint32_t timeout = 10000) {
    EngineReply reply{11276, {}};
    transport_.Request(0, session_, message_id, payload.data(),
                       static_cast<uint32_t>(payload.size()), timeout, &Collect, &reply);
    return reply;
  }

 private:
  static void Collect(uint32_t /*message_id*/, uint32_t error, const char* data, uint32_t length,
                      void* cookie) {
    auto* reply = static_cast<EngineReply*>(cookie);
    reply->code = error;
    reply->data = data ? Bytes(data, length) : Bytes();
  }

  TnxWinsockTransport transport_;
  uint32_t session_ = 0;
  bool vanished_ = false;
};

}  // namespace vantera::testing
