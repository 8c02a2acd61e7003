// The database engine of kantadb-server: sessions, their databases and cursors, and the
// request dispatcher that turns request payloads into their operations and replies.
//
// Object tree: engine -> sessions (by the transport's session id) -> databases -> cursors.
// Database and cursor ids are unique in the engine's run, so an id of another session is
// simply not found in this one: it answers 9990 like any wrong handle.
//
// Thread safety: Dispatch, OpenSession and CloseSession may be called from any thread.
// Requests of one session run one at a time (a session lock); requests of different
// sessions run in parallel, each database object on its own SQLite connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/coding.h"
#include "server/engine/engine_options.h"
#include "server/engine/folder_state.h"
#include "server/engine/storage.h"

namespace vantera {

class ServerDatabase;
class ServerCursor;

struct EngineReply {
  uint32_t code = 0;
  Bytes data;
};

class EngineSession {
 public:
  explicit EngineSession(uint32_t id);
  ~EngineSession();  // closes cursors, then databases
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  uint32_t id() const { return id_; }
  std::mutex& mutex() { return mu_; }
  int32_t timeout = 10000;

  ServerDatabase& Database(int32_t id);  // 9990 when not of this session
  ServerCursor& Cursor(int32_t id);      // 9990 when not of this session
  void AddDatabase(std::unique_ptr<ServerDatabase> db);
  void AddCursor(std::unique_ptr<ServerCursor> cursor);
  void CloseDatabase(int32_t id);  // its cursors first
  void CloseCursor(int32_t id);
  size_t DatabaseCount() const { return databases_.size(); }
  size_t CursorCount() const { return cursors_.size(); }

 private:
  uint32_t id_;
  std::mutex mu_;
  std::map<uint32_t, std::unique_ptr<ServerDatabase>> databases_;
  std::map<uint32_t, std::unique_ptr<ServerCursor>> cursors_;  // destroyed first
};

class ServerEngine {
 public:
  // `faults` (tests only) is handed to every store the engine opens.
  explicit ServerEngine(EngineOptions options, StoreFaults* faults = nullptr);
  ~ServerEngine();

  const EngineOptions& options() const { return options_; }

  void OpenSession(uint32_t session_id);
  void CloseSession(uint32_t session_id);
  size_t SessionCount() const;

  // Runs one request of a session and answers it. Never throws for bad input: a payload
  // of the wrong length or shape answers 9986, an unknown id 15522, a wrong handle 9990.
  EngineReply Dispatch(uint32_t session_id, uint32_t message_id, std::string_view payload);

  // The data folder of an alias name (without regard to case) or of a path that is the
  // folder of an alias; 10014 when there is none.
  std::string ResolveFolder(std::string_view keyword, std::string_view alias) const;

 private:
  EngineReply Handle(EngineSession& session, uint32_t message_id, std::string_view payload);

  EngineOptions options_;
  StoreFaults* faults_;
  FolderRegistry folders_;
  std::atomic<uint32_t> next_id_{0x1001};
  mutable std::mutex mu_;
  std::map<uint32_t, std::shared_ptr<EngineSession>> sessions_;
};

}  // namespace vantera
