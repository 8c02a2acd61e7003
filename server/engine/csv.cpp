#include "server/engine/csv.h"

namespace vantera {

std::vector<CsvRow> ParseCsv(std::string_view text) {
  std::string_view first_line = text.substr(0, text.find('\n'));
  char sep = (first_line.find(';') != std::string_view::npos &&
              first_line.find(',') == std::string_view::npos)
                 ? ';'
                 : ',';
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string field;
  size_t line = 1;
  row.line = 1;
  bool quoted = false;
  bool field_started = false;
  size_t quote_line = 0;
  auto end_row = [&]() {
    row.fields.push_back(std::move(field));
    field.clear();
    bool blank = row.fields.size() == 1 && row.fields[0].empty() && !field_started;
    if (!blank)
      rows.push_back(std::move(row));
    row = CsvRow{};
    field_started = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field.push_back('"');
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n')
          ++line;
        field.push_back(c);
      }
      continue;
    }
    if (row.fields.empty() && field.empty() && !field_started)
      row.line = line;
    if (c == '"' && field.empty()) {
      quoted = true;
      field_started = true;
      quote_line = line;
    } else if (c == sep) {
      row.fields.push_back(std::move(field));
      field.clear();
      field_started = true;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // part of CR LF
    } else if (c == '\n') {
      end_row();
      ++line;
    } else {
      field.push_back(c);
      field_started = true;
    }
  }
  if (quoted)
    throw CsvError(quote_line, "a quoted field is not closed");
  if (!field.empty() || !row.fields.empty() || field_started)
    end_row();
  return rows;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0)
      out.push_back(',');
    const std::string& f = fields[i];
    if (f.find_first_of(",;\"\r\n") == std::string::npos) {
      out += f;
      continue;
    }
    out.push_back('"');
    for (char c : f) {
      if (c == '"')
        out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  out += "\r\n";
  return out;
}

}  // namespace vantera
