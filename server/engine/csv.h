// Comma-separated values as the import and export commands read and write them:
// fields separated by ',' (or ';' when the header row has ';' and no ','), a field in
// double quotes may hold separators, line breaks and doubled quotes; rows end in LF or
// CR LF. Every row carries the line number where it starts, for error messages.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantera {

struct CsvRow {
  size_t line = 0;
  std::vector<std::string> fields;
};

class CsvError : public std::runtime_error {
 public:
  CsvError(size_t line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  size_t line() const { return line_; }

 private:
  size_t line_;
};

// Throws CsvError for an unterminated quoted field. Blank lines are skipped.
std::vector<CsvRow> ParseCsv(std::string_view text);

// One row, quoted where needed, ended by "\r\n".
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace vantera
