// The storage an engine test runs on, for suites parameterised over the storage kinds:
// a fresh data folder (SQLite) or a fresh database of the test program's private
// PostgreSQL cluster with the alias Tarvola in schema "tarvola".
//
// Where PostgreSQL's programs are not installed the PostgreSQL storage is unavailable and
// the fixture skips (SkipIfUnavailable in SetUp); nothing is started then.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/engine/data_folder.h"
#include "server/engine/engine_options.h"
#include "tests/server/engine_test_support.h"
#include "tests/server/pg_cluster.h"

namespace vantera::testing {

inline const std::vector<StorageKind>& StorageKinds() {
  static const std::vector<StorageKind> kinds = {StorageKind::kSqlite, StorageKind::kPostgresql};
  return kinds;
}

inline std::string StorageName(StorageKind kind) {
  return kind == StorageKind::kSqlite ? "Sqlite" : "Postgresql";
}

class TestStorage {
 public:
  explicit TestStorage(StorageKind kind) : kind_(kind) {
    if (kind_ == StorageKind::kSqlite) {
      location_ = folder_.path();
    } else if (!PgCluster::BinDir().empty()) {
      conninfo_ = PgCluster::Shared().NewDatabase();
      location_ = "tarvola";
    }
  }

  StorageKind kind() const { return kind_; }
  bool available() const { return !location_.empty(); }
  // The data folder or the schema of the alias Tarvola.
  const std::string& location() const { return location_; }
  const std::string& conninfo() const { return conninfo_; }
  // A folder for the test's other files (the SQLite data folder itself on SQLite).
  const TempFolder& folder() const { return folder_; }

  // Options with the alias "Tarvola" on the location.
  EngineOptions Options(TnxFieldType string_type = nxtShortString) const {
    EngineOptions o = OptionsFor(location_, string_type);
    o.storage = kind_;
    o.pg.conninfo = conninfo_;
    return o;
  }

  FolderReport Prepare(TnxFieldType string_type = nxtShortString) const {
    return PrepareLocation(Options(string_type), location_);
  }

 private:
  StorageKind kind_;
  TempFolder folder_;
  std::string location_;
  std::string conninfo_;
};

#define VANTERA_SKIP_UNAVAILABLE(storage) \
  if (!(storage).available())             \
  GTEST_SKIP() << "PostgreSQL's programs are not installed"

}  // namespace vantera::testing
