#include "protocol/secured_envelope.h"

#include <limits>
#include <stdexcept>

namespace vantera {

Bytes SealEnvelope(TnxBlowFishRC4& cipher, uint32_t messageId, uint32_t word,
                   std::string_view payload) {
  if (payload.size() > std::numeric_limits<uint32_t>::max() - 40)
    throw std::length_error("payload too long for a sealed envelope");
  const size_t length = SealedEnvelope::LengthFor(payload.size());
  Bytes env;
  env.reserve(length);
  env.resize(SealedEnvelope::kClearSize);  // initial value and MAC, stored below
  PutFixed32(&env, messageId);
  PutFixed32(&env, word);
  PutFixed32(&env, static_cast<uint32_t>(payload.size()));
  env.append(payload);
  env.resize(length, '\0');

  const CipherWords iv = cipher.NewIV();
  cipher.Encrypt(env.data() + SealedEnvelope::kClearSize, length - SealedEnvelope::kClearSize);
  const CipherWords mac = cipher.MAC();
  EncodeFixed32(env.data(), iv.w0);
  EncodeFixed32(env.data() + 4, iv.w1);
  EncodeFixed32(env.data() + 8, mac.w0);
  EncodeFixed32(env.data() + 12, mac.w1);
  return env;
}

EnvelopeCheck OpenEnvelope(TnxBlowFishRC4& cipher, std::string_view envelope, Bytes& buffer,
                           OpenedEnvelope& out) {
  if (envelope.size() < SealedEnvelope::kHeaderSize || envelope.size() % 8 != 0)
    return EnvelopeCheck::BadLength;
  buffer.assign(envelope);
  Reader clear(buffer.data(), SealedEnvelope::kClearSize);
  const CipherWords iv{clear.GetFixed32(), clear.GetFixed32()};
  const CipherWords sent{clear.GetFixed32(), clear.GetFixed32()};

  cipher.SetIV(iv);
  cipher.Decrypt(buffer.data() + SealedEnvelope::kClearSize,
                 buffer.size() - SealedEnvelope::kClearSize);
  if (!(cipher.MAC() == sent))
    return EnvelopeCheck::BadMac;

  Reader in(std::string_view(buffer).substr(SealedEnvelope::kClearSize));
  OpenedEnvelope e;
  e.iv = iv;
  e.messageId = in.GetFixed32();
  e.word = in.GetFixed32();
  const uint32_t n = in.GetFixed32();
  if (n > in.remaining())
    return EnvelopeCheck::BadPayloadLength;
  e.payload = in.GetBytes(n);
  out = e;
  return EnvelopeCheck::Ok;
}

const char* EnvelopeCheckName(EnvelopeCheck check) {
  switch (check) {
    case EnvelopeCheck::Ok:
      return "ok";
    case EnvelopeCheck::BadLength:
      return "length";
    case EnvelopeCheck::BadMac:
      return "MAC";
    case EnvelopeCheck::BadPayloadLength:
      return "payload length";
  }
  return "?";
}

}  // namespace vantera
