#include "server/engine/data_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "protocol/nxllException.h"
#include "protocol/workstation_tables.h"
#include "server/engine/schema_from_dictionary.h"
#include "server/engine/sqlite_store.h"
#include "server/engine/storage_factory.h"

namespace vantera {

void MakeDataFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (errno == ENOENT)              // only the last folder of the path is made
      throw EnxBaseException(10018);  // The alias references a directory that does not exist.
    throw EnxBaseException("Cannot create the data folder " + folder + ": " + std::strerror(errno),
                           10018);
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw EnxBaseException("The data folder " + folder + " is not a folder", 10018);
}

FolderReport PrepareStore(Storage& store, TnxFieldType string_type, bool remove_orphans) {
  FolderReport report;
  if (store.TableNames().empty()) {
    Storage::Write write(store);
    // Asked again inside the change, with the catalog taken: another server may have made
    // them meanwhile.
    store.LockCatalog();
    if (store.TableNames().empty()) {
      for (const std::string& name : WorkstationTableNames()) {
        TnxDataDictionary dict;
        WorkstationTableDictionary(name, string_type, &dict);
        TableSchema schema = SchemaFromDictionary(dict);
        std::vector<bool> unique;
        for (const IndexLayout& index : schema.indexes)
          unique.push_back(index.unique && !index.ref_key);
        store.CreateTable(name, dict.ToBytes(), unique);
      }
      report.created_tables = true;
    }
    write.Commit();
  }
  if (remove_orphans)
    report.orphan_blobs_removed = store.DeleteOrphanBlobs(0);
  return report;
}

FolderReport PrepareDataFolder(const std::string& folder, TnxFieldType string_type,
                               bool remove_orphans) {
  MakeDataFolder(folder);
  SqliteStore store(folder, false);
  return PrepareStore(store, string_type, remove_orphans);
}

FolderReport PrepareLocation(const EngineOptions& options, const std::string& location,
                             bool remove_orphans) {
  if (options.storage == StorageKind::kSqlite)
    return PrepareDataFolder(location, options.string_type, remove_orphans);
  std::unique_ptr<Storage> store = OpenStorage(options, location, false);
  return PrepareStore(*store, options.string_type, remove_orphans);
}

}  // namespace vantera
