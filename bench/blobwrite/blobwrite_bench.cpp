// A blob written in 64-KiB pieces, the way the client writes a large blob: one BlobWrite
// request per piece at the blob's end, each its own change, through the engine in this
// process. BM_BlobInPieces/1 and /16 write 1 MiB and 16 MiB; the time per MiB is the same
// for both when a piece costs the same wherever it lands (linear), and grows with the
// blob's size when each piece rewrites what came before (quadratic). BM_LinearityRatio
// times both sizes in the same run and reports (time per MiB at 16 MiB) / (time per MiB at
// 1 MiB). The store runs without fsync (durable off) so that the storage work, not the
// disk's flush, is measured.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/server/engine_test_support.h"

using namespace vantera;
using vantera::testing::OpenCursor;
using vantera::testing::TempFolder;
using vantera::testing::TestClient;

namespace {

constexpr int32_t kPiece = 64 * 1024;

class Fixture {
 public:
  Fixture() {
    PrepareDataFolder(folder_.path(), nxtShortString);
    EngineOptions options = vantera::testing::OptionsFor(folder_.path());
    options.durable = false;
    engine_ = std::make_unique<ServerEngine>(std::move(options));
    client_ = std::make_unique<TestClient>(*engine_, 1);
    int32_t db = client_->OpenDatabase();
    cursor_ = client_->OpenTable(db, "ASSORMI");
    if (cursor_.id == 0)
      abort();
  }
  ~Fixture() {
    client_.reset();
    engine_.reset();
  }

  // Writes a new blob of `mib` MiB in pieces, then releases it unposted; returns seconds.
  double WriteBlob(int mib) {
    auto start = std::chrono::steady_clock::now();
    EngineReply created = client_->Call(nxmsg::kBlobCreate, ObjectRequest{cursor_.id}.Encode());
    if (created.code != 0)
      abort();
    int64_t blob = DecodeInt64Reply(created.data);
    BlobWriteRequest w{cursor_.id, blob, 0, Bytes(kPiece, 'J')};
    const int pieces = mib * (1024 * 1024 / kPiece);
    for (int i = 0; i < pieces; ++i) {
      w.offset = i * kPiece;
      w.data[0] = static_cast<char>(i);
      if (client_->Call(nxmsg::kBlobWrite, w.Encode()).code != 0)
        abort();
    }
    EngineReply length =
        client_->Call(nxmsg::kBlobGetLength, BlobRequest{cursor_.id, blob}.Encode());
    if (DecodeInt32Reply(length.data) != mib * 1024 * 1024)
      abort();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

 private:
  TempFolder folder_;
  std::unique_ptr<ServerEngine> engine_;
  std::unique_ptr<TestClient> client_;
  OpenCursor cursor_;
};

void BM_BlobInPieces(benchmark::State& state) {
  Fixture f;
  const int mib = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    double s = f.WriteBlob(mib);
    seconds += s;
    state.SetIterationTime(s);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{mib} * 1024 * 1024);
  state.counters["ms_per_MiB"] = 1000 * seconds / static_cast<double>(state.iterations()) / mib;
}
BENCHMARK(BM_BlobInPieces)->Arg(1)->Arg(16)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_LinearityRatio(benchmark::State& state) {
  Fixture f;
  double small = 0, large = 0;
  for (auto _ : state) {
    small += f.WriteBlob(1);
    large += f.WriteBlob(16);
  }
  state.counters["ms_per_MiB_1MiB"] = 1000 * small / static_cast<double>(state.iterations());
  state.counters["ms_per_MiB_16MiB"] = 1000 * large / 16 / static_cast<double>(state.iterations());
  state.counters["ratio"] = (large / 16) / small;
}
BENCHMARK(BM_LinearityRatio)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
