#include "tests/server/pg_cluster.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace vantera::testing {

namespace {

constexpr const char* kOwner = "postgres";

std::string LogTail(const std::string& file) {
  std::ifstream in(file);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace

std::string PgCluster::BinDir() {
  std::error_code ec;
  std::string best;
  for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    std::string bin = (e.path() / "bin").string();
    if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(bin + "/pg_ctl") &&
        bin > best)
      best = bin;
  }
  return best;
}

int PgCluster::RunAsOwner(const std::string& command_line) const {
  std::string line = "cd " + dir_ + " && ";
  if (::geteuid() == 0)
    line += "runuser -u " + std::string(kOwner) + " -- ";
  line += BinDir() + "/" + command_line + " >>" + dir_ + "/ctl.log 2>&1";
  return std::system(line.c_str());
}

PgCluster::PgCluster() {
  if (BinDir().empty())
    throw std::runtime_error("PostgreSQL's programs are not installed");
  std::string templ = (std::filesystem::temp_directory_path() / "kantadb-pg-XXXXXX").string();
  if (!::mkdtemp(templ.data()))
    throw std::runtime_error("mkdtemp failed");
  dir_ = templ;
  if (::geteuid() == 0) {
    struct passwd* owner = ::getpwnam(kOwner);
    if (!owner || ::chown(dir_.c_str(), owner->pw_uid, owner->pw_gid) != 0)
      throw std::runtime_error("cannot give " + dir_ + " to the user postgres");
  }
  if (RunAsOwner("initdb -D " + dir_ + "/data -A trust -U postgres -E UTF8 --no-sync") != 0)
    throw std::runtime_error("initdb failed: " + LogTail(dir_ + "/ctl.log"));
  Start();
}

PgCluster::~PgCluster() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

PgCluster& PgCluster::Shared() {
  static PgCluster cluster;
  return cluster;
}

void PgCluster::Start() {
  if (running_)
    return;
  // Only the Unix socket in the folder; fsync off: the tests never lose the machine.
  if (RunAsOwner("pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -t 60 -o \"-k " + dir_ +
                 " -c listen_addresses='' -F -c max_connections=200\" start") != 0)
    throw std::runtime_error("pg_ctl start failed: " + LogTail(dir_ + "/server.log"));
  running_ = true;
}

void PgCluster::Stop() {
  if (!running_)
    return;
  RunAsOwner("pg_ctl -D " + dir_ + "/data -m immediate -w stop");
  running_ = false;
}

std::string PgCluster::ConnInfo(const std::string& name) const {
  return "host=" + dir_ + " user=postgres dbname=" + name;
}

std::string PgCluster::NewDatabase() {
  std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++next_database_);
  std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb(ConnInfo("postgres").c_str()), PQfinish);
  if (PQstatus(c.get()) != CONNECTION_OK)
    throw std::runtime_error(std::string("cannot reach the test cluster: ") +
                             PQerrorMessage(c.get()));
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(
      PQexec(c.get(), ("CREATE DATABASE " + name).c_str()), PQclear);
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
    throw std::runtime_error(std::string("CREATE DATABASE failed: ") + PQerrorMessage(c.get()));
  return ConnInfo(name);
}

}  // namespace vantera::testing

namespace vantera::testing {

int64_t PgCluster::Number(const std::string& conninfo, const std::string& sql) {
  std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb(conninfo.c_str()), PQfinish);
  if (PQstatus(c.get()) != CONNECTION_OK)
    return -1;
  std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(c.get(), sql.c_str()), PQclear);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) < 1 ||
      PQgetisnull(r.get(), 0, 0))
    return -1;
  return std::stoll(PQgetvalue(r.get(), 0, 0));
}

}  // namespace vantera::testing
