// Drives the tunnel's server half with a script of envelopes on tunnel sessions: raw
// bytes, and envelopes sealed under the right key and then damaged (a flipped byte, a cut).
// Input records: one op byte, one length byte, that many bytes.
//   op % 5 == 0  raw bytes as a sealed request
//   op % 5 == 1  the bytes as a credentials payload, sealed, then damaged per the op
//   op % 5 == 2  the bytes as a request (message id op / 5 + 1), sealed, then damaged
//   op % 5 == 3  raw bytes or a sealed post, per the op
//   op % 5 == 4  the tunnel session closes and a new one opens
// Must hold: never a crash; an error reply has no payload; a successful reply opens under
// the key; a real session opens only for credentials that were sealed undamaged.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/secured_envelope.h"
#include "protocol/tunnel_account.h"
#include "protocol/tunnel_credentials.h"
#include "server/tunnel_dispatcher.h"

using namespace vantera;

namespace {

class CountingDispatcher : public RequestDispatcher {
 public:
  explicit CountingDispatcher(int* opened) : opened_(opened) {}
  DispatchReply HandleRequest(const ServerSession&, uint32_t, std::string_view payload) override {
    return DispatchReply{0, Bytes(payload)};
  }
  void SessionOpened(const ServerSession&) override { ++*opened_; }

 private:
  int* opened_;
};

Bytes Damage(Bytes env, uint8_t op, const uint8_t* extra, size_t n) {
  const uint8_t how = static_cast<uint8_t>(op / 5);
  if (how % 4 == 1 && n > 0)
    env[extra[0] % env.size()] = static_cast<char>(env[extra[0] % env.size()] ^ (extra[n - 1] | 1));
  else if (how % 4 == 2)
    env.resize(env.size() - 1 - (how / 4) % env.size());
  else if (how % 4 == 3)
    env += Bytes(8, static_cast<char>(how));
  return env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kKey = "fuzz-avain";
  static TnxBlowFishRC4 sealer(kKey);
  static TnxBlowFishRC4 opener(kKey);

  AccountStore accounts;  // the empty user with the empty password
  accounts.Add("kassa", "sala");
  AddTunnelAccount(accounts);
  int opened = 0;
  int mayOpen = 0;
  TunnelDispatcher tunnel(std::make_unique<CountingDispatcher>(&opened), accounts, kKey,
                          ServerLog::Null());
  ServerSession session{1, 1, std::string(kTunnelUserName), 0, 10800};
  tunnel.SessionOpened(session);

  size_t pos = 0;
  while (pos + 2 <= size) {
    const uint8_t op = data[pos];
    const size_t n = data[pos + 1] <= size - pos - 2 ? data[pos + 1] : size - pos - 2;
    const uint8_t* bytes = data + pos + 2;
    const std::string_view view(reinterpret_cast<const char*>(bytes), n);
    pos += 2 + n;

    Bytes envelope;
    switch (op % 5) {
      case 0:
        envelope = Bytes(view);
        break;
      case 1: {
        envelope = SealEnvelope(sealer, 0, 0, view);
        Bytes damaged = Damage(envelope, op, bytes, n);
        if (damaged == envelope) {
          try {
            TunnelCredentials c = TunnelCredentials::Decode(view);
            if (accounts.Check(c.userName, c.password))
              ++mayOpen;
          } catch (const DecodeError&) {
          }
        }
        envelope = damaged;
        break;
      }
      case 2:
        envelope = Damage(SealEnvelope(sealer, op / 5 + 1u, 0, view), op, bytes, n);
        break;
      case 3:
        tunnel.HandlePost(session, kTunnelPostId,
                          op & 0x80 ? Bytes(view) : SealEnvelope(sealer, 3, 0, view));
        continue;
      case 4:
        tunnel.SessionClosed(session);
        ++session.sessionId;
        tunnel.SessionOpened(session);
        continue;
    }
    DispatchReply r = tunnel.HandleRequest(session, kTunnelRequestId, envelope);
    if (r.errorCode != 0 && !r.payload.empty())
      __builtin_trap();
    if (r.errorCode == 0) {
      Bytes buffer;
      OpenedEnvelope reply;
      if (OpenEnvelope(opener, r.payload, buffer, reply) != EnvelopeCheck::Ok)
        __builtin_trap();
    }
  }
  if (opened > mayOpen)
    __builtin_trap();
  tunnel.SessionClosed(session);
  return 0;
}
