#include "protocol/tunnel_credentials.h"

#include "protocol/tagged_stream.h"

namespace vantera {

Bytes TunnelCredentials::Encode() const {
  Bytes out;
  TaggedWriter w(&out);
  w.WriteString(userName);
  w.WriteString(password);
  // Both are 32-bit Ints on the wire: a time-out above 2^31 - 1 travels as its negative
  // two's complement, as every 32-bit writer of this protocol sends it.
  w.WriteInt(static_cast<int32_t>(timeout));
  w.WriteInt(static_cast<int32_t>(clientVersion));
  return out;
}

TunnelCredentials TunnelCredentials::Decode(std::string_view bytes) {
  TaggedReader r(bytes);
  TunnelCredentials c;
  c.userName = r.ReadString();
  c.password = r.ReadString();
  c.timeout = static_cast<uint32_t>(r.ReadInt32());
  c.clientVersion = static_cast<uint32_t>(r.ReadInt32());
  if (!r.empty())
    throw TaggedStreamError("bytes after the credentials");
  return c;
}

}  // namespace vantera
