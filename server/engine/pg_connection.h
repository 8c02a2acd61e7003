// One libpq connection of the PostgreSQL store, made again after it was lost: a statement
// that meets a lost connection fails with a code, and the next one connects anew, so a
// server restarted under a running kantadb-server serves again without restarting it.
//
// Statements run with binary parameters and results, each prepared once per connection.
// Failures become EnxBaseException with a code of the error table (PgErrorCode).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"
#include "server/engine/engine_options.h"

struct pg_conn;
struct pg_result;

namespace vantera {

// A parameter in binary form with its type (int8, bytea or text).
struct PgParam {
  uint32_t type = 0;
  std::string value;
};
PgParam PgInt(int64_t v);
PgParam PgBytes(std::string_view b);
PgParam PgText(std::string_view t);

class PgResult {
 public:
  explicit PgResult(pg_result* result);
  int Rows() const;
  bool IsNull(int row, int column) const;
  // An integer column (int2, int4, int8 or bool), 0 for NULL.
  int64_t Int(int row, int column) const;
  Bytes Data(int row, int column) const;
  // Rows changed by INSERT, UPDATE or DELETE.
  int64_t Affected() const;
  pg_result* get() const { return result_.get(); }

 private:
  std::unique_ptr<pg_result, void (*)(pg_result*)> result_;
};

// Maps a SQLSTATE onto a code of the error table (as the SQLite store maps its codes).
uint32_t PgErrorCode(std::string_view sqlstate, bool is_write);

// Throws std::invalid_argument when `conninfo` is not a libpq connection string or holds
// a password (which belongs in a password file, never on a command line).
void CheckConnInfo(const std::string& conninfo);

class PgConnection {
 public:
  // `on_connect` runs on every new connection before its first statement (settings).
  PgConnection(PgConnectionInfo info, std::function<void(PgConnection&)> on_connect);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Connects when there is no connection; 9992 when the database cannot be reached.
  void Ensure();
  bool Connected() const { return conn_ != nullptr; }
  // Counts connections made and lost: a change means that what the database held for the
  // earlier connection (its transaction, its advisory locks) is gone.
  uint64_t Epoch() const { return epoch_; }
  // Called when a statement finds the connection lost (before the failure is thrown).
  void OnLost(std::function<void()> lost) { on_lost_ = std::move(lost); }

  PgResult Run(const std::string& sql, const std::vector<PgParam>& params, bool is_write);
  // A statement without parameters, not prepared: transaction control and schema work.
  void Command(const std::string& sql, bool is_write);
  // The same without reconnecting or throwing, for undo paths; false when it failed.
  bool TryCommand(const std::string& sql) noexcept;
  void Close() noexcept;

 private:
  // Throws for a failed statement (the caller keeps owning `result`).
  void Check(pg_result* result, bool is_write);
  const std::string& Prepared(const std::string& sql, const std::vector<PgParam>& params,
                              bool is_write);

  PgConnectionInfo info_;
  std::function<void(PgConnection&)> on_connect_;
  std::function<void()> on_lost_;
  pg_conn* conn_ = nullptr;
  uint64_t epoch_ = 0;
  std::map<std::string, std::string> prepared_;  // statement text -> name
  bool disk_full_reported_ = false;
};

}  // namespace vantera
