// frontends_bench: identification passes against kantadb-server, one workstation and many at
// once, side by side in one run for each way of running the server.
//
//   frontends_bench [--clients N] [--seconds S] [--walks W]
//
// The configurations: kantadb-server on SQLite; on PostgreSQL (a private cluster of this
// program) through one front-end; and through two front-ends over the same database, the
// workstations shared between them. For each configuration it prints, as NAME=VALUE lines: the mean
// pass of one workstation (pass_ms) and its cursor walk of the same records without comparing
// (walk_ms); then N workstations (processes) running passes for S seconds: passes per second in
// all, the median and the 99th percentile of one pass, and the passes that failed.
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "bench/common/server_child.h"
#include "bench/frontends/pass_clients.h"
#include "tests/server/pg_cluster.h"

namespace vantera::bench {
namespace {

struct Settings {
  int clients = 16;
  double seconds = 10;
  int walks = 20;
};

double Mean(const std::vector<double>& v) {
  return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

// The figures of one configuration, whose front-ends listen on `ports` (the records are
// stored already).
void Report(const std::string& name, const std::vector<uint16_t>& ports, const Settings& s) {
  PassTimes one = RunPassClients({ports.front()}, 1, s.seconds / 2);
  std::vector<double> walks = RunWalks(ports.front(), s.walks);
  std::printf("%s_pass_ms=%.2f\n", name.c_str(), Mean(one.ms));
  std::printf("%s_walk_ms=%.2f\n", name.c_str(), Mean(walks));
  PassTimes many = RunPassClients(ports, s.clients, s.seconds);
  std::printf("%s_clients=%d\n", name.c_str(), s.clients);
  std::printf("%s_passes_per_s=%.1f\n", name.c_str(),
              static_cast<double>(many.ms.size()) / many.seconds);
  std::printf("%s_p50_ms=%.2f\n", name.c_str(), Quantile(many.ms, 0.5));
  std::printf("%s_p99_ms=%.2f\n", name.c_str(), Quantile(many.ms, 0.99));
  std::printf("%s_failed=%d\n", name.c_str(), one.failed + many.failed);
  std::fflush(stdout);
}

int Usage() {
  std::fprintf(stderr, "Usage: frontends_bench [--clients N] [--seconds S] [--walks W]\n");
  return 2;
}

}  // namespace
}  // namespace vantera::bench

int main(int argc, char** argv) {
  using namespace vantera::bench;
  Settings s;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--clients" && i + 1 < argc)
      s.clients = std::atoi(argv[++i]);
    else if (a == "--seconds" && i + 1 < argc)
      s.seconds = std::atof(argv[++i]);
    else if (a == "--walks" && i + 1 < argc)
      s.walks = std::atoi(argv[++i]);
    else
      return Usage();
  }
  if (s.clients < 1 || s.clients > 256 || !(s.seconds > 0) || s.walks < 1)
    return Usage();

  {
    ServerChild sqlite;
    FillThrough(sqlite.Port());
    Report("sqlite", {sqlite.Port()}, s);
  }
  if (vantera::testing::PgCluster::BinDir().empty()) {
    std::fprintf(stderr,
                 "frontends_bench: PostgreSQL is not installed; its figures are left out\n");
    return 0;
  }
  vantera::testing::PgCluster cluster;
  const std::vector<std::string> pg{"--storage", "postgresql", "--pg", cluster.NewDatabase()};
  ServerChild first(pg, DataFolder::None);
  FillThrough(first.Port());
  Report("postgresql", {first.Port()}, s);
  ServerChild second(pg, DataFolder::None);
  Report("postgresql_two_frontends", {first.Port(), second.Port()}, s);
  return 0;
}
