// A private PostgreSQL cluster for tests: initdb in a temporary folder (run as the user
// "postgres" when the tests run as root, which initdb refuses), listening only on a Unix
// socket in that folder, stopped (immediate) and removed when the object goes.
//
// Shared() is the one cluster of a test program, started at its first use; each test
// takes a database of its own from it (NewDatabase).
#pragma once

#include <cstdint>
#include <string>

namespace vantera::testing {

class PgCluster {
 public:
  // The folder of PostgreSQL's programs (initdb, pg_ctl), or empty when not installed.
  static std::string BinDir();

  // Throws std::runtime_error (with the log's end) when the cluster cannot be made.
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  static PgCluster& Shared();

  // A new empty database; returns its connection string.
  std::string NewDatabase();
  // The first column of the first row of `sql` as a number (-1 when it fails).
  static int64_t Number(const std::string& conninfo, const std::string& sql);
  // A connection string for the database `name`.
  std::string ConnInfo(const std::string& name) const;
  const std::string& socket_dir() const { return dir_; }

  void Stop();   // immediate: as if the machine lost it
  void Start();  // again on the same folder

 private:
  // Runs a program of BinDir() as the cluster's owner; returns its exit status.
  int RunAsOwner(const std::string& command_line) const;

  std::string dir_;
  bool running_ = false;
  int next_database_ = 0;
};

}  // namespace vantera::testing
