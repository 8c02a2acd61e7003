// A hostile or broken database server, seen from the workstation: the store's operations
// (card and customer lookup, saving a template, the identification walk and its counter)
// run through the table cursors against the real server engine in this process, and the
// input rewrites the engine's replies on their way back.
//
// Input: byte 0 bit 0 saves a template (bytes 1..16 as its content); then one edit per
// reply while input lasts:
//   u8 op, then op's operands:
//     0-2  the reply as it is
//     3    u16 result code instead of the reply's
//     4    u8 n: the reply cut to n bytes (modulo its length + 1)
//     5    u16 position, u8 mask: one byte of the reply changed
//     6    u8 n, n bytes: the reply replaced
//     7    u16 message id: the reply arrives under another id
//     8    the reply arrives inside a batch (message id 255) with a stale sub-reply first
//     9    u8 n: n bytes of the input appended to the reply
// Nothing may crash, hang, read out of bounds or leak, and every failure must reach the
// caller as the database client's own error (or, for the template, the stream's).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbclient/nxdb.h"
#include "dbclient/nxdbStreams.h"
#include "fingerprint/store.h"
#include "fuzz/demo_engine.h"
#include "protocol/nxRequests.h"
#include "protocol/nxllException.h"

using namespace vantera;

namespace {

constexpr int kRunsPerFolder = 200;

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  bool More() const { return pos < size; }
  uint8_t U8() { return pos < size ? data[pos++] : 0; }
  uint16_t U16() {
    uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  Bytes Take(size_t n) {
    n = std::min(n, size - pos);
    Bytes b(reinterpret_cast<const char*>(data + pos), n);
    pos += n;
    return b;
  }
};

class HostileTransport : public TnxBaseTransport {
 public:
  HostileTransport(ServerEngine& engine, Input& input)
      : TnxBaseTransport("nxHostileTransport"), engine_(engine), in_(input) {}
  ~HostileTransport() override { Close(); }

  uint32_t EstablishSession(uint32_t, const std::string&, const std::string&, uint32_t,
                            uint32_t& session_id) override {
    session_id = next_session_++;
    engine_.OpenSession(session_id);
    return 0;
  }

  void Request(uint32_t, uint32_t session_id, uint32_t message_id, const char* data,
               uint32_t length, uint32_t, TnxReplyCallback callback, void* cookie) override {
    EngineReply reply = engine_.Dispatch(session_id, message_id, std::string_view(data, length));
    uint32_t id = message_id;
    uint32_t code = reply.code;
    Bytes bytes = std::move(reply.data);
    if (in_.More()) {
      switch (in_.U8() % 10) {
        case 3:
          code = in_.U16();
          break;
        case 4:
          bytes.resize(in_.U8() % (bytes.size() + 1));
          break;
        case 5:
          if (!bytes.empty()) {
            size_t at = in_.U16() % bytes.size();
            bytes[at] = static_cast<char>(bytes[at] ^ in_.U8());
          }
          break;
        case 6:
          bytes = in_.Take(in_.U8());
          break;
        case 7:
          id = in_.U16();
          break;
        case 8: {
          std::vector<SubReply> subs{{message_id + 1, 0, Bytes("stale")},
                                     {message_id, code, bytes}};
          bytes = EncodeBatchReply(subs);
          id = nxmsg::kBatchReply;
          code = 0;
          break;
        }
        case 9:
          bytes += in_.Take(in_.U8());
          break;
        default:
          break;
      }
    }
    callback(id, code, bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size()),
             cookie);
  }

  void Post(uint32_t, uint32_t, uint32_t, const char*, uint32_t, uint32_t) override {}

  void CloseSession(uint32_t, uint32_t session_id, uint32_t) override {
    engine_.CloseSession(session_id);
  }

 private:
  ServerEngine& engine_;
  Input& in_;
  uint32_t next_session_ = 1;
};

// Runs one step; the database client's own errors are expected answers to a bad reply, and
// so is the stream error of a template that could not be written whole.
template <typename Step>
void Try(Step step) {
  try {
    step();
  } catch (const EnxBaseException&) {
  } catch (const EStreamError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DemoEngine demo("serverreplies", [] {
    EngineOptions options;
    options.max_blob_size = 1 << 20;
    return options;
  }());
  static int runs = 0;
  if (++runs > kRunsPerFolder) {
    demo.Renew();
    runs = 1;
  }
  Input in{data, size};
  const uint8_t flags = in.U8();
  const Bytes templ = in.Take(16);

  HostileTransport transport(demo.engine(), in);
  TnxRemoteServerEngine remote("nxRemoteServerEngine");
  TnxSession session("nxSession");
  TnxDatabase database("nxDatabase");
  FingerprintStore store;
  remote.SetTransport(&transport);
  session.SetServerEngine(&remote);
  database.SetSession(&session);
  database.SetAliasName("Tarvola");
  store.SetDatabase(&database);
  store.SetClock([] { return 46000.5; });

  Try([&] { (void)store.FindCard("6390000010010001", "KorttiNro"); });
  Try([&] { (void)store.FindCustomer(StoredAsNo("1001")); });
  if (flags & 1)
    Try([&] { store.AppendFingerprint("1001", "100101", templ); });
  Try([&] {
    store.OpenForIdentification();
    {
      CardFingerprints card(store.TblAsSormi, "100101");
      for (int n = 0; n < 8 && !card.AtEnd(); ++n) {
        (void)card.Read();
        card.Next();
      }
      card.Cancel();
    }
    store.CountIdentification(StoredAsNo("1001"));
  });
  Try([&] { store.CloseFingerprints(); });
  return 0;
}
