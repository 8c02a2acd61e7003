#include "protocol/login_block.h"

#include "protocol/nxllBlowfishRC4.h"

namespace vantera {

Bytes LoginBlock::Encode() const {
  Bytes out;
  out.reserve(kSize);
  PutShortString(&out, userName, 255);
  PutShortString(&out, password, 255);
  PutFixed32(&out, timeout);
  PutFixed32(&out, clientVersion);
  PutFixed32(&out, ivA);
  PutFixed32(&out, ivB);
  PutFixed32(&out, mac0);
  PutFixed32(&out, mac1);
  return out;
}

LoginBlock LoginBlock::Decode(std::string_view bytes) {
  if (bytes.size() != kSize)
    throw DecodeError("login block of " + std::to_string(bytes.size()) + " bytes, 536 expected");
  Reader r(bytes);
  LoginBlock b;
  b.userName = r.GetShortString(255);
  b.password = r.GetShortString(255);
  b.timeout = r.GetFixed32();
  b.clientVersion = r.GetFixed32();
  b.ivA = r.GetFixed32();
  b.ivB = r.GetFixed32();
  b.mac0 = r.GetFixed32();
  b.mac1 = r.GetFixed32();
  return b;
}

Bytes SealLoginBlock(TnxBlowFishRC4& cipher, std::string_view userName, std::string_view password,
                     uint32_t timeout) {
  LoginBlock block;
  block.userName = std::string(userName.substr(0, 255));
  block.password = std::string(password.substr(0, 255));
  block.timeout = timeout;
  Bytes bytes = block.Encode();
  CipherWords iv = cipher.NewIV();
  cipher.Encrypt(bytes.data(), LoginBlock::kEnciphered);
  CipherWords mac = cipher.MAC();
  EncodeFixed32(bytes.data() + 520, iv.w0);
  EncodeFixed32(bytes.data() + 524, iv.w1);
  EncodeFixed32(bytes.data() + 528, mac.w0);
  EncodeFixed32(bytes.data() + 532, mac.w1);
  return bytes;
}

LoginBlockCheck OpenLoginBlock(TnxBlowFishRC4& cipher, std::string_view payload,
                               LoginBlock& block) {
  if (payload.size() != LoginBlock::kSize)
    return LoginBlockCheck::WrongSize;
  Bytes bytes(payload);
  cipher.SetIV(DecodeFixed32(bytes.data() + 520), DecodeFixed32(bytes.data() + 524));
  cipher.Decrypt(bytes.data(), LoginBlock::kEnciphered);
  CipherWords mac = cipher.MAC();
  if (mac.w0 != DecodeFixed32(bytes.data() + 528) || mac.w1 != DecodeFixed32(bytes.data() + 532))
    return LoginBlockCheck::BadMac;
  block = LoginBlock::Decode(bytes);
  return LoginBlockCheck::Ok;
}

}  // namespace vantera
