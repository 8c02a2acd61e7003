// The remote server engine: the bottom layer of the database client.
//
// Every operation on a server object (session, database, cursor, statement, task) becomes
// one request (nxRequests.h) sent through the engine's transport on the session's behalf;
// the engine waits for the matching reply and hands back the server's 32-bit result code
// and the reply bytes. Operations return that code and never raise (0 = success); the
// components of nxdb.h turn non-zero codes into exceptions.
//
// Object tree and ownership: the caller owns every remote object through unique_ptr; a
// session must outlive the objects it created, and when it does not, they are unbound
// (their close requests are then not sent). Databases, cursors, statements and tasks send
// through the request primitive of their session.
//
// Request and reply (TnxRemoteSession::Request):
//  1. Drain the reply queue: an entry with this request's message id and requester is the
//     reply (nothing is sent); every other entry is stale and dropped.
//  2. Otherwise send through the transport; its callback queues the reply.
//  3. Take the queue front: none gives 10756, another message id gives 15522 (dropped).
// A reply with message id 255 is a batch: it is replaced at the queue front by its
// sub-replies in order (only the first when that one carries a non-zero code).
//
// Threads: one thread at a time per session; the engine's session list is locked.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/coding.h"
#include "dbconn/nxllComponent.h"
#include "dbconn/nxptBasePooledTransport.h"
#include "protocol/nxRequests.h"
#include "protocol/nxsdDataDictionary.h"

namespace vantera {

class TnxRemoteSession;
class TnxRemoteDatabase;
class TnxRemoteCursor;
class TnxRemoteStatement;
class TnxRemoteTaskInfo;

inline constexpr uint32_t kDefaultSessionTimeout = 10000;
// Largest piece of one BlobRead or BlobWrite unless changed (0: no limit).
inline constexpr uint32_t kDefaultBlobPieceSize = 524288;

// Client-wide piece size of blob reads and writes.
uint32_t nxBlobPieceSize();
void nxSetBlobPieceSize(uint32_t bytes);

class TnxRemoteServerEngine : public TnxStateComponent {
 public:
  explicit TnxRemoteServerEngine(std::string name = {});
  ~TnxRemoteServerEngine() override;

  TnxBaseTransport* Transport() const { return transport_; }
  // Another transport while started: "This component must be inactive ...".
  void SetTransport(TnxBaseTransport* transport);

  bool CacheAliases() const { return cache_aliases_; }
  // Switching it off clears every session's alias cache.
  void SetCacheAliases(bool cache);

  // Logs in through the transport; the session exists only when the result is 0.
  uint32_t SessionOpen(const std::string& user_name, const std::string& password, uint32_t timeout,
                       std::unique_ptr<TnxRemoteSession>& session);

  // Marks the alias cache of every session invalid.
  void InvalidateAliasCaches();

  size_t SessionCount() const;

  [[noreturn]] void RaiseError(const std::string& text, uint32_t code = 0) const override;

 protected:
  void DoStart() override;
  void LinkedComponentDestroyed(TnxStateComponent* other) override;

 private:
  friend class TnxRemoteSession;
  void AddSession(TnxRemoteSession* s);
  void RemoveSession(TnxRemoteSession* s);

  TnxBaseTransport* transport_ = nullptr;
  bool cache_aliases_ = false;
  mutable std::mutex sessions_mutex_;
  std::vector<TnxRemoteSession*> sessions_;
};

// One entry of a session's reply queue.
struct TnxReplyRecord {
  uint32_t message_id = 0;
  const void* requester = nullptr;
  uint32_t session_id = 0;
  uint32_t result = 0;
  Bytes data;
};

// Common part of every object that lives on the server: its id, its timeout and the
// session whose request primitive it uses. Not copyable.
class TnxRemoteObject {
 public:
  TnxRemoteObject(TnxRemoteSession* session, int32_t id, uint32_t timeout);
  virtual ~TnxRemoteObject();
  TnxRemoteObject(const TnxRemoteObject&) = delete;
  TnxRemoteObject& operator=(const TnxRemoteObject&) = delete;

  int32_t Id() const { return id_; }
  uint32_t Timeout() const { return timeout_; }
  TnxRemoteSession* Session() const { return session_; }
  bool Bound() const { return session_ != nullptr; }

 protected:
  // Sends one request from this object; `reply` may be null when none is wanted.
  uint32_t Send(uint16_t message_id, std::string_view payload, Bytes* reply = nullptr) const;
  // Sends the close request (errors swallowed) when still bound. Called by destructors.
  void SendClose(uint16_t message_id) noexcept;
  // Sends the set-timeout request when `timeout` differs from the current one.
  uint32_t ChangeTimeout(uint16_t message_id, uint32_t timeout);
  void SetId(int32_t id) { id_ = id; }

 private:
  friend class TnxRemoteSession;
  TnxRemoteSession* session_;
  int32_t id_;
  uint32_t timeout_;
};

class TnxRemoteSession {
 public:
  TnxRemoteSession(TnxRemoteServerEngine* engine, uint32_t session_id, uint32_t timeout);
  // Asks the transport to close the server session (errors ignored), unbinds the objects
  // still alive and frees the queue.
  ~TnxRemoteSession();
  TnxRemoteSession(const TnxRemoteSession&) = delete;
  TnxRemoteSession& operator=(const TnxRemoteSession&) = delete;

  uint32_t SessionId() const { return session_id_; }
  uint32_t Timeout() const { return timeout_; }
  TnxRemoteServerEngine* Engine() const { return engine_; }

  // The request primitive. `reply` (may be null) receives the reply bytes, emptied first.
  uint32_t Request(const void* requester, uint32_t message_id, std::string_view payload,
                   uint32_t timeout, Bytes* reply);

  uint32_t SetTimeout(uint32_t timeout);

  // DatabaseOpen with "Name" and an alias name, or "Path" and a path.
  uint32_t DatabaseOpen(bool by_path, const std::string& alias, uint8_t open_mode,
                        uint8_t share_mode, uint32_t timeout,
                        std::unique_ptr<TnxRemoteDatabase>& database);

  uint32_t AliasAdd(const std::string& alias, const std::string& path);
  uint32_t AliasDelete(const std::string& alias);
  uint32_t AliasModify(const std::string& alias, const std::string& new_name,
                       const std::string& new_path);
  uint32_t AliasList(std::vector<AliasEntry>& aliases);
  uint32_t AliasGetPath(const std::string& alias, std::string& path);
  void InvalidateAliasCache() { alias_cache_valid_ = false; }

  size_t QueuedReplies() const { return queue_.size(); }

 private:
  friend class TnxRemoteObject;
  static void ReplyCallback(uint32_t message_id, uint32_t error_code, const char* data,
                            uint32_t length, void* cookie);
  // Moves the queue front out into `entry`, expanding a batch first; false when empty.
  bool TakeFront(TnxReplyRecord& entry);
  void Attach(TnxRemoteObject* object);
  void Detach(TnxRemoteObject* object);
  uint32_t AliasChanged(uint32_t code);

  TnxRemoteServerEngine* engine_;
  uint32_t session_id_;
  uint32_t timeout_;
  std::deque<TnxReplyRecord> queue_;
  std::vector<AliasEntry> alias_cache_;
  bool alias_cache_valid_ = false;
  std::mutex children_mutex_;
  std::vector<TnxRemoteObject*> children_;
};

class TnxRemoteDatabase : public TnxRemoteObject {
 public:
  using TnxRemoteObject::TnxRemoteObject;
  ~TnxRemoteDatabase() override;  // DatabaseClose, errors swallowed

  uint32_t SetTimeout(uint32_t timeout);
  uint32_t TransactionStart(bool fail_safe);
  // Every cursor must be a cursor of this database (else 9990, nothing sent).
  uint32_t TransactionStartWith(bool fail_safe, const std::vector<TnxRemoteCursor*>& cursors);
  uint32_t TransactionCommit();
  uint32_t TransactionRollback();
  uint32_t TransactionLevel(int32_t& level);

  // TableOpen; the cursor keeps its own copy of the dictionary, also copied to
  // `dictionary` when given.
  uint32_t TableOpen(const std::string& table_name, uint8_t open_mode, uint8_t share_mode,
                     uint32_t timeout, std::unique_ptr<TnxRemoteCursor>& cursor,
                     TnxDataDictionary* dictionary = nullptr);
  uint32_t TableExists(const std::string& table_name, bool& exists);
  uint32_t TableList(std::vector<std::string>& tables);
  uint32_t TableGetDictionary(const std::string& table_name, TnxDataDictionary& dictionary);
  uint32_t TableCreate(const std::string& table_name, const TnxDataDictionary& dictionary,
                       bool flag = false);
  uint32_t TableRename(const std::string& old_name, const std::string& new_name);
  uint32_t StatementAlloc(uint32_t timeout, std::unique_ptr<TnxRemoteStatement>& statement);
};

class TnxRemoteCursor : public TnxRemoteObject {
 public:
  // Takes a copy of `dictionary`.
  TnxRemoteCursor(TnxRemoteSession* session, const TnxRemoteDatabase* database, int32_t id,
                  int32_t index_number, uint32_t timeout, const TnxDataDictionary& dictionary);
  ~TnxRemoteCursor() override;  // CursorClose, errors swallowed

  const TnxDataDictionary& Dictionary() const { return dictionary_; }
  const TnxRemoteDatabase* Database() const { return database_; }
  int32_t IndexNumber() const { return index_number_; }
  int32_t RecordLength() const { return dictionary_.RecordLength(); }
  int32_t BookmarkSize() const { return dictionary_.BookmarkSize(index_number_); }

  uint32_t SetTimeout(uint32_t timeout);
  uint32_t FilterSetTimeout(uint32_t ms);

  uint32_t SetToBegin();
  uint32_t SetToEnd();
  // The other cursor must belong to the same session (else 10020, nothing sent); a cursor
  // set to itself sends nothing.
  uint32_t SetToCursor(const TnxRemoteCursor& other);
  uint32_t GetBookmark(Bytes& bookmark);
  uint32_t SetToBookmark(std::string_view bookmark);
  uint32_t CompareBookmarks(std::string_view first, std::string_view second, int& result);

  // RecordGet / RecordGetNext / RecordGetPrior. With `record` null the length wanted is 0.
  uint32_t RecordGet(uint16_t message_id, uint8_t lock_mode, Bytes* record);
  uint32_t RecordInsert(uint8_t lock_mode, std::string_view record);
  uint32_t RecordModify(std::string_view record, bool release_lock = true);
  uint32_t RecordDelete(Bytes* old_record = nullptr);
  uint32_t RecordRelLock(bool all_locks);
  uint32_t RecordGetForKey(int32_t field_count, int32_t partial_length, std::string_view key,
                           bool first_call, Bytes* record);
  // Positions on the first record that the serialised filter expression matches.
  uint32_t Locate(std::string_view expression);

  // CursorSwitchToIndex by name (number -1) or number; the new index number is kept.
  uint32_t SwitchToIndex(const std::string& index_name, int32_t index_number, bool keep_position);
  uint32_t SetRange(const RangeEnd& start, const RangeEnd& end);
  uint32_t ResetRange();
  uint32_t RecordCount(int32_t& count);
  uint32_t Clone(uint8_t open_mode, std::unique_ptr<TnxRemoteCursor>& clone);

  uint32_t BlobCreate(int64_t& blob);
  uint32_t BlobRelease(int64_t blob);
  uint32_t BlobGetLength(int64_t blob, int32_t& length);
  uint32_t BlobTruncate(int64_t blob, int32_t length);
  // Reads up to `length` bytes from `offset` in pieces; 9998 on a piece ends the read
  // without an error, 8711 still delivers its bytes; `data` receives what came.
  uint32_t BlobRead(int64_t blob, int32_t offset, int32_t length, Bytes& data);
  // Writes in pieces of the client-wide piece size.
  uint32_t BlobWrite(int64_t blob, int32_t offset, std::string_view data);

 private:
  const TnxRemoteDatabase* database_;
  int32_t index_number_;
  uint32_t filter_timeout_ = 500;
  TnxDataDictionary dictionary_;
};

class TnxRemoteStatement : public TnxRemoteObject {
 public:
  using TnxRemoteObject::TnxRemoteObject;
  ~TnxRemoteStatement() override;  // StatementClose, errors swallowed
  uint32_t SetTimeout(uint32_t timeout);
};

class TnxRemoteTaskInfo : public TnxRemoteObject {
 public:
  using TnxRemoteObject::TnxRemoteObject;
  ~TnxRemoteTaskInfo() override;  // TaskClose, errors swallowed
  uint32_t GetStatus(Bytes& status_record, uint8_t& status);
  uint32_t Cancel();
};

}  // namespace vantera
