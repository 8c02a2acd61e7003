#include "server/engine/table_csv.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "core/win1252.h"
#include "protocol/nxllErrors.h"
#include "protocol/nxllException.h"
#include "server/engine/csv.h"
#include "server/engine/data_folder.h"
#include "server/engine/local_table.h"
#include "server/engine/pg_connection.h"
#include "server/engine/record_text.h"

namespace vantera {

namespace {

constexpr std::streamsize kMaxImportFile = 256 << 20;

std::string ToWin1252(std::string_view file) {
  if (file.substr(0, 3) == "\xEF\xBB\xBF")
    file.remove_prefix(3);
  return IsValidUtf8(file) ? Utf8ToWin1252(file) : std::string(file);
}

constexpr size_t kCustomerNumberLength = 15;

std::string_view Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A customer number in its stored form: the blanks around it dropped, its first 15
// characters, right-aligned with leading blanks to 15 characters.
std::string StoredCustomerNumber(std::string_view text) {
  std::string s(Trimmed(text).substr(0, kCustomerNumberLength));
  s.insert(0, kCustomerNumberLength - s.size(), ' ');
  return s;
}

bool IsCustomerNumberField(const TnxDataDictionary& dict, int field) {
  return Win1252Upper(dict.Field(field).name) == "ASNO" && IsStringType(dict.Field(field).type);
}

bool IsText(const TnxBaseVclFieldMapper& m) {
  return m.Kind() == DatasetFieldKind::String || m.Kind() == DatasetFieldKind::FixedChar;
}

// The values of a record's unique keys, for the message of a key violation:
// `ixAsNo (AsNo "           1001")`.
std::string UniqueKeys(const TnxDataDictionary& dict, std::string_view rec) {
  std::string out;
  for (int i = 0; i < dict.IndexCount(); ++i) {
    const TnxIndexDescriptor& ix = dict.Index(i);
    const TnxCompKeyDescriptor* key = ix.CompKey();
    if (ix.allow_duplicates || !key)
      continue;
    std::string fields;
    for (const auto& kf : key->key_fields) {
      auto mapper = CreateFieldMapper(dict, kf->field_number);
      if (!mapper || !HasTextForm(*mapper))
        continue;
      fields += (fields.empty() ? "" : ", ") + Win1252ToUtf8(dict.Field(kf->field_number).name) +
                " \"" + Win1252ToUtf8(FieldToText(*mapper, rec)) + "\"";
    }
    out += (out.empty() ? "" : "; ") + Win1252ToUtf8(ix.name) + " (" + fields + ")";
  }
  return out;
}

}  // namespace

size_t ImportCsv(const std::string& folder, const std::string& table, std::string_view file,
                 std::vector<std::string>* warnings) {
  return ImportCsv(EngineOptions(), folder, table, file, warnings);
}

size_t ImportCsv(const EngineOptions& storage, const std::string& folder, const std::string& table,
                 std::string_view file, std::vector<std::string>* warnings) {
  std::vector<CsvRow> rows = ParseCsv(ToWin1252(file));
  if (rows.empty())
    throw CsvError(1, "no header row");
  LocalTable t(storage, folder, table, true);
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
        const TnxBaseVclFieldMapper& m = *mappers[i];
        const std::string field_name = Win1252ToUtf8(dict.Field(m.FieldNumber()).name);
        std::string text = row.fields[i];
        size_t given = text.size();
        bool customer_number = IsCustomerNumberField(dict, m.FieldNumber()) && !text.empty();
        if (customer_number) {
          given = Trimmed(text).size();
          text = StoredCustomerNumber(text);
        }
        try {
          FieldFromText(m, std::span<char>(rec.data(), rec.size()), text);
        } catch (const std::invalid_argument& e) {
          throw CsvError(row.line, field_name + ": " + e.what());
        } catch (const EnxBaseException& e) {
          throw CsvError(row.line, field_name + ": " + e.BareText());
        }
        // Texts longer than their field are cut to it, as everywhere in the system; each
        // cut is reported so that the administrator can correct the file.
        if (IsText(m) && warnings) {
          std::string stored = FieldToText(m, rec);
          size_t kept = customer_number ? Trimmed(stored).size() : stored.size();
          if (kept < given)
            warnings->push_back("line " + std::to_string(row.line) + ": " + field_name +
                                " cut to " + std::to_string(kept) + " characters (" +
                                std::to_string(given) + " given): \"" + Win1252ToUtf8(stored) +
                                "\"");
        }
      }
      try {
        t.Insert(rec);
      } catch (const EnxBaseException& e) {
        if (e.ErrorCode() == 9729)  // Key violation.
          throw CsvError(row.line, nxErrorText(e.ErrorCode()) +
                                       " The table or an earlier row has a record with the "
                                       "same unique key: " +
                                       UniqueKeys(dict, rec));
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
  return ExportCsv(EngineOptions(), folder, table, out);
}

size_t ExportCsv(const EngineOptions& storage, const std::string& folder, const std::string& table,
                 std::ostream& out) {
  LocalTable t(storage, folder, table, false);
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
  std::string storage_kind = "sqlite";
  std::string schema = "tarvola";
  EngineOptions storage;
  for (size_t i = 0; i < args.size(); ++i) {
    bool has_value = i + 1 < args.size();
    if (args[i] == "--data" && has_value)
      data = args[++i];
    else if (args[i] == "--storage" && has_value)
      storage_kind = args[++i];
    else if (args[i] == "--pg" && has_value)
      storage.pg.conninfo = args[++i];
    else if (args[i] == "--pg-password-file" && has_value)
      storage.pg.password_file = args[++i];
    else if (args[i] == "--schema" && has_value)
      schema = args[++i];
    else
      plain.push_back(args[i]);
  }
  bool import = !plain.empty() && plain[0] == "import" && plain.size() == 3;
  bool export_ = !plain.empty() && plain[0] == "export" && plain.size() == 2;
  bool on_pg = storage_kind == "postgresql";
  bool where_given = on_pg ? !storage.pg.conninfo.empty() && data.empty()
                           : storage_kind == "sqlite" && !data.empty();
  if ((!import && !export_) || !where_given) {
    err << "usage: kantadb-server import TABLE FILE.csv --data DIR\n"
           "       kantadb-server export TABLE --data DIR\n"
           "       (or --storage postgresql --pg CONNINFO [--pg-password-file FILE]\n"
           "        [--schema NAME] in place of --data DIR; the schema of alias Tarvola\n"
           "        is tarvola)\n";
    return 2;
  }
  if (on_pg) {
    try {
      CheckConnInfo(storage.pg.conninfo);
    } catch (const std::invalid_argument& e) {
      err << "kantadb-server " << plain[0] << ": " << e.what() << "\n";
      return 2;
    }
    storage.storage = StorageKind::kPostgresql;
    data = schema;
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
      PrepareLocation(storage, data, false);
      std::vector<std::string> warnings;
      size_t n = ImportCsv(storage, data, Utf8ToWin1252(plain[1]), file, &warnings);
      for (const std::string& w : warnings)
        err << "kantadb-server import: " << plain[2] << ": " << w << "\n";
      err << "kantadb-server import: " << n << " records stored in " << plain[1];
      if (!warnings.empty())
        err << ", " << warnings.size() << " texts cut to their fields";
      err << "\n";
    } else {
      size_t n = ExportCsv(storage, data, Utf8ToWin1252(plain[1]), out);
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
