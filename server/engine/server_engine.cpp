#include "server/engine/server_engine.h"

#include <climits>
#include <cstdlib>
#include <new>

#include "core/win1252.h"
#include "protocol/nxllException.h"
#include "server/engine/server_cursor.h"
#include "server/engine/server_database.h"

namespace vantera {

// ---- EngineSession ----

EngineSession::EngineSession(uint32_t id) : id_(id) {}

EngineSession::~EngineSession() {
  cursors_.clear();
  databases_.clear();
}

ServerDatabase& EngineSession::Database(int32_t id) {
  auto it = databases_.find(static_cast<uint32_t>(id));
  if (it == databases_.end())
    throw EnxBaseException(9990);  // Invalid handle to the function.
  return *it->second;
}

ServerCursor& EngineSession::Cursor(int32_t id) {
  auto it = cursors_.find(static_cast<uint32_t>(id));
  if (it == cursors_.end())
    throw EnxBaseException(9990);
  return *it->second;
}

void EngineSession::AddDatabase(std::unique_ptr<ServerDatabase> db) {
  uint32_t id = db->id();
  databases_.emplace(id, std::move(db));
}

void EngineSession::AddCursor(std::unique_ptr<ServerCursor> cursor) {
  uint32_t id = cursor->id();
  cursors_.emplace(id, std::move(cursor));
}

void EngineSession::CloseDatabase(int32_t id) {
  ServerDatabase& db = Database(id);
  std::erase_if(cursors_, [&db](const auto& e) { return &e.second->database() == &db; });
  databases_.erase(static_cast<uint32_t>(id));
}

void EngineSession::CloseCursor(int32_t id) {
  Cursor(id);
  cursors_.erase(static_cast<uint32_t>(id));
}

// ---- ServerEngine ----

ServerEngine::ServerEngine(EngineOptions options, StoreFaults* faults)
    : options_(std::move(options)), faults_(faults) {}

ServerEngine::~ServerEngine() {
  std::lock_guard lock(mu_);
  sessions_.clear();
}

void ServerEngine::OpenSession(uint32_t session_id) {
  std::lock_guard lock(mu_);
  sessions_.try_emplace(session_id, std::make_shared<EngineSession>(session_id));
}

void ServerEngine::CloseSession(uint32_t session_id) {
  std::shared_ptr<EngineSession> session;
  {
    std::lock_guard lock(mu_);
    auto it = sessions_.find(session_id);
    if (it == sessions_.end())
      return;
    session = std::move(it->second);
    sessions_.erase(it);
  }
  // Wait for a request of the session that may still run, then let it go.
  std::lock_guard wait(session->mutex());
}

size_t ServerEngine::SessionCount() const {
  std::lock_guard lock(mu_);
  return sessions_.size();
}

namespace {
std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}
}  // namespace

std::string ServerEngine::ResolveFolder(std::string_view keyword, std::string_view alias) const {
  if (keyword == "Name") {
    std::string wanted = Win1252Upper(alias);
    for (const AliasFolder& a : options_.aliases)
      if (Win1252Upper(a.name) == wanted)
        return a.folder;
  } else if (keyword == "Path") {
    // Only the folders of configured aliases may be opened by path: a client never
    // makes the server create files elsewhere. On PostgreSQL the path is the schema.
    if (options_.storage == StorageKind::kPostgresql) {
      for (const AliasFolder& a : options_.aliases)
        if (a.folder == alias)
          return a.folder;
      throw EnxBaseException(10014);
    }
    std::string wanted = RealPath(std::string(alias));
    if (!wanted.empty())
      for (const AliasFolder& a : options_.aliases)
        if (RealPath(a.folder) == wanted)
          return a.folder;
  } else {
    throw EnxBaseException(9986);  // Invalid parameter.
  }
  throw EnxBaseException(10014);  // Unknown database.
}

EngineReply ServerEngine::Dispatch(uint32_t session_id, uint32_t message_id,
                                   std::string_view payload) {
  std::shared_ptr<EngineSession> session;
  {
    std::lock_guard lock(mu_);
    auto it = sessions_.find(session_id);
    if (it != sessions_.end())
      session = it->second;
  }
  if (!session)
    return {9990, {}};
  std::lock_guard lock(session->mutex());
  try {
    return Handle(*session, message_id, payload);
  } catch (const EnxBaseException& e) {
    return {e.ErrorCode() != 0 ? e.ErrorCode() : 15520, {}};
  } catch (const DecodeError&) {
    return {9986, {}};  // Invalid parameter: the payload does not have its request's shape
  } catch (const std::bad_alloc&) {
    return {9473, {}};
  } catch (const std::exception&) {
    return {nxExceptionToCode(std::current_exception()), {}};
  }
}

}  // namespace vantera
