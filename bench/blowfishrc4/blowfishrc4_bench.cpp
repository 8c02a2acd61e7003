// The message cipher against the published Blowfish of nettle over the same bytes.
//
//   BM_SealAndOpenMessage   one 1 KiB envelope: NewIV, Encrypt, MAC; SetIV, Decrypt, MAC
//   BM_NettleBlowfishCbc    the same bytes encrypted and decrypted in CBC mode by nettle
//   BM_KeyConstruction      building a TnxBlowFishRC4 (521 block encryptions, RC4 base)
//   BM_NettleBlowfishKey    nettle's Blowfish key schedule, for comparison
#include <benchmark/benchmark.h>
#include <nettle/blowfish.h>
#include <nettle/cbc.h>

#include <cstring>
#include <string>

#include "protocol/nxllBlowfishRC4.h"

namespace vantera {
namespace {

constexpr size_t kMessageSize = 1024;

void BM_SealAndOpenMessage(benchmark::State& state) {
  TnxBlowFishRC4 sender("Vantera bench key");
  TnxBlowFishRC4 receiver("Vantera bench key");
  std::string message(kMessageSize, 'm');
  for (auto _ : state) {
    const CipherWords iv = sender.NewIV();
    sender.Encrypt(message.data(), message.size());
    const CipherWords mac = sender.MAC();
    receiver.SetIV(iv);
    receiver.Decrypt(message.data(), message.size());
    if (receiver.MAC() != mac)
      state.SkipWithError("MAC mismatch");
    benchmark::DoNotOptimize(message.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
}
BENCHMARK(BM_SealAndOpenMessage);

void BM_NettleBlowfishCbc(benchmark::State& state) {
  const std::string key = "Vantera bench key";
  blowfish_ctx ctx;
  blowfish_set_key(&ctx, key.size(), reinterpret_cast<const uint8_t*>(key.data()));
  std::string message(kMessageSize, 'm');
  auto* data = reinterpret_cast<uint8_t*>(message.data());
  for (auto _ : state) {
    uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(blowfish_encrypt), 8, iv,
                message.size(), data, data);
    std::memcpy(iv, "\1\2\3\4\5\6\7\10", 8);
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(blowfish_decrypt), 8, iv,
                message.size(), data, data);
    benchmark::DoNotOptimize(message.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
}
BENCHMARK(BM_NettleBlowfishCbc);

void BM_KeyConstruction(benchmark::State& state) {
  for (auto _ : state) {
    TnxBlowFishRC4 c("Vantera bench key");
    benchmark::DoNotOptimize(&c);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeyConstruction);

void BM_NettleBlowfishKey(benchmark::State& state) {
  const std::string key = "Vantera bench key";
  for (auto _ : state) {
    blowfish_ctx ctx;
    blowfish_set_key(&ctx, key.size(), reinterpret_cast<const uint8_t*>(key.data()));
    benchmark::DoNotOptimize(&ctx);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NettleBlowfishKey);

}  // namespace
}  // namespace vantera
