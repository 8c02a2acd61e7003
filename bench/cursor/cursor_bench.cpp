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
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "dbclient/nxdb.h"
#include "dbconn/nxtwWinsockTransport.h"

namespace vantera {
namespace {

constexpr int kRecords = 600;
const char* const kCard = "BENCHCARD0000001";

// kantadb-server with a private data folder, stopped with SIGTERM at the end of the run.
class ServerChild {
 public:
  ServerChild() {
    char templ[] = "/tmp/vantera-cursor-bench-XXXXXX";
    if (!mkdtemp(templ))
      throw std::runtime_error("mkdtemp");
    dir_ = templ;
    std::string data = dir_ + "/data";
    std::string runtime = dir_ + "/run";
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(KANTADB_SERVER_PATH, KANTADB_SERVER_PATH, "--listen", "127.0.0.1:0", "--no-discovery",
            "--data", data.c_str(), "--runtime-dir", runtime.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (line.size() < 200 && ::read(out[0], &c, 1) == 1 && c != '\n')
      line.push_back(c);
    ::close(out[0]);
    size_t colon = line.rfind(':');
    if (colon == std::string::npos)
      throw std::runtime_error("kantadb-server did not start");
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
  }
  ~ServerChild() {
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  uint16_t Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
};

struct Setup {
  ServerChild server;
  TnxWinsockTransport transport{"nxWinsockTransport"};
  TnxRemoteServerEngine engine{"nxRemoteServerEngine"};
  TnxSession session{"nxSession"};
  TnxDatabase database{"nxDatabase"};

  Setup() {
    transport.SetServerNameRuntime("127.0.0.1");
    transport.SetPort(server.Port());
    engine.SetTransport(&transport);
    session.SetServerEngine(&engine);
    database.SetSession(&session);
    database.SetAliasName("Tarvola");
    TnxTable t("TblAsSormi");
    t.SetDatabase(&database);
    t.SetTableName("ASSORMI");
    t.Open();
    Bytes templ(1024, '\x5A');
    for (int i = 0; i < kRecords; ++i) {
      t.Append();
      t.FieldByName("AsNo").SetAsString(std::to_string(100000 + i));
      t.FieldByName("KorttiLyh").SetAsString(kCard);
      TMemoryStream s(templ);
      t.FieldByName("Jalki").LoadFromStream(s);
      t.Post();
    }
    t.Close();
  }
  uint64_t Sent() { return transport.Statistics().messagesSent; }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_CursorWalk(benchmark::State& state) {
  Setup& s = Shared();
  uint64_t before = s.Sent();
  int64_t records = 0;
  for (auto _ : state) {
    TnxTable t("TblAsSormi");
    t.SetDatabase(&s.database);
    t.SetTableName("ASSORMI");
    t.SetIndexFieldNames("KorttiLyh");
    t.Open();
    t.SetRangeBounds({std::string(kCard)}, {std::string(kCard)});
    for (; !t.Eof(); t.Next()) {
      benchmark::DoNotOptimize(t.FieldByName("AsNo").AsString());
      TMemoryStream jalki;
      t.FieldByName("Jalki").SaveToStream(jalki);
      if (jalki.Size() != 1024)
        state.SkipWithError("template of the wrong size");
      ++records;
    }
    t.Close();
  }
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
    std::string card(kCard);
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
  s.session.Open();
  uint32_t id = s.session.RemoteSession()->SessionId();
  for (auto _ : state)
    s.transport.Request(0, id, 1, nullptr, 0, 10000, &Ignore, nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EmptyRequest)->UseRealTime();

}  // namespace
}  // namespace vantera
