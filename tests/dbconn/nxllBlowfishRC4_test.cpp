#include "protocol/nxllBlowfishRC4.h"

#include <gtest/gtest.h>
#include <nettle/arcfour.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/coding.h"
#include "protocol/nxllException.h"
#include "tests/dbconn/test_vectors.h"

namespace vantera {
namespace {

using testing::PseudoRandomBytes;

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

struct Sealed {
  std::string data;
  CipherWords mac;
};

Sealed Seal(TnxBlowFishRC4& c, CipherWords iv, std::string plain) {
  c.SetIV(iv);
  c.Encrypt(plain.data(), plain.size());
  return Sealed{plain, c.MAC()};
}

Sealed Open(TnxBlowFishRC4& c, CipherWords iv, std::string sealed) {
  c.SetIV(iv);
  c.Decrypt(sealed.data(), sealed.size());
  return Sealed{sealed, c.MAC()};
}

// An independent composition of the message format: the keystream comes from nettle's RC4
// generator, the block cipher from the protocol form (checked on its own in
// nxllBlowfishCore_test.cpp), the chaining, whitening and MAC as the format describes them.
Sealed ReferenceSeal(const std::string& key, CipherWords iv, const std::string& plain) {
  const std::string key_text = key.empty() ? " " : key;
  auto bf = std::make_unique<BlowfishCore<kProtocolBlowfish>>();
  bf->SetKey(U(key_text), key_text.size());

  arcfour_ctx rc4;
  if (key.empty()) {
    for (int m = 0; m < 256; ++m)
      rc4.S[m] = static_cast<uint8_t>(m);
  } else {
    arcfour_set_key(&rc4, key.size() < 256 ? key.size() : 256, U(key));
  }
  std::string block_key;
  for (uint32_t m = 0; m < 32; ++m) {
    uint32_t l = iv.w0, r = m;
    bf->EncryptBlock(l, r);
    PutFixed32(&block_key, l);
    PutFixed32(&block_key, r ^ iv.w1);
  }
  uint8_t j = 0;
  for (int m = 0; m < 256; ++m) {
    j = static_cast<uint8_t>(j + rc4.S[m] + U(block_key)[m]);
    std::swap(rc4.S[m], rc4.S[j]);
  }
  rc4.i = rc4.j = 0;
  std::string ks(8 + plain.size() + 8, '\0');
  arcfour_crypt(&rc4, ks.size(), reinterpret_cast<uint8_t*>(ks.data()), U(ks));
  auto word = [&](size_t at) { return DecodeFixed32(ks.data() + at); };

  const uint32_t w1 = word(0);
  uint32_t c0 = iv.w0, c1 = iv.w1, x0 = 0, x1 = 0;
  std::string out;
  for (size_t off = 0; off < plain.size(); off += 8) {
    const uint32_t p0 = DecodeFixed32(plain.data() + off),
                   p1 = DecodeFixed32(plain.data() + off + 4);
    x0 ^= p0;
    x1 ^= p1;
    uint32_t t0 = p0 ^ c0, t1 = p1 ^ c1;
    bf->EncryptBlock(t0, t1);
    c0 = t0 ^ word(8 + off);
    c1 = t1 ^ word(8 + off + 4);
    PutFixed32(&out, c0);
    PutFixed32(&out, c1);
  }
  uint32_t m0 = x0 ^ word(8 + plain.size()), m1 = x1 ^ word(8 + plain.size() + 4);
  bf->EncryptBlock(m0, m1);
  return Sealed{out, CipherWords{m0 ^ w1, m1 ^ w1}};
}

TEST(BlowFishRC4, MessagesMatchAnIndependentComposition) {
  const CipherWords iv{0x01234567, 0x89ABCDEF};
  for (const std::string& key :
       {std::string(), std::string("Vantera"), PseudoRandomBytes(300, 9)}) {
    TnxBlowFishRC4 c(key);
    for (size_t len : {0u, 8u, 24u, 1024u}) {
      const std::string plain = PseudoRandomBytes(len, static_cast<unsigned>(len + key.size()));
      const Sealed got = Seal(c, iv, plain);
      const Sealed want = ReferenceSeal(key, iv, plain);
      EXPECT_EQ(testing::ToHex(got.data), testing::ToHex(want.data)) << key.size() << "/" << len;
      EXPECT_EQ(got.mac, want.mac) << key.size() << "/" << len;
    }
  }
}

TEST(BlowFishRC4, SealedMessagesOpenWithTheSameMac) {
  TnxBlowFishRC4 sender("Salasana");
  TnxBlowFishRC4 receiver("Salasana");
  const std::string plain = PseudoRandomBytes(1024, 1);

  // Sealed in one piece, opened in uneven pieces.
  const CipherWords iv = sender.NewIV();
  std::string buf = plain;
  sender.Encrypt(buf.data(), buf.size());
  const CipherWords mac = sender.MAC();
  EXPECT_TRUE(sender.Finalised());
  EXPECT_NE(buf, plain);

  receiver.SetIV(iv);
  EXPECT_FALSE(receiver.Finalised());
  receiver.Decrypt(buf.data(), 8);
  receiver.Decrypt(buf.data() + 8, 512);
  receiver.Decrypt(buf.data() + 520, buf.size() - 520);
  EXPECT_EQ(buf, plain);
  EXPECT_EQ(receiver.MAC(), mac);

  // Sealing in pieces gives the same bytes as in one piece.
  std::string pieces = plain;
  sender.SetIV(iv);
  sender.Encrypt(pieces.data(), 16);
  sender.Encrypt(pieces.data() + 16, pieces.size() - 16);
  EXPECT_EQ(sender.MAC(), mac);
  EXPECT_EQ(pieces, Seal(sender, iv, plain).data);

  // A changed ciphertext byte changes the MAC.
  std::string tampered = pieces;
  tampered[100] = static_cast<char>(tampered[100] ^ 1);
  EXPECT_NE(Open(receiver, iv, tampered).mac, mac);
  // A wrong initial value garbles the message and the MAC.
  const Sealed wrong_iv = Open(receiver, CipherWords{iv.w0, iv.w1 ^ 1}, pieces);
  EXPECT_NE(wrong_iv.data, plain);
  EXPECT_NE(wrong_iv.mac, mac);

  // The same message sealed twice under fresh initial values looks different.
  const CipherWords iv2 = sender.NewIV();
  EXPECT_NE(iv2, iv);
  EXPECT_NE(Seal(sender, iv2, plain).data, pieces);
}

TEST(BlowFishRC4, ReceiverWithAnotherKeyRejectsTheMessage) {
  TnxBlowFishRC4 sender("Avain-1");
  const std::string plain = PseudoRandomBytes(64, 2);
  const CipherWords iv{7, 8};
  const Sealed sealed = Seal(sender, iv, plain);
  for (const std::string& other : {std::string("Avain-2"), std::string(), std::string("avain-1")}) {
    TnxBlowFishRC4 receiver(other);
    const Sealed opened = Open(receiver, iv, sealed.data);
    EXPECT_NE(opened.mac, sealed.mac) << other;
    EXPECT_NE(opened.data, plain) << other;
  }
}

TEST(BlowFishRC4, EmptyAndLongKeys) {
  // Empty key: Blowfish keyed with a blank, keystream base the identity.
  TnxBlowFishRC4 empty("");
  TnxBlowFishRC4 blank(" ");
  EXPECT_EQ(empty.KeyText(), " ");
  for (uint32_t k = 0; k < 8; ++k) {
    uint32_t l1 = k, r1 = ~k, l2 = k, r2 = ~k;
    empty.EncryptBlock(l1, r1);
    blank.EncryptBlock(l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
  }
  const std::string plain(32, 'x');
  const CipherWords iv{1, 2};
  EXPECT_NE(Seal(empty, iv, plain).data, Seal(blank, iv, plain).data);  // bases differ
  TnxBlowFishRC4 empty_receiver("");
  const Sealed sealed = Seal(empty, iv, plain);
  const Sealed opened = Open(empty_receiver, iv, sealed.data);
  EXPECT_EQ(opened.data, plain);
  EXPECT_EQ(opened.mac, sealed.mac);

  // A key of 300 bytes: beyond the 256th byte nothing changes; before it the base changes.
  const std::string long_key = PseudoRandomBytes(300, 4);
  std::string changed_late = long_key, changed_in_base = long_key;
  changed_late[290] = static_cast<char>(changed_late[290] ^ 0x55);
  changed_in_base[200] = static_cast<char>(changed_in_base[200] ^ 0x55);
  TnxBlowFishRC4 a(long_key), b(changed_late), c(changed_in_base);
  EXPECT_EQ(a.KeyText(), long_key);
  const std::string text = PseudoRandomBytes(256, 6);
  const Sealed sa = Seal(a, iv, text);
  EXPECT_EQ(Seal(b, iv, text).data, sa.data);
  EXPECT_NE(Seal(c, iv, text).data, sa.data);
}

TEST(BlowFishRC4, RejectsCountsThatAreNotWholeBlocks) {
  TnxBlowFishRC4 c("k");
  c.SetIV(CipherWords{1, 2});
  std::string buf = "0123456789";
  try {
    c.Encrypt(buf.data(), buf.size());
    FAIL() << "10 bytes accepted";
  } catch (const EnxBaseException& e) {
    EXPECT_EQ(e.ErrorCode(), 9986u);
  }
  EXPECT_EQ(buf, "0123456789");
  EXPECT_THROW(c.Decrypt(buf.data(), 7), EnxBaseException);
}

TEST(BlowFishRC4, DestructionZeroesTheKeyMaterial) {
  alignas(TnxBlowFishRC4) unsigned char storage[sizeof(TnxBlowFishRC4)];
  auto* c = new (storage) TnxBlowFishRC4(PseudoRandomBytes(40, 8));
  c->SetIV(CipherWords{3, 4});
  size_t nonzero_before = 0;
  for (unsigned char b : storage)
    nonzero_before += b != 0;
  c->~TnxBlowFishRC4();
  size_t nonzero_after = 0;
  for (unsigned char b : storage)
    nonzero_after += b != 0;
  EXPECT_GT(nonzero_before, sizeof storage / 2);
  // What may remain: the key text's string bookkeeping and the message flags.
  EXPECT_LE(nonzero_after, 48u);
}

TEST(IVGenerator, InitialValuesDiffer) {
  TnxBlowFishRC4 c("k");
  std::set<std::pair<uint32_t, uint32_t>> seen;
  for (int k = 0; k < 1000; ++k) {
    const CipherWords iv = c.NewIV();
    EXPECT_TRUE(seen.emplace(iv.w0, iv.w1).second) << k;
  }
  uint64_t last = nxPerformanceCounter();
  for (int k = 0; k < 1000; ++k) {
    const uint64_t now = nxPerformanceCounter();
    ASSERT_GT(now, last);
    last = now;
  }
  // Two generators are keyed differently.
  auto g1 = nxCreateIVGenerator();
  auto g2 = nxCreateIVGenerator();
  EXPECT_NE(g1->KeyText(), g2->KeyText());
  EXPECT_EQ(g1->KeyText().size(), 16u);
}

TEST(IVGenerator, CreationFromTwoThreadsAtOnceKeepsOne) {
  IVGeneratorSlot slot;
  std::atomic<int> ready{0};
  const TnxBlowFishRC4* seen[2] = {nullptr, nullptr};
  auto run = [&](int k) {
    ready.fetch_add(1);
    while (ready.load() < 2) {
      std::this_thread::yield();
    }
    seen[k] = &slot.Get();
  };
  std::thread t0(run, 0), t1(run, 1);
  t0.join();
  t1.join();
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(&slot.Get(), seen[0]);
  // Concurrent use of the kept generator only reads it.
  std::vector<std::thread> users;
  std::atomic<int> mismatches{0};
  for (int k = 0; k < 2; ++k) {
    users.emplace_back([&] {
      for (uint32_t n = 0; n < 200; ++n) {
        uint32_t l = n, r = 0;
        slot.Get().EncryptBlock(l, r);
        slot.Get().DecryptBlock(l, r);
        if (l != n || r != 0)
          mismatches.fetch_add(1);
      }
    });
  }
  for (auto& t : users)
    t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace vantera
