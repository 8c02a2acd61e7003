// The search dialog's grid model over 5000 customers on kantadb-server on loopback.
//
//   build/bench/search/search_grid_bench --benchmark_min_time=2
//
// BM_GridReadAll: the master grid of the card search (ASIAKAS by name) read from its first
// chunk to its last row, as a grid scrolled to the end reads it. BM_GridMoveTo: moving the
// cursor to a row by its bookmark, rows spread over the whole list. Counters: requests
// per row read, per move.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/common/server_child.h"
#include "bench/common/tcp_database.h"
#include "dbclient/nxdb.h"
#include "fingerprint/cursor_grid_model.h"
#include "server/engine/data_folder.h"
#include "tests/fingerprint/search_data.h"
#include "tests/server/engine_test_support.h"

namespace vantera {
namespace {

constexpr int kCustomers = 5000;

struct Setup {
  testing::TempFolder folder;
  std::string data = Prepare(folder.Sub("data"));
  bench::ServerChild server{{"--data", data}, bench::DataFolder::None};
  bench::TcpDatabase chain{server.Port()};
  TnxDatabase& database = chain.database;
  TnxTable table{"TblMaster"};
  CursorGridModel model{table};

  static std::string Prepare(const std::string& path) {
    PrepareDataFolder(path, nxtShortString);
    testing::FillCustomers(path, kCustomers);
    return path;
  }
  Setup() {
    table.SetDatabase(&database);
    table.SetTableName("ASIAKAS");
    table.SetReadOnly(true);
    table.SetIndexFieldNames("AsNimi");
    table.Open();
    model.SetColumns({{"AsNo", "Asiakas"}, {"AsNimi", "Nimi"}});
  }
  uint64_t Sent() { return chain.Sent(); }
  void ReadAll() {
    model.Reload();
    while (model.canFetchMore({}))
      model.fetchMore({});
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_GridReadAll(benchmark::State& state) {
  Setup& s = Shared();
  uint64_t before = s.Sent();
  int64_t rows = 0;
  for (auto _ : state) {
    s.ReadAll();
    if (s.model.rowCount() != kCustomers) {
      state.SkipWithError("not every row was read");
      return;
    }
    rows += s.model.rowCount();
  }
  state.SetItemsProcessed(rows);
  state.counters["requests_per_row"] =
      static_cast<double>(s.Sent() - before) / static_cast<double>(rows);
}
BENCHMARK(BM_GridReadAll)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_GridMoveTo(benchmark::State& state) {
  Setup& s = Shared();
  s.ReadAll();
  uint64_t before = s.Sent();
  int64_t moves = 0;
  int row = 0;
  for (auto _ : state) {
    row = (row + 997) % kCustomers;
    if (!s.model.MoveTo(row)) {
      state.SkipWithError("a row lost its record");
      return;
    }
    ++moves;
  }
  state.SetItemsProcessed(moves);
  state.counters["requests_per_move"] =
      static_cast<double>(s.Sent() - before) / static_cast<double>(moves);
}
BENCHMARK(BM_GridMoveTo)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vantera
