#include "server/engine/data_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "protocol/nxllException.h"
#include "protocol/workstation_tables.h"
#include "server/engine/schema_from_dictionary.h"
#include "server/engine/sqlite_store.h"

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

FolderReport PrepareDataFolder(const std::string& folder, TnxFieldType string_type,
                               bool remove_orphans) {
  MakeDataFolder(folder);
  FolderReport report;
  SqliteStore store(folder, false);
  if (store.TableNames().empty()) {
    SqliteStore::Write write(store);
    for (const std::string& name : WorkstationTableNames()) {
      TnxDataDictionary dict;
      WorkstationTableDictionary(name, string_type, &dict);
      TableSchema schema = SchemaFromDictionary(dict);
      std::vector<bool> unique;
      for (const IndexLayout& index : schema.indexes)
        unique.push_back(index.unique && !index.ref_key);
      store.CreateTable(name, dict.ToBytes(), unique);
    }
    write.Commit();
    report.created_tables = true;
  }
  if (remove_orphans)
    report.orphan_blobs_removed = store.DeleteOrphanBlobs();
  return report;
}

}  // namespace vantera
