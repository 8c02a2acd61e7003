// Shared by the cursor walk benchmarks: kantadb-server as a child with a private folder,
// the walk's 600 records, and the identification-shaped walk itself.
// The including target defines KANTADB_SERVER_PATH.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbclient/nxdb.h"

namespace vantera::bench {

constexpr int kWalkRecords = 600;
inline const char* const kWalkCard = "BENCHCARD0000001";

// kantadb-server listening on 127.0.0.1 (port chosen by the system) with a private data
// and runtime folder, plus `extra` options; stopped with SIGTERM when destroyed.
class ServerChild {
 public:
  explicit ServerChild(const std::vector<std::string>& extra = {}) {
    char templ[] = "/tmp/vantera-walk-bench-XXXXXX";
    if (!mkdtemp(templ))
      throw std::runtime_error("mkdtemp");
    dir_ = templ;
    std::vector<std::string> args{KANTADB_SERVER_PATH, "--listen",     "127.0.0.1:0",
                                  "--no-discovery",    "--data",       dir_ + "/data",
                                  "--runtime-dir",     RuntimeFolder()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execv(KANTADB_SERVER_PATH, argv.data());
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
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  uint16_t Port() const { return port_; }
  std::string RuntimeFolder() const { return dir_ + "/run"; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
};

// Appends the walk's records to ASSORMI: one card short number, 1 KiB templates.
inline void FillWalkTable(TnxDatabase& database) {
  TnxTable t("TblAsSormi");
  t.SetDatabase(&database);
  t.SetTableName("ASSORMI");
  t.Open();
  Bytes templ(1024, '\x5A');
  for (int i = 0; i < kWalkRecords; ++i) {
    t.Append();
    t.FieldByName("AsNo").SetAsString(std::to_string(100000 + i));
    t.FieldByName("KorttiLyh").SetAsString(kWalkCard);
    TMemoryStream s(templ);
    t.FieldByName("Jalki").LoadFromStream(s);
    t.Post();
  }
  t.Close();
}

// One walk: open ASSORMI on KorttiLyh, range on the card, read AsNo and save Jalki into
// a stream for each record; returns the records seen.
inline int64_t WalkOnce(TnxDatabase& database, benchmark::State& state) {
  int64_t records = 0;
  TnxTable t("TblAsSormi");
  t.SetDatabase(&database);
  t.SetTableName("ASSORMI");
  t.SetIndexFieldNames("KorttiLyh");
  t.Open();
  t.SetRangeBounds({std::string(kWalkCard)}, {std::string(kWalkCard)});
  for (; !t.Eof(); t.Next()) {
    benchmark::DoNotOptimize(t.FieldByName("AsNo").AsString());
    TMemoryStream jalki;
    t.FieldByName("Jalki").SaveToStream(jalki);
    if (jalki.Size() != 1024)
      state.SkipWithError("template of the wrong size");
    ++records;
  }
  t.Close();
  return records;
}

}  // namespace vantera::bench
