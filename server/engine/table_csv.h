// The administrator's import and export of a table as CSV, and the command line of
// `kantadb-server import TABLE FILE.csv --data DIR` and `kantadb-server export TABLE
// --data DIR`.
//
// Import: the file is UTF-8 (with or without a byte order mark) or, when it is not valid
// UTF-8, Windows-1252; a header row names the fields (without regard to case); every row
// becomes one record, stored in Windows-1252 through the engine's checks. The whole file
// is one transaction: a bad row is reported with its line number and nothing of the file
// is stored. A row whose unique key the table (or an earlier row) has is a bad row.
// Customer numbers (text fields named AsNo) are stored in their stored form: without the
// blanks around them, right-aligned to 15 characters with leading blanks. A text longer
// than its field is cut to the field, as every text of the system is, and each cut is
// reported as a warning with its line; the row is still stored. Export writes the records in the
// default index's order as UTF-8 CSV with a header row; blob fields are left out. Both run beside a
// server on the same folder.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine/engine_options.h"

namespace vantera {

// Returns the number of records stored; throws CsvError (with the line) for a bad file or
// row, EnxBaseException when the table cannot be opened. Warnings ("line N: ...") are added
// to `warnings` when given.
size_t ImportCsv(const std::string& folder, const std::string& table, std::string_view file,
                 std::vector<std::string>* warnings = nullptr);
// The same in the storage of `storage` (a data folder or a schema as `location`).
size_t ImportCsv(const EngineOptions& storage, const std::string& location,
                 const std::string& table, std::string_view file,
                 std::vector<std::string>* warnings = nullptr);

// Returns the number of records written.
size_t ExportCsv(const std::string& folder, const std::string& table, std::ostream& out);
size_t ExportCsv(const EngineOptions& storage, const std::string& location,
                 const std::string& table, std::ostream& out);

// Runs "import ..." or "export ..." (args without the program name); returns the exit
// code: 0 done, 1 failed, 2 wrong command line. Messages go to `err`.
int RunDataCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vantera
