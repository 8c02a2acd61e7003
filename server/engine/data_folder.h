// Preparing a data folder for serving: the workstation's three tables in a new folder and
// the removal of blobs that no record refers to (left by clients that never posted).
#pragma once

#include <string>

#include "dbclient/nxsdFieldTypes.h"

namespace vantera {

struct FolderReport {
  bool created_tables = false;
  long long orphan_blobs_removed = 0;
};

// Creates the folder when missing. Only for a folder that no other server process serves.
FolderReport PrepareDataFolder(const std::string& folder, TnxFieldType string_type);

}  // namespace vantera
