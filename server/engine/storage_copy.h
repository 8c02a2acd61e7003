// Moving an alias's tables from one store to another (a SQLite data folder into a
// PostgreSQL schema): every table with its dictionary, every record with its row number,
// every blob with its number, owner and bytes, and the counters, in one transaction of
// the target; row and blob counts are compared before it commits.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "server/engine/storage.h"

namespace vantera {

struct CopiedTable {
  std::string name;
  int64_t rows = 0;
  int64_t blobs = 0;
};

// Throws EnxBaseException 13060 when the target has tables already, and the stores'
// errors; nothing is stored in the target then.
std::vector<CopiedTable> CopyStorage(Storage& from, Storage& to);

// Runs "copy --from sqlite:DIR --to postgresql:CONNINFO [--schema NAME]
// [--pg-password-file FILE]" (args without the program name); returns the exit code:
// 0 done, 1 failed, 2 wrong command line. What was copied goes to `out`, errors to `err`.
int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vantera
