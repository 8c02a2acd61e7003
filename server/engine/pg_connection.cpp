#include "server/engine/pg_connection.h"

#include <libpq-fe.h>

#include <stdexcept>

#include "protocol/nxllException.h"
#include "server/engine/storage.h"

namespace vantera {

namespace {

constexpr uint32_t kInt8Oid = 20;
constexpr uint32_t kByteaOid = 17;
constexpr uint32_t kTextOid = 25;
constexpr size_t kPreparedLimit = 256;

uint64_t BigEndian(const char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i)
    v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

void IgnoreNotice(void*, const char*) {}

// A failed statement's or connection's message on one line.
std::string OneLine(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  for (char& c : s)
    if (c == '\n')
      c = ' ';
  return s;
}

}  // namespace

PgParam PgInt(int64_t v) {
  std::string b(8, '\0');
  auto u = static_cast<uint64_t>(v);
  for (int i = 7; i >= 0; --i, u >>= 8)
    b[static_cast<size_t>(i)] = static_cast<char>(u & 0xFF);
  return {kInt8Oid, std::move(b)};
}

PgParam PgBytes(std::string_view b) {
  return {kByteaOid, std::string(b)};
}

PgParam PgText(std::string_view t) {
  return {kTextOid, std::string(t)};
}

PgResult::PgResult(pg_result* result) : result_(result, PQclear) {}

int PgResult::Rows() const {
  return PQntuples(result_.get());
}

bool PgResult::IsNull(int row, int column) const {
  return PQgetisnull(result_.get(), row, column) != 0;
}

int64_t PgResult::Int(int row, int column) const {
  if (IsNull(row, column))
    return 0;
  int n = PQgetlength(result_.get(), row, column);
  const char* p = PQgetvalue(result_.get(), row, column);
  if (n != 1 && n != 2 && n != 4 && n != 8)
    throw EnxBaseException("an integer column of " + std::to_string(n) + " bytes", 9217);
  uint64_t v = BigEndian(p, n);
  if (n > 1 && n < 8 && (v >> (n * 8 - 1)) != 0)  // sign-extend int2 and int4
    v |= ~uint64_t{0} << (n * 8);
  return static_cast<int64_t>(v);
}

Bytes PgResult::Data(int row, int column) const {
  return Bytes(PQgetvalue(result_.get(), row, column),
               static_cast<size_t>(PQgetlength(result_.get(), row, column)));
}

int64_t PgResult::Affected() const {
  const char* n = PQcmdTuples(result_.get());
  return n && *n ? std::stoll(n) : 0;
}

uint32_t PgErrorCode(std::string_view state, bool is_write) {
  if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014")
    return 10249;  // Lock time out. (lock_timeout, deadlock, serialization, timeout)
  if (state.substr(0, 2) == "23")
    return 9729;  // Key violation.
  if (state == "53100")
    return 9218;  // Write failure. (disk full)
  if (state == "53200")
    return 9473;  // Insufficient memory for this operation.
  if (state == "25006")
    return 10501;  // Database is read only.
  if (state == "XX001" || state == "XX002")
    return 8962;  // Corrupt file - other than header.
  if (state == "54000")
    return 15490;  // BLOB size exceeds maximum size. (a value beyond the server's limit)
  if (state == "42P01")
    return 10024;  // Table does not exist.
  if (state == "08001" || state == "08004" || state == "28000" || state == "28P01" ||
      state == "3D000")
    return 9992;                  // Cannot open file. (the database cannot be reached)
  return is_write ? 9218 : 9217;  // Write failure. / Read failure.
}

void CheckConnInfo(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (!options) {
    std::string why = OneLine(error);
    PQfreemem(error);
    throw std::invalid_argument("--pg: not a connection string: " + why);
  }
  bool has_password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val && *o->val)
      has_password = true;
  PQconninfoFree(options);
  if (has_password)
    throw std::invalid_argument(
        "--pg: the connection string holds a password; give it in a password file "
        "(PGPASSFILE or --pg-password-file)");
}

PgConnection::PgConnection(PgConnectionInfo info, std::function<void(PgConnection&)> on_connect)
    : info_(std::move(info)), on_connect_(std::move(on_connect)) {}

PgConnection::~PgConnection() {
  Close();
}

void PgConnection::Close() noexcept {
  if (!conn_)
    return;
  PQfinish(conn_);
  conn_ = nullptr;
  prepared_.clear();
  ++epoch_;
}

void PgConnection::Ensure() {
  if (conn_)
    return;
  // Later keywords override the expanded connection string, earlier ones are defaults.
  std::vector<const char*> keys = {"connect_timeout", "dbname"};
  std::vector<const char*> values = {"10", info_.conninfo.c_str()};
  if (!info_.password_file.empty()) {
    keys.push_back("passfile");
    values.push_back(info_.password_file.c_str());
  }
  keys.push_back("fallback_application_name");
  values.push_back("kantadb-server");
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
  if (!c)
    throw EnxBaseException(9473);
  if (PQstatus(c) != CONNECTION_OK) {
    std::string why = OneLine(PQerrorMessage(c));
    PQfinish(c);
    throw EnxBaseException("cannot connect to PostgreSQL: " + why, 9992);  // Cannot open file.
  }
  PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
  conn_ = c;
  ++epoch_;
  try {
    if (on_connect_)
      on_connect_(*this);
  } catch (...) {
    Close();
    throw;
  }
}

void PgConnection::Check(pg_result* result, bool is_write) {
  ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
    return;
  std::string state;
  std::string message;
  if (result) {
    const char* s = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    state = s ? s : "";
    message = OneLine(PQresultErrorMessage(result));
  }
  if (message.empty() && conn_)
    message = OneLine(PQerrorMessage(conn_));
  // A lost connection (the server restarted or went away) is closed here, so that the
  // next statement connects anew.
  bool lost = !conn_ || PQstatus(conn_) == CONNECTION_BAD || state.substr(0, 2) == "08" ||
              state == "57P01" || state == "57P02" || state == "57P03";
  if (lost) {
    Close();
    if (on_lost_)
      on_lost_();
    throw EnxBaseException("the connection to PostgreSQL was lost: " + message,
                           is_write ? 9218 : 9217);
  }
  uint32_t code = PgErrorCode(state, is_write);
  if (state == "53100" && !disk_full_reported_) {
    disk_full_reported_ = true;
    ReportStoreFailure("disk full: PostgreSQL: " + message + "; changes fail with 9218");
  }
  throw EnxBaseException("PostgreSQL: " + message, code);
}

const std::string& PgConnection::Prepared(const std::string& sql,
                                          const std::vector<PgParam>& params, bool is_write) {
  auto it = prepared_.find(sql);
  if (it != prepared_.end())
    return it->second;
  if (prepared_.size() >= kPreparedLimit) {
    PgResult done(PQexec(conn_, "DEALLOCATE ALL"));
    Check(done.get(), false);
    prepared_.clear();
  }
  std::string name = "s" + std::to_string(epoch_) + "_" + std::to_string(prepared_.size());
  std::vector<unsigned int> types;
  for (const PgParam& p : params)
    types.push_back(p.type);
  PgResult made(
      PQprepare(conn_, name.c_str(), sql.c_str(), static_cast<int>(types.size()), types.data()));
  Check(made.get(), is_write);
  return prepared_.emplace(sql, name).first->second;
}

PgResult PgConnection::Run(const std::string& sql, const std::vector<PgParam>& params,
                           bool is_write) {
  Ensure();
  const std::string& name = Prepared(sql, params, is_write);
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const PgParam& p : params) {
    values.push_back(p.value.data());
    lengths.push_back(static_cast<int>(p.value.size()));
    formats.push_back(1);
  }
  PgResult r(PQexecPrepared(conn_, name.c_str(), static_cast<int>(params.size()), values.data(),
                            lengths.data(), formats.data(), 1));
  Check(r.get(), is_write);
  if (is_write)
    disk_full_reported_ = false;
  return r;
}

void PgConnection::Command(const std::string& sql, bool is_write) {
  Ensure();
  PgResult r(PQexec(conn_, sql.c_str()));
  Check(r.get(), is_write);
}

bool PgConnection::TryCommand(const std::string& sql) noexcept {
  if (!conn_)
    return false;
  PGresult* r = PQexec(conn_, sql.c_str());
  bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  if (!ok && PQstatus(conn_) == CONNECTION_BAD) {
    Close();
    if (on_lost_)
      on_lost_();
  }
  return ok;
}

}  // namespace vantera
