// Preparing a data folder for serving: the workstation's three tables in a new folder and
// the removal of blobs that no record refers to (left by clients that never posted).
#pragma once

#include <string>

#include "protocol/nxsdFieldTypes.h"

namespace vantera {

struct FolderReport {
  bool created_tables = false;
  long long orphan_blobs_removed = 0;
};

// Creates the folder when missing (its parent must exist); 10018 when it cannot.
void MakeDataFolder(const std::string& folder);

// Creates the folder when missing and the workstation's tables when it has no tables.
// With `remove_orphans` also deletes the blobs that no record refers to, except those of a
// store that is still open (in this or another process): at server start.
FolderReport PrepareDataFolder(const std::string& folder, TnxFieldType string_type,
                               bool remove_orphans = true);

}  // namespace vantera
