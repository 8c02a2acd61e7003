// Session, database and table cursor components over the remote engine.
//
// TnxSession -> TnxDatabase -> TnxTable: each is a state component that depends on the one
// before it (and the session on its TnxRemoteServerEngine), so opening a table opens its
// database, session, engine and transport in that order, and closing one closes what
// depends on it first. Every non-zero code of a request becomes EnxDatabaseError on the
// component that sent it ("KantaDB: NAME: TEXT [$CODE/DEC]").
//
// A table cursor keeps one row buffer (the active row) and a flag saying whether the
// server cursor stands on it (the current row). Rows are fetched when first needed: an
// open table or a freshly applied range owes a forward fetch from the beginning, paid by
// the first operation that needs the row. Before edit, post, delete, cancel and dropping
// a range, a row that is not current is made current again by its bookmark flag.
//
// Reconnecting: once the transport chain beneath a session has lost its server (a broken
// or silent connection, a failed transport), the next table that opens first closes the
// whole chain and the session and opens them again, once, quietly (TnxSession::Reconnect);
// when the loss shows only in that table's first request, the reconnect comes then and
// the request is sent once more. Tables that were open are closed by the reconnect, so a
// cursor of the lost session is never used again: their operations raise "Cannot perform
// this operation on a closed dataset". Only when reopening fails does the operation see
// an error: the code of that failure. Each reconnect writes one line through OnReconnect.
//
// Dataset states:
//   Inactive --Open--> Browse --Edit--> Edit     --Post/Cancel--> Browse
//                             --Append/Insert--> Insert --Post/Cancel--> Browse
//                             --EditRangeLow/High--> SetKey --ApplyKeyRange--> Browse
//   any --Close--> Inactive (a pending edit or insert is cancelled first)
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/nxdbStreams.h"
#include "dbclient/nxreRemoteServerEngine.h"
#include "dbconn/nxllComponent.h"
#include "protocol/nxsdFieldMappers.h"
#include "protocol/nxsdIndexDefs.h"

namespace vantera {

class TnxDatabase;
class TnxDataset;
class TnxTable;
class TnxBlobCache;

// The system beep for refused logins; the program installs its own (none by default).
void nxSetBeepHandler(std::function<void()> beep);
void nxBeep();

// Base of the three database components: raises EnxDatabaseError naming itself.
class TnxDbComponent : public TnxStateComponent {
 public:
  using TnxStateComponent::TnxStateComponent;
  [[noreturn]] void RaiseError(const std::string& text, uint32_t code = 0) const override;
  // EnxDatabaseError with the table text of `code`, unless `code` is 0.
  void Check(uint32_t code) const;
};

// ---------------------------------------------------------------------------------------
class TnxSession : public TnxDbComponent {
 public:
  // Asked after a refused login: return true with new credentials to try again.
  using LoginEvent =
      std::function<bool(TnxSession& sender, std::string& user_name, std::string& password)>;

  explicit TnxSession(std::string name = {});
  ~TnxSession() override;

  TnxRemoteServerEngine* ServerEngine() const { return engine_; }
  void SetServerEngine(TnxRemoteServerEngine* engine);
  std::string UserName;
  std::string Password;
  int PasswordRetries = 3;
  bool BeepOnLoginError = true;
  LoginEvent OnLogin;

  uint32_t Timeout() const { return timeout_; }
  // On an open session sends SessionSetTimeout and passes the resolved timeouts on to the
  // databases and their cursors.
  void SetTimeout(uint32_t timeout);

  TnxRemoteSession* RemoteSession() const { return remote_.get(); }

  // Told one line for each reconnect: its outcome, in the activity log's words.
  std::function<void(const std::string& line)> OnReconnect;
  // Whether the chain lost its server: the transport says so, or a reconnect failed and
  // the chain is still to be opened again.
  bool ConnectionLost() const;
  // Gives the lost chain up (no more waits on it), closes it, which closes this session
  // and everything that depends on it, then opens the session, the databases that were
  // open and `also` (may be null) again. Raises the failure of the reopening; the chain is
  // then left closed and ConnectionLost stays true. Does nothing once the program ends
  // (InterruptDatabaseWaits was called).
  void Reconnect(TnxDatabase* also = nullptr);

  static constexpr const char* kReconnectedLine = "Tietokantayhteys avattu uudelleen.";
  static constexpr const char* kReconnectFailedLine =
      "Tietokantayhteyden avaus uudelleen ei onnistunut: ";

 protected:
  void DoStart() override;
  void DoStop() override;
  void LinkedComponentDestroyed(TnxStateComponent* other) override;

 private:
  friend class TnxDatabase;
  bool reopen_pending_ = false;  // a reconnect failed: the next one is still due
  TnxRemoteServerEngine* engine_ = nullptr;
  uint32_t timeout_ = kDefaultSessionTimeout;
  std::unique_ptr<TnxRemoteSession> remote_;
  std::vector<TnxDatabase*> databases_;
};

// ---------------------------------------------------------------------------------------
class TnxDatabase : public TnxDbComponent {
 public:
  explicit TnxDatabase(std::string name = {});
  ~TnxDatabase() override;

  TnxSession* Session() const { return session_; }
  void SetSession(TnxSession* session);
  const std::string& AliasName() const { return alias_name_; }
  const std::string& AliasPath() const { return alias_path_; }
  // Trimmed; a non-empty value clears the other one. Inactive only.
  void SetAliasName(const std::string& name);
  void SetAliasPath(const std::string& path);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);
  bool FailSafe = false;
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t timeout);  // -1: the session's
  uint32_t ResolvedTimeout() const;

  TnxRemoteDatabase* RemoteDatabase() const { return remote_.get(); }

 protected:
  void DoStart() override;
  void DoStop() override;
  void LinkedComponentDestroyed(TnxStateComponent* other) override;

 private:
  friend class TnxSession;
  friend class TnxDataset;
  void ApplyTimeout();
  TnxSession* session_ = nullptr;
  std::string alias_name_;
  std::string alias_path_;
  bool read_only_ = false;
  bool exclusive_ = false;
  int32_t timeout_ = -1;
  std::unique_ptr<TnxRemoteDatabase> remote_;
  std::vector<TnxDataset*> datasets_;
};

// ---------------------------------------------------------------------------------------
enum class TnxDataSetState { Inactive, Browse, Edit, Insert, SetKey };

// Dataset options.
enum TnxDatasetOption : uint8_t {
  dsoCacheBlobs = 1,
  dsoNoNestedTransForCachedBlobs = 2,
  dsoOptimisticLocks = 4,
};

// A field of an open dataset: its dictionary field through the field mapper.
class TnxField {
 public:
  TnxField(TnxDataset* dataset, std::string name, int field_number,
           std::unique_ptr<TnxBaseVclFieldMapper> mapper);

  const std::string& FieldName() const { return name_; }
  int FieldNumber() const { return field_number_; }  // in the dictionary, from 0
  DatasetFieldKind Kind() const { return mapper_->Kind(); }
  int32_t Size() const { return mapper_->Size(); }
  bool Required() const { return mapper_->Required(); }
  bool IsBlob() const;

  bool IsNull() const;
  FieldValue Value() const;
  // A null string field reads as the empty text; numbers read as their decimal text.
  std::string AsString() const;
  int32_t AsInteger() const;
  // The clock value: days since 30 December 1899, time of day as fraction.
  double AsDateTime() const;
  void SetValue(const FieldValue& value);
  void SetAsString(const std::string& text);  // cut to the field's size
  void SetAsInteger(int32_t value);
  void SetAsDateTime(double clock);
  void Clear();  // null

  // Blob fields: the whole content from the stream's beginning / into the stream at its
  // position (a null blob writes nothing).
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);

  // A blob field written through a stream, to be released when the buffers are freed.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

  const TnxBaseVclFieldMapper& Mapper() const { return *mapper_; }

 private:
  TnxDataset* dataset_;
  std::string name_;
  int field_number_;
  std::unique_ptr<TnxBaseVclFieldMapper> mapper_;
  bool modified_ = false;
};

// A field that the program declares: bound to the dictionary field of that name when the
// table opens, with a kind of the same family.
struct TnxDeclaredField {
  std::string name;
  DatasetFieldKind kind;
  int32_t size = 0;  // Bytes fields: must equal the server's
};

enum class TnxBlobStreamMode { Read, Write, ReadWrite };

// Row position flags: how to put the server cursor on a row.
enum class TnxBookmarkFlag : uint8_t { Current = 0, Bof = 1, Eof = 2, Inserted = 3 };

// Handles of the cursor's request operations.
class TnxDataset : public TnxDbComponent {
 public:
  explicit TnxDataset(std::string name = {});
  ~TnxDataset() override;

  TnxDatabase* Database() const { return database_; }
  void SetDatabase(TnxDatabase* database);
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t timeout);
  uint32_t ResolvedTimeout() const;
  uint32_t FilterTimeout = 500;
  uint8_t Options = dsoCacheBlobs | dsoNoNestedTransForCachedBlobs;

  // Fields declared before opening; checked by name and kind when the table opens.
  void DeclareField(const std::string& name, DatasetFieldKind kind, int32_t size = 0);

  TnxDataSetState DataSetState() const { return state_; }
  bool Eof();
  bool Bof();
  bool IsEmpty();

  void First();
  void Last();
  void Next();
  void Prior();
  // The active row's bookmark (empty without a fetched row). GotoBookmark puts the cursor on
  // the record of a bookmark of this table and reads it again; false, with the cursor's row
  // unchanged, when the record was deleted in between.
  Bytes GetBookmark();
  bool GotoBookmark(const Bytes& bookmark);

  void Append();
  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  int32_t RecordCount();

  // "Field '%s' not found" when absent; FindField gives null instead.
  TnxField& FieldByName(const std::string& name);
  TnxField* FindField(const std::string& name);
  size_t FieldCount() const { return fields_.size(); }
  TnxField& Field(size_t i) { return *fields_[i]; }

  // A stream on a blob field of the active row: cached or direct (see nxdbBlobStreams.h).
  std::unique_ptr<TStream> CreateBlobStream(TnxField& field, TnxBlobStreamMode mode);

  // Internal to the fields and blob streams.
  TnxRemoteCursor* RemoteCursor() const { return cursor_.get(); }
  const TnxDataDictionary& Dictionary() const { return dictionary_; }
  Bytes& ActiveImage();                 // the row, or the key buffer being edited
  void CheckWritable(TnxField& field);  // state and key-field checks before a write
  void FieldChanged(TnxField& field);
  bool RowIsCurrent() const { return row_current_; }

 protected:
  struct KeyBuffer {
    bool modified = false;
    bool exclusive = false;
    int32_t field_count = 0;
    Bytes image;
    bool operator==(const KeyBuffer&) const = default;
  };

  // A request that fails sooner than this after the table began to open met a connection
  // that was broken already, not a server that is silent now.
  static constexpr std::chrono::milliseconds kQuickLoss{1000};

  // Reconnects a lost chain before the table opens (see the file comment).
  void DoPrepare() override;
  void DoStart() override;
  void DoStop() override;
  void LinkedComponentDestroyed(TnxStateComponent* other) override;

  // Opening and closing the server cursor; TnxTable provides them.
  virtual void OpenCursor() = 0;
  virtual void CloseCursor();
  // After the active row changed (details follow their master).
  virtual void RowChanged() {}
  // False for a read-only table: edit, append, insert and delete are refused.
  virtual bool CanModify() const { return true; }
  void CheckCanModify() const;  // "Cannot modify a read-only dataset"

  void CheckBrowse();
  void CheckActive() const;
  void CheckInactiveDataset() const;  // "Cannot perform this operation on an open dataset"
  void BuildFields();
  void ClearRow();
  void NewRow(TnxBookmarkFlag flag);
  // The forward fetch owed after going to the first record.
  void ResolvePending();
  bool FetchInto(uint16_t message_id);  // RecordGet* and CursorGetBookmark; false at the end
  void PutCursorOnActiveRow();
  void ReReadCurrent(bool with_fallbacks);
  // The record the server cursor stands on becomes the active and current row (its bookmark
  // is fetched with CursorGetBookmark).
  void AdoptRow(Bytes record);
  void GoToFirstRecord();  // SetToBegin; the fetch is owed
  // Releases modified blob fields (BlobRelease; 13058 clears the field) and drops the caches.
  void FreeFieldBuffers(bool drop_caches = true);
  void PostWithCachedBlobs(bool inserting);
  void SendPostRequest(bool inserting);
  virtual void ApplyMasterValues() {}
  void SetBookmarkSize(int32_t size) { bm_size_ = size; }

  TnxDatabase* database_ = nullptr;
  int32_t timeout_ = -1;
  TnxDataSetState state_ = TnxDataSetState::Inactive;
  bool reconnected_ = false;  // during an opening: the chain was opened again already
  std::vector<TnxDeclaredField> declared_;

  std::unique_ptr<TnxRemoteCursor> cursor_;
  TnxDataDictionary dictionary_;
  std::vector<std::unique_ptr<TnxField>> fields_;
  bool has_rec_rev_ = false;
  int32_t rec_len_ = 0;
  int32_t bm_size_ = 0;

  // The one row buffer.
  Bytes record_;
  Bytes bookmark_;
  TnxBookmarkFlag bm_flag_ = TnxBookmarkFlag::Current;
  bool has_row_ = false;      // record_ holds a row
  bool row_current_ = false;  // the server cursor stands on it
  bool pending_first_ = false;
  bool at_begin_ = false;  // the server cursor stands before the first record
  bool eof_ = true;
  bool bof_ = true;
  // Kept while inserting: the row that was active before, restored by Cancel.
  Bytes saved_record_;
  Bytes saved_bookmark_;
  bool saved_has_row_ = false;

  // Key buffers: lookup, range start, range end, start and end in force, the saved copy.
  KeyBuffer key_lookup_, range_start_, range_end_, start_in_force_, end_in_force_, key_saved_;
  KeyBuffer* editing_key_ = nullptr;
  std::vector<int> key_fields_;  // dictionary field numbers of the current index's key

  std::vector<std::shared_ptr<TnxBlobCache>> blob_caches_;

  friend class TnxDatabase;
  friend class TnxField;
  friend class TnxBlobStream;
  friend class TnxCachedBlobStream;
};

// ---------------------------------------------------------------------------------------
class TnxIndexDataSet : public TnxDataset {
 public:
  using TnxDataset::TnxDataset;
  ~TnxIndexDataSet() override;

  const std::vector<IndexDefinition>& IndexDefs() const { return index_defs_; }
  const std::string& CurrentIndexName() const { return index_name_current_; }

  // True and the cursor on the first match; false and the cursor stays on its record.
  bool FindByKey(const std::vector<FieldValue>& values);
  bool GoToKeyBuffer();
  void SetRangeBounds(const std::vector<FieldValue>& start, const std::vector<FieldValue>& end);
  void EditRangeLow();
  void EditRangeHigh();
  void ApplyKeyRange();
  void DropKeyRange();
  bool RangeInForce() const { return start_in_force_.modified || end_in_force_.modified; }

  // Master and detail: `master` is the master cursor, `fields` its field names (";").
  TnxIndexDataSet* MasterSource() const { return master_; }
  void SetMasterSource(TnxIndexDataSet* master);
  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(const std::string& fields);

  // Locate on the given fields (";"), with the retry on a record deleted in between.
  bool Locate(const std::string& fields, const std::vector<FieldValue>& values,
              bool case_insensitive = false, bool partial_key = false);

 protected:
  void CloseCursor() override;
  void RowChanged() override;
  void ApplyMasterValues() override;
  // Index chosen: key fields, bookmark size; buffers cleared.
  void UseIndex(const std::string& index_name);
  void SwitchIndex(const std::string& index_name);  // on an open cursor
  void CheckKeyIndex() const;                       // "No index currently active"
  void FillKeyBuffer(KeyBuffer& buffer, const std::vector<FieldValue>& values);
  void ClearKeyBuffer(KeyBuffer& buffer) const;
  void StartKeyEdit(KeyBuffer& buffer);
  void FinishKeyEdit();
  // Fills the range from the master's values and applies it; `go_first` false leaves the
  // cursor where CursorSetRange puts it (before the range's first record).
  void ApplyRangeFromMaster(bool go_first = true);
  void SendRange(bool go_first);
  void MasterClosed();
  void CloseLocateCursor();

  std::vector<IndexDefinition> index_defs_;
  std::string index_name_current_;

 private:
  TnxIndexDataSet* master_ = nullptr;
  std::string master_fields_;
  std::vector<TnxIndexDataSet*> details_;
  std::unique_ptr<TnxRemoteCursor> locate_cursor_;
  std::string locate_index_;
  bool locate_case_ = false;
};

// ---------------------------------------------------------------------------------------
class TnxTable : public TnxIndexDataSet {
 public:
  explicit TnxTable(std::string name = {});
  ~TnxTable() override;

  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  const std::string& IndexName() const { return index_name_; }
  void SetIndexName(const std::string& name);
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(const std::string& names);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);

 protected:
  void OpenCursor() override;
  bool CanModify() const override;

 private:
  std::string ChooseIndex() const;
  std::string table_name_;
  std::string index_name_;
  std::string index_field_names_;
  bool read_only_ = false;
  bool exclusive_ = false;
};

}  // namespace vantera
