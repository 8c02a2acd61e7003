// Cost of the message-line cipher: the whole per-line cycle of the session (set the key,
// encipher or decipher a line of the longest size, wipe the key), and the Twofish block
// throughput of our cipher beside nettle's.
#include <benchmark/benchmark.h>
#include <nettle/twofish.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "msglink/Wdef.h"
#include "msglink/msgcipher.h"
#include "msglink/msgkey.h"
#include "msglink/twofish.h"

namespace vantera {
namespace {

std::string LongestLine() {
  const std::string field(35, 'f');
  return BuildMsg(field, field, field, field, field, std::string(255, 't'));
}

void BM_LineCycleEncrypt(benchmark::State& state) {
  const std::string plain = LongestLine();
  Chipper c;
  for (auto _ : state) {
    c.SetKeyText(kMessageKey);
    std::string wire = c.EncryptLine(plain);
    c.WipeKey();
    benchmark::DoNotOptimize(wire);
  }
  state.SetItemsProcessed(state.iterations());  // lines
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(plain.size()));
}
BENCHMARK(BM_LineCycleEncrypt);

void BM_LineCycleDecrypt(benchmark::State& state) {
  const std::string plain = LongestLine();
  Chipper c;
  c.SetKeyText(kMessageKey);
  const std::string wire = c.EncryptLine(plain);
  c.WipeKey();
  for (auto _ : state) {
    c.SetKeyText(kMessageKey);
    std::string line = c.DecryptLine(wire);
    c.WipeKey();
    benchmark::DoNotOptimize(line);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(plain.size()));
}
BENCHMARK(BM_LineCycleDecrypt);

// Blocks enciphered in a chain (each output is the next input), as cipher feedback does.
constexpr int kBlocksPerIteration = 1024;

void BM_TwofishBlockOurs(benchmark::State& state) {
  uint8_t key[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  Twofish tf;
  tf.SetKey(key);
  uint8_t block[16] = {};
  for (auto _ : state) {
    for (int i = 0; i < kBlocksPerIteration; ++i)
      tf.EncryptBlock(block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(state.iterations() * kBlocksPerIteration * 16);
}
BENCHMARK(BM_TwofishBlockOurs);

void BM_TwofishBlockNettle(benchmark::State& state) {
  uint8_t key[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  twofish_ctx ctx;
  twofish_set_key(&ctx, sizeof key, key);
  uint8_t block[16] = {};
  for (auto _ : state) {
    for (int i = 0; i < kBlocksPerIteration; ++i)
      twofish_encrypt(&ctx, 16, block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(state.iterations() * kBlocksPerIteration * 16);
}
BENCHMARK(BM_TwofishBlockNettle);

void BM_TwofishKeySetupOurs(benchmark::State& state) {
  uint8_t key[20] = {};
  Twofish tf;
  for (auto _ : state) {
    key[0]++;
    tf.SetKey(key);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TwofishKeySetupOurs);

void BM_TwofishKeySetupNettle(benchmark::State& state) {
  uint8_t key[20] = {};
  twofish_ctx ctx;
  for (auto _ : state) {
    key[0]++;
    twofish_set_key(&ctx, sizeof key, key);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TwofishKeySetupNettle);

}  // namespace
}  // namespace vantera
