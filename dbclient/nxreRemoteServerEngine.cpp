#include "dbclient/nxreRemoteServerEngine.h"

#include <algorithm>
#include <atomic>

#include "protocol/nxllException.h"
#include "protocol/tagged_stream.h"

namespace vantera {

namespace {

std::atomic<uint32_t> g_blob_piece_size{kDefaultBlobPieceSize};

// "End of BLOB.": the last piece of a read, still carrying its bytes.
constexpr uint32_t kEndOfBlob = 8711;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lx = static_cast<unsigned char>(x), ly = static_cast<unsigned char>(y);
           if (lx >= 'A' && lx <= 'Z')
             lx = static_cast<unsigned char>(lx + 32);
           if (ly >= 'A' && ly <= 'Z')
             ly = static_cast<unsigned char>(ly + 32);
           return lx == ly;
         });
}

// What the transport's reply callback needs to queue a reply.
struct ReplyCookie {
  TnxRemoteSession* session;
  std::deque<TnxReplyRecord>* queue;
  const void* requester;
};

}  // namespace

uint32_t nxBlobPieceSize() {
  return g_blob_piece_size.load();
}
void nxSetBlobPieceSize(uint32_t bytes) {
  g_blob_piece_size.store(bytes);
}

// ===================================== engine =====================================

TnxRemoteServerEngine::TnxRemoteServerEngine(std::string name)
    : TnxStateComponent(std::move(name)) {}

TnxRemoteServerEngine::~TnxRemoteServerEngine() {
  Close();
}

void TnxRemoteServerEngine::SetTransport(TnxBaseTransport* transport) {
  if (transport == transport_)
    return;
  CheckInactive();
  if (transport_)
    RemoveDependency(transport_);
  transport_ = transport;
  if (transport_)
    DependOn(transport_);
}

void TnxRemoteServerEngine::SetCacheAliases(bool cache) {
  if (cache_aliases_ && !cache)
    InvalidateAliasCaches();
  cache_aliases_ = cache;
}

void TnxRemoteServerEngine::InvalidateAliasCaches() {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  for (TnxRemoteSession* s : sessions_)
    s->InvalidateAliasCache();
}

size_t TnxRemoteServerEngine::SessionCount() const {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  return sessions_.size();
}

void TnxRemoteServerEngine::AddSession(TnxRemoteSession* s) {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  sessions_.push_back(s);
}

void TnxRemoteServerEngine::RemoveSession(TnxRemoteSession* s) {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), s), sessions_.end());
}

uint32_t TnxRemoteServerEngine::SessionOpen(const std::string& user_name,
                                            const std::string& password, uint32_t timeout,
                                            std::unique_ptr<TnxRemoteSession>& session) {
  session.reset();
  if (!transport_)
    return nxcode::kLostCommunication;
  uint32_t session_id = 0;
  uint32_t code = 0;
  try {
    code = transport_->EstablishSession(0, user_name, password, timeout, session_id);
  } catch (...) {
    code = nxConvertException(std::current_exception(), this);
  }
  if (code == 0)
    session = std::make_unique<TnxRemoteSession>(this, session_id, timeout);
  return code;
}

void TnxRemoteServerEngine::DoStart() {
  if (!transport_)
    RaiseError("Transport required");
}

void TnxRemoteServerEngine::LinkedComponentDestroyed(TnxStateComponent* other) {
  if (other == transport_) {
    transport_ = nullptr;
    Close();
  }
}

void TnxRemoteServerEngine::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxRemoteServerEngineException(this, text, code);
}

// ===================================== objects =====================================

TnxRemoteObject::TnxRemoteObject(TnxRemoteSession* session, int32_t id, uint32_t timeout)
    : session_(session), id_(id), timeout_(timeout) {
  if (session_)
    session_->Attach(this);
}

TnxRemoteObject::~TnxRemoteObject() {
  if (session_)
    session_->Detach(this);
}

uint32_t TnxRemoteObject::Send(uint16_t message_id, std::string_view payload, Bytes* reply) const {
  if (!session_)
    return nxcode::kInvalidHandle;
  return session_->Request(this, message_id, payload, timeout_, reply);
}

void TnxRemoteObject::SendClose(uint16_t message_id) noexcept {
  if (!session_)
    return;
  try {
    (void)Send(message_id, ObjectRequest{id_}.Encode());
  } catch (...) {
    // Destroying never fails: a lost connection or any other error is dropped here.
  }
}

uint32_t TnxRemoteObject::ChangeTimeout(uint16_t message_id, uint32_t timeout) {
  if (timeout == timeout_)
    return 0;
  uint32_t code = Send(message_id, ObjectInt32Request{id_, static_cast<int32_t>(timeout)}.Encode());
  if (code == 0)
    timeout_ = timeout;
  return code;
}

// ===================================== session =====================================

TnxRemoteSession::TnxRemoteSession(TnxRemoteServerEngine* engine, uint32_t session_id,
                                   uint32_t timeout)
    : engine_(engine), session_id_(session_id), timeout_(timeout) {
  engine_->AddSession(this);
}

TnxRemoteSession::~TnxRemoteSession() {
  {
    std::lock_guard<std::mutex> lock(children_mutex_);
    for (TnxRemoteObject* child : children_)
      child->session_ = nullptr;
    children_.clear();
  }
  if (TnxBaseTransport* transport = engine_->Transport()) {
    try {
      transport->CloseSession(0, session_id_, timeout_);
    } catch (...) {
      // Closing the server session is best effort; the server drops it with the transport.
    }
  }
  engine_->RemoveSession(this);
}

void TnxRemoteSession::Attach(TnxRemoteObject* object) {
  std::lock_guard<std::mutex> lock(children_mutex_);
  children_.push_back(object);
}

void TnxRemoteSession::Detach(TnxRemoteObject* object) {
  std::lock_guard<std::mutex> lock(children_mutex_);
  children_.erase(std::remove(children_.begin(), children_.end(), object), children_.end());
}

void TnxRemoteSession::ReplyCallback(uint32_t message_id, uint32_t error_code, const char* data,
                                     uint32_t length, void* cookie) {
  auto* c = static_cast<ReplyCookie*>(cookie);
  TnxReplyRecord r;
  r.message_id = message_id;
  r.requester = c->requester;
  r.session_id = c->session->session_id_;
  r.result = error_code;
  if (data && length > 0)
    r.data.assign(data, length);
  c->queue->push_back(std::move(r));
}

bool TnxRemoteSession::TakeFront(TnxReplyRecord& entry) {
  if (queue_.empty())
    return false;
  if (queue_.front().message_id == nxmsg::kBatchReply) {
    std::vector<SubReply> subs;
    try {
      subs = DecodeBatchReply(queue_.front().data);
    } catch (const DecodeError&) {
      subs.clear();  // a malformed batch stays as it is and matches no request
    }
    if (!subs.empty()) {
      TnxReplyRecord batch = std::move(queue_.front());
      queue_.pop_front();
      if (subs.front().result != 0)
        subs.resize(1);
      for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        TnxReplyRecord r;
        r.message_id = it->message_id;
        r.requester = batch.requester;
        r.session_id = batch.session_id;
        r.result = it->result;
        r.data = std::move(it->data);
        queue_.push_front(std::move(r));
      }
    }
  }
  entry = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

uint32_t TnxRemoteSession::Request(const void* requester, uint32_t message_id,
                                   std::string_view payload, uint32_t timeout, Bytes* reply) {
  if (reply)
    reply->clear();
  TnxReplyRecord entry;
  bool found = false;
  while (TakeFront(entry)) {
    if (entry.message_id == message_id && entry.requester == requester) {
      found = true;
      break;
    }
  }
  if (!found) {
    TnxBaseTransport* transport = engine_->Transport();
    if (!transport)
      return nxcode::kLostCommunication;
    ReplyCookie cookie{this, &queue_, requester};
    try {
      transport->Request(0, session_id_, message_id, payload.data(),
                         static_cast<uint32_t>(payload.size()), timeout, &ReplyCallback, &cookie);
    } catch (...) {
      return nxConvertException(std::current_exception(), engine_);
    }
    if (!TakeFront(entry))
      return nxcode::kNotApplicable;
    if (entry.message_id != message_id)
      return nxcode::kMessageUnrecognized;
  }
  if (reply)
    *reply = std::move(entry.data);
  return entry.result;
}

uint32_t TnxRemoteSession::SetTimeout(uint32_t timeout) {
  if (timeout == timeout_)
    return 0;
  uint32_t code =
      Request(this, nxmsg::kSessionSetTimeout,
              SessionSetTimeoutRequest{static_cast<int32_t>(timeout)}.Encode(), timeout_, nullptr);
  if (code == 0)
    timeout_ = timeout;
  return code;
}

uint32_t TnxRemoteSession::DatabaseOpen(bool by_path, const std::string& alias, uint8_t open_mode,
                                        uint8_t share_mode, uint32_t timeout,
                                        std::unique_ptr<TnxRemoteDatabase>& database) {
  database.reset();
  DatabaseOpenRequest q{by_path ? "Path" : "Name", alias, open_mode, share_mode,
                        static_cast<int32_t>(timeout)};
  Bytes reply;
  uint32_t code = Request(this, nxmsg::kDatabaseOpen, q.Encode(), timeout_, &reply);
  if (code != 0)
    return code;
  try {
    database = std::make_unique<TnxRemoteDatabase>(this, DecodeInt32Reply(reply), timeout);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteSession::AliasChanged(uint32_t code) {
  alias_cache_valid_ = false;
  engine_->InvalidateAliasCaches();
  return code;
}

uint32_t TnxRemoteSession::AliasAdd(const std::string& alias, const std::string& path) {
  return AliasChanged(Request(this, nxmsg::kAliasAdd,
                              NamesRequest{false, 0, {alias, path}}.Encode(), timeout_, nullptr));
}

uint32_t TnxRemoteSession::AliasDelete(const std::string& alias) {
  return AliasChanged(Request(this, nxmsg::kAliasDelete, NamesRequest{false, 0, {alias}}.Encode(),
                              timeout_, nullptr));
}

uint32_t TnxRemoteSession::AliasModify(const std::string& alias, const std::string& new_name,
                                       const std::string& new_path) {
  return AliasChanged(Request(this, nxmsg::kAliasModify,
                              NamesRequest{false, 0, {alias, new_name, new_path}}.Encode(),
                              timeout_, nullptr));
}

uint32_t TnxRemoteSession::AliasList(std::vector<AliasEntry>& aliases) {
  if (engine_->CacheAliases() && alias_cache_valid_) {
    aliases = alias_cache_;
    return 0;
  }
  Bytes reply;
  uint32_t code = Request(this, nxmsg::kAliasList, EncodeEmpty(), timeout_, &reply);
  if (code != 0)
    return code;
  try {
    aliases = DecodeAliasListReply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  if (engine_->CacheAliases()) {
    alias_cache_ = aliases;
    alias_cache_valid_ = true;
  }
  return 0;
}

uint32_t TnxRemoteSession::AliasGetPath(const std::string& alias, std::string& path) {
  if (engine_->CacheAliases() && alias_cache_valid_) {
    for (const auto& e : alias_cache_) {
      if (SameText(e.name, alias)) {
        path = e.path;
        return 0;
      }
    }
    return nxcode::kUnknownDatabase;
  }
  Bytes reply;
  uint32_t code = Request(this, nxmsg::kAliasGetPath, NamesRequest{false, 0, {alias}}.Encode(),
                          timeout_, &reply);
  if (code != 0)
    return code;
  try {
    path = DecodeShortStringReply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

// ===================================== database =====================================

TnxRemoteDatabase::~TnxRemoteDatabase() {
  SendClose(nxmsg::kDatabaseClose);
}

uint32_t TnxRemoteDatabase::SetTimeout(uint32_t timeout) {
  return ChangeTimeout(nxmsg::kDatabaseSetTimeout, timeout);
}

uint32_t TnxRemoteDatabase::TransactionStart(bool fail_safe) {
  return Send(nxmsg::kTransactionStart,
              TransactionStartRequest{Id(), static_cast<uint8_t>(fail_safe ? 1 : 0), 0}.Encode());
}

uint32_t TnxRemoteDatabase::TransactionStartWith(bool fail_safe,
                                                 const std::vector<TnxRemoteCursor*>& cursors) {
  TransactionStartWithRequest q{Id(), fail_safe, false, {}};
  for (const TnxRemoteCursor* c : cursors) {
    if (!c || c->Database() != this)
      return nxcode::kInvalidHandle;
    q.cursor_ids.push_back(c->Id());
  }
  return Send(nxmsg::kTransactionStartWith, q.Encode());
}

uint32_t TnxRemoteDatabase::TransactionCommit() {
  return Send(nxmsg::kTransactionCommit, ObjectRequest{Id()}.Encode());
}

uint32_t TnxRemoteDatabase::TransactionRollback() {
  return Send(nxmsg::kTransactionRollback, ObjectRequest{Id()}.Encode());
}

uint32_t TnxRemoteDatabase::TransactionLevel(int32_t& level) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kTransactionLevel, ObjectRequest{Id()}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    level = DecodeInt32Reply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteDatabase::TableOpen(const std::string& table_name, uint8_t open_mode,
                                      uint8_t share_mode, uint32_t timeout,
                                      std::unique_ptr<TnxRemoteCursor>& cursor,
                                      TnxDataDictionary* dictionary) {
  cursor.reset();
  TableOpenRequest q{Id(), table_name, open_mode, share_mode, static_cast<int32_t>(timeout)};
  Bytes reply;
  uint32_t code = Send(nxmsg::kTableOpen, q.Encode(), &reply);
  if (code != 0)
    return code;
  TableOpenReply r;
  TnxDataDictionary temporary;
  TnxDataDictionary& dict = dictionary ? *dictionary : temporary;
  try {
    r = TableOpenReply::Decode(reply);
    dict.ReadFromBytes(r.dictionary);
  } catch (const DecodeError&) {
    return nxcode::kIncompatibleStream;
  } catch (...) {
    return nxExceptionToCode(std::current_exception());
  }
  cursor = std::make_unique<TnxRemoteCursor>(Session(), this, r.cursor_id, r.index_number, timeout,
                                             dict);
  return 0;
}

uint32_t TnxRemoteDatabase::TableExists(const std::string& table_name, bool& exists) {
  Bytes reply;
  uint32_t code =
      Send(nxmsg::kTableExists, NamesRequest{true, Id(), {table_name}}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    exists = DecodeByteReply(reply) != 0;
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteDatabase::TableList(std::vector<std::string>& tables) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kTableList, ObjectRequest{Id()}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    tables = DecodeTableListReply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteDatabase::TableGetDictionary(const std::string& table_name,
                                               TnxDataDictionary& dictionary) {
  Bytes reply;
  uint32_t code =
      Send(nxmsg::kTableGetDictionary, NamesRequest{true, Id(), {table_name}}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    dictionary.ReadFromBytes(reply);
  } catch (...) {
    return nxExceptionToCode(std::current_exception());
  }
  return 0;
}

uint32_t TnxRemoteDatabase::TableCreate(const std::string& table_name,
                                        const TnxDataDictionary& dictionary, bool flag) {
  if (table_name.empty())
    return nxcode::kTableDoesNotExist;
  return Send(nxmsg::kTableCreate,
              TableCreateRequest{Id(), flag, table_name, dictionary.ToBytes()}.Encode());
}

uint32_t TnxRemoteDatabase::TableRename(const std::string& old_name, const std::string& new_name) {
  return Send(nxmsg::kTableRename, NamesRequest{true, Id(), {old_name, new_name}}.Encode());
}

uint32_t TnxRemoteDatabase::StatementAlloc(uint32_t timeout,
                                           std::unique_ptr<TnxRemoteStatement>& statement) {
  statement.reset();
  Bytes reply;
  uint32_t code = Send(nxmsg::kStatementAlloc,
                       ObjectInt32Request{Id(), static_cast<int32_t>(timeout)}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    statement = std::make_unique<TnxRemoteStatement>(Session(), DecodeInt32Reply(reply), timeout);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

// ===================================== cursor =====================================

TnxRemoteCursor::TnxRemoteCursor(TnxRemoteSession* session, const TnxRemoteDatabase* database,
                                 int32_t id, int32_t index_number, uint32_t timeout,
                                 const TnxDataDictionary& dictionary)
    : TnxRemoteObject(session, id, timeout), database_(database), index_number_(index_number) {
  dictionary_.Assign(dictionary);
}

TnxRemoteCursor::~TnxRemoteCursor() {
  SendClose(nxmsg::kCursorClose);
}

uint32_t TnxRemoteCursor::SetTimeout(uint32_t timeout) {
  return ChangeTimeout(nxmsg::kCursorSetTimeout, timeout);
}

uint32_t TnxRemoteCursor::FilterSetTimeout(uint32_t ms) {
  if (ms == filter_timeout_)
    return 0;
  uint32_t code =
      Send(nxmsg::kFilterSetTimeout, ObjectInt32Request{Id(), static_cast<int32_t>(ms)}.Encode());
  if (code == 0)
    filter_timeout_ = ms;
  return code;
}

uint32_t TnxRemoteCursor::SetToBegin() {
  return Send(nxmsg::kCursorSetToBegin, ObjectRequest{Id()}.Encode());
}

uint32_t TnxRemoteCursor::SetToEnd() {
  return Send(nxmsg::kCursorSetToEnd, ObjectRequest{Id()}.Encode());
}

uint32_t TnxRemoteCursor::SetToCursor(const TnxRemoteCursor& other) {
  if (&other == this)
    return 0;
  if (other.Session() != Session())
    return nxcode::kCursorOfOtherTable;
  return Send(nxmsg::kCursorSetToCursor, ObjectInt32Request{Id(), other.Id()}.Encode());
}

uint32_t TnxRemoteCursor::GetBookmark(Bytes& bookmark) {
  int32_t size = BookmarkSize();
  uint32_t code =
      Send(nxmsg::kCursorGetBookmark, ObjectInt32Request{Id(), size}.Encode(), &bookmark);
  if (code == 0 && bookmark.size() != static_cast<size_t>(size))
    return nxcode::kMessageUnrecognized;
  return code;
}

uint32_t TnxRemoteCursor::SetToBookmark(std::string_view bookmark) {
  return Send(nxmsg::kCursorSetToBookmark, BookmarksRequest{Id(), {Bytes(bookmark)}}.Encode());
}

uint32_t TnxRemoteCursor::CompareBookmarks(std::string_view first, std::string_view second,
                                           int& result) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kCursorCompareBookmarks,
                       BookmarksRequest{Id(), {Bytes(first), Bytes(second)}}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    result = static_cast<int8_t>(DecodeByteReply(reply));
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteCursor::RecordGet(uint16_t message_id, uint8_t lock_mode, Bytes* record) {
  RecordGetRequest q{Id(), lock_mode, static_cast<uint16_t>(record ? RecordLength() : 0),
                     static_cast<uint16_t>(BookmarkSize())};
  uint32_t code = Send(message_id, q.Encode(), record);
  if (code == 0 && record && record->size() != static_cast<size_t>(RecordLength()))
    return nxcode::kMessageUnrecognized;
  return code;
}

uint32_t TnxRemoteCursor::RecordInsert(uint8_t lock_mode, std::string_view record) {
  RecordWriteRequest q{Id(), lock_mode, true, Bytes(record), BookmarkSize()};
  return Send(nxmsg::kRecordInsert, q.Encode(nxmsg::kRecordInsert));
}

uint32_t TnxRemoteCursor::RecordModify(std::string_view record, bool release_lock) {
  RecordWriteRequest q{Id(), 0, release_lock, Bytes(record), BookmarkSize()};
  return Send(nxmsg::kRecordModify, q.Encode(nxmsg::kRecordModify));
}

uint32_t TnxRemoteCursor::RecordDelete(Bytes* old_record) {
  RecordDeleteRequest q{Id(), static_cast<uint16_t>(old_record ? RecordLength() : 0)};
  return Send(nxmsg::kRecordDelete, q.Encode(), old_record);
}

uint32_t TnxRemoteCursor::RecordRelLock(bool all_locks) {
  return Send(nxmsg::kRecordRelLock,
              ObjectByteRequest{Id(), static_cast<uint8_t>(all_locks ? 1 : 0)}.Encode());
}

uint32_t TnxRemoteCursor::Locate(std::string_view expression) {
  return Send(nxmsg::kCursorLocate, ObjectBytesRequest{Id(), Bytes(expression)}.Encode());
}

uint32_t TnxRemoteCursor::RecordGetForKey(int32_t field_count, int32_t partial_length,
                                          std::string_view key, bool first_call, Bytes* record) {
  RecordGetForKeyRequest q{Id(),
                           field_count,
                           partial_length,
                           static_cast<uint8_t>(first_call ? 1 : 0),
                           static_cast<uint16_t>(record ? RecordLength() : 0),
                           static_cast<uint16_t>(record ? BookmarkSize() : 0),
                           Bytes(key)};
  uint32_t code = Send(nxmsg::kRecordGetForKey, q.Encode(), record);
  if (code == 0 && record && record->size() != static_cast<size_t>(RecordLength()))
    return nxcode::kMessageUnrecognized;
  return code;
}

uint32_t TnxRemoteCursor::SwitchToIndex(const std::string& index_name, int32_t index_number,
                                        bool keep_position) {
  Bytes reply;
  CursorSwitchToIndexRequest q{Id(), index_name, index_number,
                               static_cast<uint8_t>(keep_position ? 1 : 0)};
  uint32_t code = Send(nxmsg::kCursorSwitchToIndex, q.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    int32_t n = DecodeInt32Reply(reply);
    if (n < -1 || n >= dictionary_.IndexCount())
      return nxcode::kMessageUnrecognized;
    index_number_ = n;
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteCursor::SetRange(const RangeEnd& start, const RangeEnd& end) {
  return Send(nxmsg::kCursorSetRange, CursorSetRangeRequest{Id(), start, end}.Encode());
}

uint32_t TnxRemoteCursor::ResetRange() {
  return Send(nxmsg::kCursorResetRange, ObjectRequest{Id()}.Encode());
}

uint32_t TnxRemoteCursor::RecordCount(int32_t& count) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kCursorRecordCount, ObjectRequest{Id()}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    count = DecodeInt32Reply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteCursor::Clone(uint8_t open_mode, std::unique_ptr<TnxRemoteCursor>& clone) {
  clone.reset();
  Bytes reply;
  uint32_t code = Send(nxmsg::kCursorClone, ObjectByteRequest{Id(), open_mode}.Encode(), &reply);
  if (code != 0)
    return code;
  CursorCloneReply r;
  try {
    r = CursorCloneReply::Decode(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  clone = std::make_unique<TnxRemoteCursor>(Session(), database_, r.cursor_id, r.index_number,
                                            Timeout(), dictionary_);
  return 0;
}

uint32_t TnxRemoteCursor::BlobCreate(int64_t& blob) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kBlobCreate, ObjectRequest{Id()}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    blob = DecodeInt64Reply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteCursor::BlobRelease(int64_t blob) {
  return Send(nxmsg::kBlobRelease, BlobRequest{Id(), blob}.Encode());
}

uint32_t TnxRemoteCursor::BlobGetLength(int64_t blob, int32_t& length) {
  Bytes reply;
  uint32_t code = Send(nxmsg::kBlobGetLength, BlobRequest{Id(), blob}.Encode(), &reply);
  if (code != 0)
    return code;
  try {
    length = DecodeInt32Reply(reply);
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return length < 0 ? nxcode::kMessageUnrecognized : 0;
}

uint32_t TnxRemoteCursor::BlobTruncate(int64_t blob, int32_t length) {
  return Send(nxmsg::kBlobTruncate, BlobTruncateRequest{Id(), blob, length}.Encode());
}

uint32_t TnxRemoteCursor::BlobRead(int64_t blob, int32_t offset, int32_t length, Bytes& data) {
  data.clear();
  if (offset < 0 || length < 0)
    return nxcode::kInvalidParameter;
  uint32_t piece_limit = nxBlobPieceSize();
  int64_t done = 0;
  while (done < length) {
    int64_t want = length - done;
    if (piece_limit != 0 && want > piece_limit)
      want = piece_limit;
    Bytes reply;
    BlobReadRequest q{Id(), blob, static_cast<int32_t>(offset + done), static_cast<int32_t>(want)};
    uint32_t code = Send(nxmsg::kBlobRead, q.Encode(), &reply);
    if (code == nxcode::kInvalidBlobOffset)
      return 0;  // at or past the end: no more bytes, not an error
    if (code != 0 && code != kEndOfBlob)
      return code;
    std::string_view piece;
    try {
      piece = DecodeBlobReadReply(reply);
    } catch (const DecodeError&) {
      return nxcode::kMessageUnrecognized;
    }
    if (piece.size() > static_cast<size_t>(want))
      return nxcode::kMessageUnrecognized;
    data.append(piece);
    done += static_cast<int64_t>(piece.size());
    if (code == kEndOfBlob || piece.size() < static_cast<size_t>(want))
      break;
  }
  return 0;
}

uint32_t TnxRemoteCursor::BlobWrite(int64_t blob, int32_t offset, std::string_view data) {
  if (offset < 0)
    return nxcode::kInvalidParameter;
  uint32_t piece_limit = nxBlobPieceSize();
  size_t done = 0;
  do {
    size_t n = data.size() - done;
    if (piece_limit != 0 && n > piece_limit)
      n = piece_limit;
    BlobWriteRequest q{Id(), blob, static_cast<int32_t>(offset + static_cast<int64_t>(done)),
                       Bytes(data.substr(done, n))};
    uint32_t code = Send(nxmsg::kBlobWrite, q.Encode());
    if (code != 0)
      return code;
    done += n;
  } while (done < data.size());
  return 0;
}

// ===================================== statements and tasks =====================================

TnxRemoteStatement::~TnxRemoteStatement() {
  SendClose(nxmsg::kStatementClose);
}

uint32_t TnxRemoteStatement::SetTimeout(uint32_t timeout) {
  return ChangeTimeout(nxmsg::kStatementSetTimeout, timeout);
}

TnxRemoteTaskInfo::~TnxRemoteTaskInfo() {
  SendClose(nxmsg::kTaskClose);
}

uint32_t TnxRemoteTaskInfo::GetStatus(Bytes& status_record, uint8_t& status) {
  uint32_t code = Send(nxmsg::kTaskGetStatus, ObjectRequest{Id()}.Encode(), &status_record);
  if (code != 0)
    return code;
  try {
    status = static_cast<uint8_t>(DecodeTaskStatusReply(status_record).back());
  } catch (const DecodeError&) {
    return nxcode::kMessageUnrecognized;
  }
  return 0;
}

uint32_t TnxRemoteTaskInfo::Cancel() {
  return Send(nxmsg::kTaskCancel, ObjectRequest{Id()}.Encode());
}

}  // namespace vantera
