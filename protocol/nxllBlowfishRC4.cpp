#include "protocol/nxllBlowfishRC4.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/coding.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "protocol/nxllSecureZero.h"

namespace vantera {
namespace {

const unsigned char* KeyBytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// The current date and time as days since 1899-12-30 with the time as the fraction: the
// customary 8-byte date-time of the platform the protocol comes from.
double DateTimeNow() {
  using namespace std::chrono;
  const double unix_days =
      duration<double, std::ratio<86400>>(system_clock::now().time_since_epoch()).count();
  return unix_days + 25569.0;  // days from 1899-12-30 to 1970-01-01
}

std::string CounterText(uint64_t counter) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(counter));
  return std::string(buf, 16);
}

}  // namespace

TnxBlowFishRC4::TnxBlowFishRC4(std::string_view key)
    : key_text_(key.empty() ? std::string(" ") : std::string(key)) {
  // The keystream base takes the key as given: an empty key leaves it the identity.
  rc4_.SetBaseKey(KeyBytes(key), key.size());
  blowfish_.SetKey(KeyBytes(key_text_), key_text_.size());
}

TnxBlowFishRC4::~TnxBlowFishRC4() {
  blowfish_.Wipe();
  rc4_.Wipe();
  SecureZero(&w1_, sizeof w1_);
  SecureZero(&w2_, sizeof w2_);
  SecureZero(&c0_, sizeof c0_);
  SecureZero(&c1_, sizeof c1_);
  SecureZero(&x0_, sizeof x0_);
  SecureZero(&x1_, sizeof x1_);
  SecureZero(key_text_.data(), key_text_.size());
}

void TnxBlowFishRC4::SetIV(uint32_t a, uint32_t b) {
  c0_ = a;
  c1_ = b;
  // The per-message RC4 key: 32 blocks (E(A, m).left, E(A, m).right ^ B), little-endian.
  unsigned char key[256];
  for (uint32_t m = 0; m < 32; ++m) {
    uint32_t l = a, r = m;
    blowfish_.EncryptBlock(l, r);
    EncodeFixed32(reinterpret_cast<char*>(key + 8 * m), l);
    EncodeFixed32(reinterpret_cast<char*>(key + 8 * m + 4), r ^ b);
  }
  rc4_.Rekey(key);
  SecureZero(key, sizeof key);
  x0_ = x1_ = 0;
  w1_ = rc4_.NextWord();
  w2_ = rc4_.NextWord();
  finalised_ = false;
}

CipherWords TnxBlowFishRC4::NewIV() {
  const uint64_t counter = nxPerformanceCounter();
  uint32_t a = static_cast<uint32_t>(counter >> 32);
  uint32_t b = static_cast<uint32_t>(counter);
  nxIVGenerator().EncryptBlock(a, b);
  SetIV(a, b);
  return CipherWords{a, b};
}

void TnxBlowFishRC4::CheckCount(size_t count) const {
  if (count % 8 != 0)
    throw EnxBaseException("Cipher data must be a multiple of 8 bytes", nxcode::kInvalidParameter);
}

void TnxBlowFishRC4::Encrypt(void* buffer, size_t count) {
  CheckCount(count);
  char* p = static_cast<char*>(buffer);
  for (size_t off = 0; off < count; off += 8) {
    const uint32_t p0 = DecodeFixed32(p + off), p1 = DecodeFixed32(p + off + 4);
    x0_ ^= p0;
    x1_ ^= p1;
    uint32_t t0 = p0 ^ c0_, t1 = p1 ^ c1_;
    blowfish_.EncryptBlock(t0, t1);
    const uint32_t k0 = rc4_.NextWord();
    const uint32_t k1 = rc4_.NextWord();
    c0_ = t0 ^ k0;
    c1_ = t1 ^ k1;
    EncodeFixed32(p + off, c0_);
    EncodeFixed32(p + off + 4, c1_);
  }
}

void TnxBlowFishRC4::Decrypt(void* buffer, size_t count) {
  CheckCount(count);
  char* p = static_cast<char*>(buffer);
  for (size_t off = 0; off < count; off += 8) {
    const uint32_t d0 = DecodeFixed32(p + off), d1 = DecodeFixed32(p + off + 4);
    const uint32_t k0 = rc4_.NextWord();
    const uint32_t k1 = rc4_.NextWord();
    uint32_t t0 = d0 ^ k0, t1 = d1 ^ k1;
    blowfish_.DecryptBlock(t0, t1);
    const uint32_t p0 = t0 ^ c0_, p1 = t1 ^ c1_;
    EncodeFixed32(p + off, p0);
    EncodeFixed32(p + off + 4, p1);
    x0_ ^= p0;
    x1_ ^= p1;
    c0_ = d0;
    c1_ = d1;
  }
}

CipherWords TnxBlowFishRC4::MAC() {
  uint32_t m0 = x0_ ^ rc4_.NextWord();
  uint32_t m1 = x1_ ^ rc4_.NextWord();
  blowfish_.EncryptBlock(m0, m1);
  // W1 whitens both words; W2 is drawn at the start of each message but takes no part.
  m0 ^= w1_;
  m1 ^= w1_;
  finalised_ = true;
  return CipherWords{m0, m1};
}

// ---- IV generator ----

uint64_t nxPerformanceCounter() {
  static std::atomic<uint64_t> last{0};
  const uint64_t now =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count());
  uint64_t prev = last.load(std::memory_order_relaxed);
  uint64_t next;
  do {
    next = now > prev ? now : prev + 1;
  } while (!last.compare_exchange_weak(prev, next, std::memory_order_relaxed));
  return next;
}

std::unique_ptr<TnxBlowFishRC4> nxCreateIVGenerator() {
  const uint64_t date_bits = std::bit_cast<uint64_t>(DateTimeNow());
  uint32_t a0 = static_cast<uint32_t>(date_bits >> 32), a1 = static_cast<uint32_t>(date_bits);
  uint32_t a2 = 0, a3 = 0;
  auto scratch = std::make_unique<TnxBlowFishRC4>(std::string_view());
  for (int round = 0; round < 256; ++round) {
    scratch = std::make_unique<TnxBlowFishRC4>(CounterText(nxPerformanceCounter()));
    a0 ^= a2;
    a1 ^= a3;
    scratch->EncryptBlock(a0, a1);
    a2 ^= a0;
    a3 ^= a1;
    scratch->EncryptBlock(a2, a3);
    std::this_thread::yield();
  }
  scratch.reset();
  char key[16];
  EncodeFixed32(key, a0);
  EncodeFixed32(key + 4, a1);
  EncodeFixed32(key + 8, a2);
  EncodeFixed32(key + 12, a3);
  auto generator = std::make_unique<TnxBlowFishRC4>(std::string_view(key, sizeof key));
  SecureZero(key, sizeof key);
  return generator;
}

IVGeneratorSlot::~IVGeneratorSlot() {
  delete generator_.load(std::memory_order_acquire);
}

const TnxBlowFishRC4& IVGeneratorSlot::Get() {
  TnxBlowFishRC4* current = generator_.load(std::memory_order_acquire);
  if (current != nullptr)
    return *current;
  std::unique_ptr<TnxBlowFishRC4> mine = nxCreateIVGenerator();
  if (generator_.compare_exchange_strong(current, mine.get(), std::memory_order_acq_rel,
                                         std::memory_order_acquire))
    return *mine.release();  // the slot owns it from now on
  return *current;           // another thread was first; ours is dropped
}

const TnxBlowFishRC4& nxIVGenerator() {
  static IVGeneratorSlot slot;
  return slot.Get();
}

}  // namespace vantera
