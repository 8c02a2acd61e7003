// Workstations as child processes of a benchmark: each one opens its own connection to a
// kantadb-server, as a workstation does, and runs identification passes of the stranger's
// capture over the 600 stored templates (bench/common/identification_cards.h). Processes,
// not threads, so that the clients share nothing but the server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantera::bench {

struct PassTimes {
  std::vector<double> ms;  // one per pass, of every client
  int failed = 0;          // passes that did not compare all 600 records, or clients that failed
  double seconds = 0;      // the wall time the clients ran
};

// Stores the 600 records through the server at `port`, in a child process.
void FillThrough(uint16_t port);

// `clients` processes for `seconds`; client i uses ports[i % ports.size()].
PassTimes RunPassClients(const std::vector<uint16_t>& ports, int clients, double seconds);

// One process: the cursor walk of the same records without comparing, `count` times; the
// time of each.
std::vector<double> RunWalks(uint16_t port, int count);

// The p-th quantile (0..1) of `values`; 0 for none.
double Quantile(std::vector<double> values, double p);

}  // namespace vantera::bench
