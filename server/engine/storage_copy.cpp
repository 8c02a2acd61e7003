#include "server/engine/storage_copy.h"

#include <stdexcept>

#include "protocol/nxllException.h"
#include "server/engine/data_folder.h"
#include "server/engine/pg_connection.h"
#include "server/engine/pg_store.h"
#include "server/engine/schema_from_dictionary.h"
#include "server/engine/sqlite_store.h"

namespace vantera {

namespace {

CopiedTable CopyTable(Storage& from, Storage& to, const StoredTable& source) {
  TableSchema schema = SchemaFromDictionaryStream(source.dictionary);
  std::vector<bool> unique;
  for (const IndexLayout& index : schema.indexes)
    unique.push_back(index.unique && !index.ref_key);
  if (unique.empty())
    throw EnxBaseException("table " + source.name + " has no index to read it by", 10764);
  to.CreateTable(source.name, source.dictionary, unique);
  auto target = to.FindTable(source.name);
  if (!target)
    throw EnxBaseException(10024);
  CopiedTable copied{source.name, 0, 0};
  // The records in the order of index 0 with their row numbers (bookmarks stay valid).
  std::optional<IndexPlace> place;
  while (auto found = from.Step(source.id, 0, {}, {}, place ? &*place : nullptr, true)) {
    std::vector<Bytes> keys{found->key};
    for (int i = 1; i < source.index_count; ++i) {
      auto key = from.RowKey(source.id, i, found->row);
      if (!key)
        throw EnxBaseException(8962);
      keys.push_back(std::move(*key));
    }
    to.InsertRow(target->id, found->row, found->image, keys);
    place = IndexPlace{found->key, found->row};
    ++copied.rows;
  }
  to.SetCounters(target->id, from.Counters(source.id));
  for (const StoredBlob& blob : from.BlobsOf(source.id)) {
    to.PutBlob(target->id, blob);
    int64_t total = 0;
    for (int64_t offset = 0;; offset += Storage::kBlobChunk) {
      auto piece = from.ReadBlob(source.id, blob.id, offset, Storage::kBlobChunk, &total);
      if (!piece)
        throw EnxBaseException(8962);
      if (piece->empty())
        break;
      to.WriteBlob(target->id, blob.id, offset, *piece);
    }
    if (to.BlobLength(target->id, blob.id) != total)
      throw EnxBaseException(
          "blob " + std::to_string(blob.id) + " of " + source.name + " did not arrive whole", 9218);
    ++copied.blobs;
  }
  int64_t rows_there = to.Count(target->id, 0, {}, {});
  int64_t rows_here = from.Count(source.id, 0, {}, {});
  if (rows_there != copied.rows || rows_here != copied.rows ||
      static_cast<int64_t>(to.BlobsOf(target->id).size()) != copied.blobs)
    throw EnxBaseException("table " + source.name + ": " + std::to_string(rows_here) +
                               " records here, " + std::to_string(rows_there) + " there",
                           9218);
  return copied;
}

}  // namespace

std::vector<CopiedTable> CopyStorage(Storage& from, Storage& to) {
  Storage::Write write(to);
  to.LockCatalog();
  if (!to.TableNames().empty())
    throw EnxBaseException("the target has tables already: nothing is copied", 13060);
  std::vector<CopiedTable> copied;
  for (const std::string& name : from.TableNames()) {
    auto source = from.FindTable(name);
    if (!source)
      throw EnxBaseException(10024);
    copied.push_back(CopyTable(from, to, *source));
  }
  // Past every number the source ever handed out, not only past the copied blobs: a
  // deleted blob's number given again would read as that blob to a client that kept it.
  to.SetNextBlob(from.NextBlob());
  if (to.NextBlob() < from.NextBlob())
    throw EnxBaseException("the blob counter did not arrive", 9218);
  write.Commit();
  return copied;
}

int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string from, to, schema = "tarvola";
  PgConnectionInfo pg;
  bool bad = args.empty() || args[0] != "copy";
  for (size_t i = 1; i < args.size() && !bad; ++i) {
    bool has_value = i + 1 < args.size();
    if (args[i] == "--from" && has_value)
      from = args[++i];
    else if (args[i] == "--to" && has_value)
      to = args[++i];
    else if (args[i] == "--schema" && has_value)
      schema = args[++i];
    else if (args[i] == "--pg-password-file" && has_value)
      pg.password_file = args[++i];
    else
      bad = true;
  }
  const std::string kSqlite = "sqlite:", kPg = "postgresql:";
  if (bad || from.rfind(kSqlite, 0) != 0 || to.rfind(kPg, 0) != 0 ||
      from.size() == kSqlite.size() || to.size() == kPg.size()) {
    err << "usage: kantadb-server copy --from sqlite:DIR --to postgresql:CONNINFO\n"
           "         [--schema NAME] [--pg-password-file FILE]\n"
           "  copies every table, record, blob and counter of the data folder DIR into the\n"
           "  schema NAME (default tarvola, made when missing, which must have no tables)\n";
    return 2;
  }
  pg.conninfo = to.substr(kPg.size());
  try {
    CheckConnInfo(pg.conninfo);
  } catch (const std::invalid_argument& e) {
    err << "kantadb-server copy: " << e.what() << "\n";
    return 2;
  }
  try {
    SqliteStore source(from.substr(kSqlite.size()), true);
    PgStore target(pg, schema, false);
    for (const CopiedTable& t : CopyStorage(source, target))
      out << t.name << ": " << t.rows << " records, " << t.blobs << " blobs\n";
    err << "kantadb-server copy: done, counts verified\n";
  } catch (const EnxBaseException& e) {
    err << "kantadb-server copy: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace vantera
