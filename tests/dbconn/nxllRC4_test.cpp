#include "protocol/nxllRC4.h"

#include <gtest/gtest.h>
#include <nettle/arcfour.h>

#include <cstring>
#include <string>

#include "tests/dbconn/test_vectors.h"

namespace vantera {
namespace {

using testing::Fields;
using testing::FromHex;
using testing::PseudoRandomBytes;

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string Keystream(TnxRC4& rc4, size_t n) {
  std::string out(n, '\0');
  rc4.Crypt(reinterpret_cast<unsigned char*>(out.data()), n);
  return out;
}

TEST(RC4, KeystreamMatchesPublishedVectors) {
  std::string key, stream;
  int checked = 0;
  for (const std::string& line : testing::VectorLines("rc4-rfc6229.txt")) {
    auto f = Fields(line);
    ASSERT_EQ(f.size(), 2u) << line;
    if (f[0] == "key") {
      key = FromHex(f[1]);
      TnxRC4 rc4;
      rc4.SetBaseKey(U(key), key.size());
      stream = Keystream(rc4, 0x1010);
      continue;
    }
    const size_t offset = std::stoul(f[0], nullptr, 16);
    ASSERT_LE(offset + 16, stream.size());
    EXPECT_EQ(stream.substr(offset, 16), FromHex(f[1]))
        << "key " << testing::ToHex(key) << " @" << f[0];
    ++checked;
  }
  EXPECT_GE(checked, 60);
}

TEST(RC4, AgreesWithNettleAndPacksWordsLowByteFirst) {
  for (size_t len : {1u, 5u, 16u, 40u, 255u, 256u}) {
    const std::string key = PseudoRandomBytes(len, static_cast<unsigned>(len));
    arcfour_ctx ref;
    arcfour_set_key(&ref, len, U(key));
    TnxRC4 rc4;
    rc4.SetBaseKey(U(key), key.size());
    EXPECT_EQ(0, std::memcmp(rc4.BasePermutation(), ref.S, 256)) << len;

    std::string expect(64, '\0');
    arcfour_crypt(&ref, expect.size(), reinterpret_cast<uint8_t*>(expect.data()), U(expect));
    for (size_t w = 0; w < 16; ++w) {
      const auto* b = reinterpret_cast<const unsigned char*>(expect.data()) + 4 * w;
      const uint32_t word = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
      EXPECT_EQ(rc4.NextWord(), word) << len << " word " << w;
    }
  }

  // Past 256 bytes a key no longer shapes the base permutation.
  const std::string long_key = PseudoRandomBytes(300, 7);
  arcfour_ctx ref;
  arcfour_set_key(&ref, 256, U(long_key));
  TnxRC4 rc4;
  rc4.SetBaseKey(U(long_key), long_key.size());
  EXPECT_EQ(0, std::memcmp(rc4.BasePermutation(), ref.S, 256));

  // An empty key keeps the identity.
  rc4.SetBaseKey(nullptr, 0);
  for (int m = 0; m < 256; ++m)
    ASSERT_EQ(rc4.BasePermutation()[m], m);
}

TEST(RC4, RekeyRunsTheScheduleFromTheBase) {
  unsigned char key[256];
  const std::string k = PseudoRandomBytes(256, 3);
  std::memcpy(key, k.data(), 256);

  // From the identity base, re-keying is the published schedule with the 256-byte key.
  TnxRC4 rc4;
  rc4.SetBaseKey(nullptr, 0);
  (void)rc4.NextWord();  // state left over from an earlier message must not matter
  rc4.Rekey(key);
  arcfour_ctx ref;
  arcfour_set_key(&ref, 256, key);
  EXPECT_EQ(0, std::memcmp(rc4.Permutation(), ref.S, 256));
  std::string expect(32, '\0');
  arcfour_crypt(&ref, expect.size(), reinterpret_cast<uint8_t*>(expect.data()), U(expect));
  EXPECT_EQ(Keystream(rc4, 32), expect);

  // From a keyed base, the result differs from both the base and the plain schedule,
  // and the base itself is untouched.
  const std::string base_key = "Salainen";
  TnxRC4 keyed;
  keyed.SetBaseKey(U(base_key), base_key.size());
  const std::string base(reinterpret_cast<const char*>(keyed.BasePermutation()), 256);
  keyed.Rekey(key);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(keyed.BasePermutation()), 256), base);
  EXPECT_NE(0, std::memcmp(keyed.Permutation(), ref.S, 256));
  EXPECT_NE(0, std::memcmp(keyed.Permutation(), keyed.BasePermutation(), 256));
  // The same re-key twice gives the same stream.
  const std::string s1 = Keystream(keyed, 16);
  keyed.Rekey(key);
  EXPECT_EQ(Keystream(keyed, 16), s1);
}

}  // namespace
}  // namespace vantera
