// The identification-shaped walk at request level over loopback, beside bare ping-pongs.
//
// kantadb-server runs in this process (TCP on 127.0.0.1, the real transport and engine);
// ASSORMI holds VANTERA_BENCH_RECORDS fingerprint records (default 20000) with 1-KiB
// templates, 600 of them for the card walked. One walk: a range on ASSORMI by the card's
// short number, then for each of its 600 records RecordGetNext, CursorGetBookmark,
// BlobGetLength and BlobRead of the template. A ping-pong is a request with an empty
// payload (a 32-byte frame each way) that the engine answers at once. BM_WalkVsPingPong
// times 600 walks' worth of requests both ways in the same run and reports the ratio and
// the process's resident memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "protocol/nxRequests.h"
#include "server/account_store.h"
#include "server/engine/data_folder.h"
#include "server/engine/local_table.h"
#include "server/engine_dispatcher.h"
#include "server/frame_handler.h"
#include "server/tcp_server.h"
#include "server/transport_registry.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/remote_client.h"

using namespace vantera;
using vantera::testing::RemoteClient;

namespace {

constexpr int kWalkRecords = 600;
constexpr uint32_t kPing = 0x7777;  // not a request of the protocol: answered at once

double ResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

class Fixture {
 public:
  Fixture() {
    std::string templ = (std::filesystem::temp_directory_path() / "serverwalk-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
      abort();
    folder_ = templ;
    const char* env = std::getenv("VANTERA_BENCH_RECORDS");
    records_ = env ? std::max(kWalkRecords, std::atoi(env)) : 20000;
    PrepareDataFolder(folder_, nxtShortString);
    Fill();
    EngineOptions options;
    options.aliases.push_back({"Tarvola", folder_});
    dispatcher_ = std::make_unique<EngineDispatcher>(std::move(options));
    context_ = std::make_unique<ServerContext>(
        ServerContext{registry_, *dispatcher_, accounts_, login_, ServerLog::Null()});
    TcpServerOptions tcp;
    tcp.host = "127.0.0.1";
    tcp.port = 0;
    tcp.discovery = false;
    server_ = std::make_unique<TcpServer>(*context_, tcp);
    server_->Start();
    client_ = std::make_unique<RemoteClient>(server_->Port());
    OpenCursor();
  }
  ~Fixture() {
    client_.reset();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  // One walk; returns the number of requests it sent.
  int Walk() {
    int requests = 0;
    auto call = [&](uint32_t id, const Bytes& payload) {
      ++requests;
      return client_->Call(id, payload);
    };
    if (call(nxmsg::kCursorSetRange, range_).code != 0)
      abort();
    RecordGetRequest next{cursor_, 0, static_cast<uint16_t>(dict_.RecordLength()),
                          static_cast<uint16_t>(bookmark_size_)};
    Bytes next_payload = next.Encode();
    Bytes bookmark = ObjectInt32Request{cursor_, bookmark_size_}.Encode();
    int seen = 0;
    for (;;) {
      EngineReply r = call(nxmsg::kRecordGetNext, next_payload);
      if (r.code == 8706)
        break;
      if (r.code != 0)
        abort();
      ++seen;
      call(nxmsg::kCursorGetBookmark, bookmark);
      int64_t blob = vantera::testing::GetInt64(dict_, r.data, "Jalki");
      EngineReply len = call(nxmsg::kBlobGetLength, BlobRequest{cursor_, blob}.Encode());
      int32_t n = DecodeInt32Reply(len.data);
      EngineReply piece = call(nxmsg::kBlobRead, BlobReadRequest{cursor_, blob, 0, n}.Encode());
      if (DecodeBlobReadReply(piece.data).size() != 1024)
        abort();
    }
    if (seen != kWalkRecords)
      abort();
    return requests;
  }

  void Ping() {
    if (client_->Call(kPing, {}).code == 0)
      abort();
  }

  int records() const { return records_; }

 private:
  void Fill() {
    LocalTable t(folder_, "ASSORMI", true);
    Bytes blob_content(1024, '\0');
    t.Begin();
    for (int i = 0; i < records_; ++i) {
      for (size_t k = 0; k < blob_content.size(); ++k)
        blob_content[k] = static_cast<char>((i + static_cast<int>(k)) & 0xFF);
      Bytes rec = t.NewRecord();
      std::string card = i < kWalkRecords ? "K0001" : "K" + std::to_string(1000 + i % 5000);
      vantera::testing::SetText(t.dict(), &rec, "AsNo", std::to_string(i % 9000));
      vantera::testing::SetText(t.dict(), &rec, "KorttiLyh", card);
      vantera::testing::SetInt32(t.dict(), &rec, "Maara", 1);
      vantera::testing::SetInt64(t.dict(), &rec, "Jalki", t.CreateBlob(blob_content));
      t.Insert(rec);
    }
    t.Commit();
  }

  void OpenCursor() {
    DatabaseOpenRequest open;
    open.keyword = "Name";
    open.alias = "Tarvola";
    open.timeout = 10000;
    int32_t db = DecodeInt32Reply(client_->Call(nxmsg::kDatabaseOpen, open.Encode()).data);
    TableOpenRequest topen;
    topen.database_id = db;
    topen.table_name = "ASSORMI";
    topen.timeout = 10000;
    TableOpenReply reply =
        TableOpenReply::Decode(client_->Call(nxmsg::kTableOpen, topen.Encode()).data);
    cursor_ = reply.cursor_id;
    dict_.ReadFromBytes(reply.dictionary);
    CursorSwitchToIndexRequest sw;
    sw.cursor_id = cursor_;
    sw.index_name = "ixKorttiLyh";
    sw.keep_position = 1;
    int32_t index = DecodeInt32Reply(client_->Call(nxmsg::kCursorSwitchToIndex, sw.Encode()).data);
    bookmark_size_ = dict_.BookmarkSize(index);
    CursorSetRangeRequest range;
    range.cursor_id = cursor_;
    range.start.field_count = range.end.field_count = 1;
    range.start.key = dict_.NewRecord();
    vantera::testing::SetText(dict_, &range.start.key, "KorttiLyh", "K0001");
    range.end.key = range.start.key;
    range_ = range.Encode();
  }

  std::string folder_;
  int records_ = 0;
  TransportRegistry registry_;
  AccountStore accounts_;
  LoginChecker login_;
  std::unique_ptr<EngineDispatcher> dispatcher_;
  std::unique_ptr<ServerContext> context_;
  std::unique_ptr<TcpServer> server_;
  std::unique_ptr<RemoteClient> client_;
  int32_t cursor_ = 0;
  int32_t bookmark_size_ = 0;
  TnxDataDictionary dict_;
  Bytes range_;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

void BM_Walk(benchmark::State& state) {
  Fixture& f = TheFixture();
  int requests = 0;
  for (auto _ : state)
    requests = f.Walk();
  state.counters["requests"] = requests;
}
BENCHMARK(BM_Walk)->Unit(benchmark::kMillisecond);

void BM_PingPongs(benchmark::State& state) {
  Fixture& f = TheFixture();
  const int n = 1 + 4 * kWalkRecords + 1;
  for (auto _ : state)
    for (int i = 0; i < n; ++i)
      f.Ping();
  state.counters["requests"] = n;
}
BENCHMARK(BM_PingPongs)->Unit(benchmark::kMillisecond);

// Both in the same run, alternating, with the ratio walk / ping-pongs.
void BM_WalkVsPingPong(benchmark::State& state) {
  Fixture& f = TheFixture();
  double walk_s = 0, ping_s = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    int n = f.Walk();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i)
      f.Ping();
    auto t2 = std::chrono::steady_clock::now();
    walk_s += std::chrono::duration<double>(t1 - t0).count();
    ping_s += std::chrono::duration<double>(t2 - t1).count();
  }
  auto iterations = static_cast<double>(state.iterations());
  state.counters["walk_ms"] = 1000 * walk_s / iterations;
  state.counters["ping_ms"] = 1000 * ping_s / iterations;
  state.counters["ratio"] = walk_s / ping_s;
  state.counters["records"] = f.records();
  state.counters["rss_mib"] = ResidentMiB();
}
BENCHMARK(BM_WalkVsPingPong)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
