// The identification-shaped walk on each storage, side by side in one run: the engine in
// process (no sockets), ASSORMI with a card of 600 fingerprint records (1-KiB templates)
// among others. One walk: a range on the card's short number, then for each record
// RecordGetNext, CursorGetBookmark, BlobGetLength and BlobRead. BM_Walk/<storage>/<rows>
// runs it on SQLite (a data folder) and on PostgreSQL (a private cluster of this program)
// with 1000 and VANTERA_BENCH_RECORDS (default 20000) records in ASSORMI.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "protocol/nxRequests.h"
#include "server/engine/local_table.h"
#include "server/engine/server_engine.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/test_storage.h"

using namespace vantera;
using namespace vantera::testing;

namespace {

constexpr int kWalkRecords = 600;
constexpr uint32_t kSession = 1;

class Walker {
 public:
  Walker(StorageKind kind, int records) : storage_(kind) {
    storage_.Prepare();
    Fill(records);
    engine_ = std::make_unique<ServerEngine>(storage_.Options());
    engine_->OpenSession(kSession);
    OpenCursor();
  }
  ~Walker() { engine_->CloseSession(kSession); }

  void Walk() {
    if (Call(nxmsg::kCursorSetRange, range_).code != 0)
      std::abort();
    RecordGetRequest next{cursor_, 0, static_cast<uint16_t>(dict_.RecordLength()),
                          static_cast<uint16_t>(bookmark_size_)};
    const Bytes next_payload = next.Encode();
    const Bytes bookmark = ObjectInt32Request{cursor_, bookmark_size_}.Encode();
    int seen = 0;
    for (;;) {
      EngineReply r = Call(nxmsg::kRecordGetNext, next_payload);
      if (r.code == 8706)
        break;
      if (r.code != 0)
        std::abort();
      ++seen;
      Call(nxmsg::kCursorGetBookmark, bookmark);
      int64_t blob = GetInt64(dict_, r.data, "Jalki");
      int32_t n =
          DecodeInt32Reply(Call(nxmsg::kBlobGetLength, BlobRequest{cursor_, blob}.Encode()).data);
      EngineReply piece = Call(nxmsg::kBlobRead, BlobReadRequest{cursor_, blob, 0, n}.Encode());
      if (DecodeBlobReadReply(piece.data).size() != 1024)
        std::abort();
    }
    if (seen != kWalkRecords)
      std::abort();
  }

 private:
  EngineReply Call(uint32_t id, const Bytes& payload) {
    return engine_->Dispatch(kSession, id, payload);
  }

  void Fill(int records) {
    LocalTable t(storage_.Options(), storage_.location(), "ASSORMI", true);
    Bytes content(1024, '\0');
    t.Begin();
    for (int i = 0; i < records; ++i) {
      for (size_t k = 0; k < content.size(); ++k)
        content[k] = static_cast<char>((i + static_cast<int>(k)) & 0xFF);
      Bytes rec = t.NewRecord();
      std::string card =
          i % (records / kWalkRecords) == 0 && i / (records / kWalkRecords) < kWalkRecords
              ? "K0001"
              : "K" + std::to_string(1000 + i % 5000);
      SetText(t.dict(), &rec, "AsNo", std::to_string(i % 9000));
      SetText(t.dict(), &rec, "KorttiLyh", card);
      SetInt32(t.dict(), &rec, "Maara", 1);
      SetInt64(t.dict(), &rec, "Jalki", t.CreateBlob(content));
      t.Insert(rec);
    }
    t.Commit();
  }

  void OpenCursor() {
    DatabaseOpenRequest open;
    open.keyword = "Name";
    open.alias = "Tarvola";
    open.timeout = 10000;
    int32_t db = DecodeInt32Reply(Call(nxmsg::kDatabaseOpen, open.Encode()).data);
    TableOpenRequest topen;
    topen.database_id = db;
    topen.table_name = "ASSORMI";
    topen.timeout = 10000;
    TableOpenReply reply = TableOpenReply::Decode(Call(nxmsg::kTableOpen, topen.Encode()).data);
    cursor_ = reply.cursor_id;
    dict_.ReadFromBytes(reply.dictionary);
    CursorSwitchToIndexRequest sw;
    sw.cursor_id = cursor_;
    sw.index_name = "ixKorttiLyh";
    sw.keep_position = 1;
    int32_t index = DecodeInt32Reply(Call(nxmsg::kCursorSwitchToIndex, sw.Encode()).data);
    bookmark_size_ = dict_.BookmarkSize(index);
    CursorSetRangeRequest range;
    range.cursor_id = cursor_;
    range.start.field_count = range.end.field_count = 1;
    range.start.key = dict_.NewRecord();
    SetText(dict_, &range.start.key, "KorttiLyh", "K0001");
    range.end.key = range.start.key;
    range_ = range.Encode();
  }

  TestStorage storage_;
  std::unique_ptr<ServerEngine> engine_;
  int32_t cursor_ = 0;
  int32_t bookmark_size_ = 0;
  TnxDataDictionary dict_;
  Bytes range_;
};

int LargeRecords() {
  const char* env = std::getenv("VANTERA_BENCH_RECORDS");
  return env ? std::max(kWalkRecords, std::atoi(env)) : 20000;
}

Walker& WalkerFor(StorageKind kind, int records) {
  static std::map<std::pair<int, int>, std::unique_ptr<Walker>> walkers;
  auto& w = walkers[{static_cast<int>(kind), records}];
  if (!w)
    w = std::make_unique<Walker>(kind, records);
  return *w;
}

void BM_Walk(benchmark::State& state) {
  auto kind = static_cast<StorageKind>(state.range(0));
  int records = state.range(1) == 0 ? 1000 : LargeRecords();
  if (kind == StorageKind::kPostgresql && PgCluster::BinDir().empty()) {
    state.SkipWithError("PostgreSQL's programs are not installed");
    return;
  }
  Walker& w = WalkerFor(kind, records);
  for (auto _ : state)
    w.Walk();
  state.SetLabel(StorageName(kind) + " " + std::to_string(records) + " records");
}
// SQLite and PostgreSQL, each with the small and the large table, interleaved.
BENCHMARK(BM_Walk)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
