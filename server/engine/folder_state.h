// State that every session with a database open on the same data folder shares inside
// this process: record locks, exclusive use of the folder and of its tables.
//
// Record locks: a record locked by a cursor (lock mode 2) refuses locks and changes from
// other sessions with 10241 until the cursor modifies it, releases it or closes. Locks
// live in memory only; a restarted server has none.
//
// All members are safe to call from several threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace vantera {

struct LockOwner {
  uint32_t session = 0;
  uint32_t cursor = 0;
};

class FolderState {
 public:
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
  mutable std::mutex mu_;
  int databases_ = 0;
  bool exclusive_ = false;
  std::map<int64_t, TableUse> tables_;
  std::map<std::pair<int64_t, int64_t>, LockOwner> locks_;
};

// One FolderState per data folder (by its real path); released with its last user.
class FolderRegistry {
 public:
  std::shared_ptr<FolderState> Acquire(const std::string& folder);

 private:
  std::mutex mu_;
  std::map<std::string, std::weak_ptr<FolderState>> folders_;
};

}  // namespace vantera
