// State that every session with a database open on the same data folder shares inside
// this process: record locks, exclusive use of the folder and of its tables.
//
// Record locks: a record locked by a cursor (lock mode 2) refuses locks and changes from
// other sessions with 10241 until the cursor modifies it, releases it or closes. Between
// the sessions of this process they are decided here; where several server processes
// share the location (PostgreSQL), the database decides between processes too: a lock
// that no session here holds is granted only once SharedRecordLocks took it, and an edit
// of a record that no session here holds asks it first. Without shared locks they live in
// memory only; a restarted server has none.
//
// All members are safe to call from several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "server/engine/storage.h"

namespace vantera {

struct LockOwner {
  uint32_t session = 0;
  uint32_t cursor = 0;
};

class FolderState {
 public:
  // `shared` decides between processes; null where this process is the only one.
  explicit FolderState(std::unique_ptr<SharedRecordLocks> shared = nullptr);

  // Opening and closing a database on the folder; 10253 when exclusive use conflicts.
  void OpenDatabase(bool exclusive);
  void CloseDatabase(bool exclusive);

  // A cursor on a table; 10253 when exclusive use conflicts.
  void OpenTable(int64_t table, bool exclusive);
  void CloseTable(int64_t table, bool exclusive);

  // Locks (table, row) for the cursor (taking it over from another cursor of the same
  // session); 10241 when another session holds it. True when the record was not locked.
  bool Lock(int64_t table, int64_t row, LockOwner owner);
  // Locks (table, row) for the cursor unless its session holds it already; 10241 when
  // another session does. True when this call took the lock.
  bool Hold(int64_t table, int64_t row, LockOwner owner);
  // 10241 when a session other than `session` holds the record.
  void CheckEditable(int64_t table, int64_t row, uint32_t session) const;
  bool LockedByOther(int64_t table, int64_t row, uint32_t session) const;
  void Unlock(int64_t table, int64_t row, uint32_t cursor);
  void UnlockCursor(uint32_t cursor);
  void UnlockSession(uint32_t session);
  void Forget(int64_t table, int64_t row);  // the record is gone
  size_t LockCount() const;

 private:
  struct TableUse {
    int cursors = 0;
    bool exclusive = false;
  };
  // Drops the locks of an earlier connection of `shared_` (the database released them).
  void FollowSharedGeneration() const;
  bool OtherProcessHolds(int64_t table, int64_t row) const;
  bool SharedTryLock(int64_t table, int64_t row);
  void Released(int64_t table, int64_t row);  // tells `shared_`, under mu_

  mutable std::mutex mu_;
  std::unique_ptr<SharedRecordLocks> shared_;
  mutable uint64_t shared_generation_ = 0;
  int databases_ = 0;
  bool exclusive_ = false;
  std::map<int64_t, TableUse> tables_;
  mutable std::map<std::pair<int64_t, int64_t>, LockOwner> locks_;
};

// One FolderState per data folder (by its real path) or schema; released with its last
// user. `make_shared_locks` is called for a new one.
class FolderRegistry {
 public:
  std::shared_ptr<FolderState> Acquire(
      const std::string& folder,
      const std::function<std::unique_ptr<SharedRecordLocks>()>& make_shared_locks = {});

 private:
  std::mutex mu_;
  std::map<std::string, std::weak_ptr<FolderState>> folders_;
};

}  // namespace vantera
