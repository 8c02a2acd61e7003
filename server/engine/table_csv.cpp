#include "server/engine/table_csv.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "core/win1252.h"
#include "dbconn/nxllErrors.h"
#include "dbconn/nxllException.h"
#include "server/engine/csv.h"
#include "server/engine/data_folder.h"
#include "server/engine/local_table.h"
#include "server/engine/record_text.h"

namespace vantera {

namespace {

constexpr std::streamsize kMaxImportFile = 256 << 20;

std::string ToWin1252(std::string_view file) {
  if (file.substr(0, 3) == "\xEF\xBB\xBF")
    file.remove_prefix(3);
  return IsValidUtf8(file) ? Utf8ToWin1252(file) : std::string(file);
}

}  // namespace

size_t ImportCsv(const std::string& folder, const std::string& table, std::string_view file) {
  std::vector<CsvRow> rows = ParseCsv(ToWin1252(file));
  if (rows.empty())
    throw CsvError(1, "no header row");
  LocalTable t(folder, table, true);
  const TnxDataDictionary& dict = t.dict();
  std::vector<std::unique_ptr<TnxBaseVclFieldMapper>> mappers;
  for (const std::string& name : rows[0].fields) {
    int f = dict.FieldNumber(name);
    if (f < 0)
      throw CsvError(rows[0].line, "the table has no field " + Win1252ToUtf8(name));
    auto mapper = CreateFieldMapper(dict, f);
    if (!mapper || !HasTextForm(*mapper))
      throw CsvError(rows[0].line, "field " + Win1252ToUtf8(name) + " cannot be imported");
    for (const auto& m : mappers)
      if (m->FieldNumber() == f)
        throw CsvError(rows[0].line, "field " + Win1252ToUtf8(name) + " is named twice");
    mappers.push_back(std::move(mapper));
  }
  t.Begin();
  try {
    for (size_t r = 1; r < rows.size(); ++r) {
      const CsvRow& row = rows[r];
      if (row.fields.size() != mappers.size())
        throw CsvError(row.line, std::to_string(row.fields.size()) + " fields, the header has " +
                                     std::to_string(mappers.size()));
      Bytes rec = t.NewRecord();
      for (size_t i = 0; i < mappers.size(); ++i) {
        try {
          FieldFromText(*mappers[i], std::span<char>(rec.data(), rec.size()), row.fields[i]);
        } catch (const std::invalid_argument& e) {
          throw CsvError(row.line, Win1252ToUtf8(rows[0].fields[i]) + ": " + e.what());
        } catch (const EnxBaseException& e) {
          throw CsvError(row.line, Win1252ToUtf8(rows[0].fields[i]) + ": " + e.BareText());
        }
      }
      try {
        t.Insert(rec);
      } catch (const EnxBaseException& e) {
        throw CsvError(row.line, nxErrorText(e.ErrorCode()));
      }
    }
  } catch (...) {
    t.Rollback();
    throw;
  }
  t.Commit();
  return rows.size() - 1;
}

size_t ExportCsv(const std::string& folder, const std::string& table, std::ostream& out) {
  LocalTable t(folder, table, false);
  const TnxDataDictionary& dict = t.dict();
  std::vector<std::unique_ptr<TnxBaseVclFieldMapper>> mappers;
  std::vector<std::string> header;
  for (int f = 0; f < dict.FieldCount(); ++f) {
    auto mapper = CreateFieldMapper(dict, f);
    if (mapper && HasTextForm(*mapper)) {
      header.push_back(Win1252ToUtf8(dict.Field(f).name));
      mappers.push_back(std::move(mapper));
    }
  }
  out << CsvLine(header);
  size_t n = 0;
  Bytes rec;
  while (t.Next(&rec)) {
    std::vector<std::string> fields;
    for (const auto& m : mappers)
      fields.push_back(Win1252ToUtf8(FieldToText(*m, rec)));
    out << CsvLine(fields);
    ++n;
  }
  return n;
}

int RunDataCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> plain;
  std::string data;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--data" && i + 1 < args.size())
      data = args[++i];
    else
      plain.push_back(args[i]);
  }
  bool import = !plain.empty() && plain[0] == "import" && plain.size() == 3;
  bool export_ = !plain.empty() && plain[0] == "export" && plain.size() == 2;
  if ((!import && !export_) || data.empty()) {
    err << "usage: kantadb-server import TABLE FILE.csv --data DIR\n"
           "       kantadb-server export TABLE --data DIR\n";
    return 2;
  }
  try {
    if (import) {
      std::ifstream in(plain[2], std::ios::binary);
      if (!in) {
        err << "kantadb-server import: cannot read " << plain[2] << "\n";
        return 1;
      }
      in.seekg(0, std::ios::end);
      std::streamoff size = in.tellg();
      if (size < 0 || size > kMaxImportFile) {
        err << "kantadb-server import: " << plain[2] << " is larger than 256 MiB\n";
        return 1;
      }
      in.seekg(0);
      std::string file(static_cast<size_t>(size), '\0');
      in.read(file.data(), size);
      PrepareDataFolder(data, nxtShortString, false);
      size_t n = ImportCsv(data, Utf8ToWin1252(plain[1]), file);
      err << "kantadb-server import: " << n << " records stored in " << plain[1] << "\n";
    } else {
      size_t n = ExportCsv(data, Utf8ToWin1252(plain[1]), out);
      out.flush();
      err << "kantadb-server export: " << n << " records\n";
    }
  } catch (const CsvError& e) {
    err << "kantadb-server " << plain[0] << ": " << plain.back() << ": " << e.what()
        << "; nothing was stored\n";
    return 1;
  } catch (const EnxBaseException& e) {
    err << "kantadb-server " << plain[0] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace vantera
