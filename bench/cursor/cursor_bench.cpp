// The identification-shaped walk through the table cursor against kantadb-server on
// loopback, beside the same walk in bare requests and an empty request, in one run.
//
//   build/bench/cursor/cursor_bench --benchmark_min_time=2
//
// BM_CursorWalk: open ASSORMI on KorttiLyh, SetRangeBounds on one card short number, then
// for each of its 600 records read AsNo and save Jalki (1 KiB) into a stream; close.
// BM_RequestWalk: the same records through the remote engine's requests only (the same
// requests per record as the cursor sends). BM_RequestWalkMinimal: the fewest requests that
// fetch the same bytes (the record, then one BlobRead). Counters: requests per record.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/common/tcp_database.h"
#include "bench/cursor/walk_fixture.h"
#include "dbclient/nxdb.h"

namespace vantera {
namespace {

using bench::kWalkCard;
using bench::ServerChild;

struct Setup {
  ServerChild server;
  bench::TcpDatabase chain{server.Port()};
  TnxDatabase& database = chain.database;

  Setup() { bench::FillWalkTable(database); }
  uint64_t Sent() { return chain.Sent(); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_CursorWalk(benchmark::State& state) {
  Setup& s = Shared();
  uint64_t before = s.Sent();
  int64_t records = 0;
  for (auto _ : state)
    records += bench::WalkOnce(s.database, state);
  state.SetItemsProcessed(records);
  state.counters["requests_per_record"] =
      static_cast<double>(s.Sent() - before) / static_cast<double>(records);
}
BENCHMARK(BM_CursorWalk)->UseRealTime()->Unit(benchmark::kMillisecond);

// The walk in requests; `minimal` fetches the record and reads the blob in one request.
void RequestWalk(benchmark::State& state, bool minimal) {
  Setup& s = Shared();
  s.database.Open();
  TnxRemoteDatabase* db = s.database.RemoteDatabase();
  uint64_t before = s.Sent();
  int64_t records = 0;
  for (auto _ : state) {
    std::unique_ptr<TnxRemoteCursor> c;
    TnxDataDictionary dict;
    if (db->TableOpen("ASSORMI", 2, 1, 10000, c, &dict) != 0 ||
        c->SwitchToIndex("ixKorttiLyh", -1, true) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    Bytes key = dict.NewRecord();
    std::string card(kWalkCard);
    Bytes field(1, static_cast<char>(card.size()));
    field += card;
    dict.SetFieldBytes(std::span<char>(key.data(), key.size()), dict.FieldNumber("KorttiLyh"),
                       field);
    RangeEnd end{1, 0, true, key};
    c->SetRange(end, end);
    c->SetToBegin();
    int jalki = dict.FieldNumber("Jalki");
    Bytes record, bookmark, blob;
    while (c->RecordGet(nxmsg::kRecordGetNext, 0, &record) == 0) {
      int64_t number =
          static_cast<int64_t>(DecodeFixed64(dict.GetFieldBytes(record, jalki).data()));
      if (minimal) {
        c->BlobRead(number, 0, 1 << 20, blob);
      } else {
        c->GetBookmark(bookmark);
        int32_t length = 0;
        c->BlobGetLength(number, length);
        c->BlobRead(number, 0, length, blob);
      }
      if (blob.size() != 1024)
        state.SkipWithError("template of the wrong size");
      ++records;
    }
  }
  state.SetItemsProcessed(records);
  state.counters["requests_per_record"] =
      static_cast<double>(s.Sent() - before) / static_cast<double>(records);
}

void BM_RequestWalk(benchmark::State& state) {
  RequestWalk(state, false);
}
BENCHMARK(BM_RequestWalk)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RequestWalkMinimal(benchmark::State& state) {
  RequestWalk(state, true);
}
BENCHMARK(BM_RequestWalkMinimal)->UseRealTime()->Unit(benchmark::kMillisecond);

void Ignore(uint32_t, uint32_t, const char*, uint32_t, void*) {}

// One empty request and its answer: the floor under every request above.
void BM_EmptyRequest(benchmark::State& state) {
  Setup& s = Shared();
  s.chain.session.Open();
  uint32_t id = s.chain.session.RemoteSession()->SessionId();
  for (auto _ : state)
    s.chain.transport.Request(0, id, 1, nullptr, 0, 10000, &Ignore, nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EmptyRequest)->UseRealTime();

}  // namespace
}  // namespace vantera
