#include "server/engine/folder_state.h"

#include <climits>
#include <cstdlib>

#include "protocol/nxllException.h"

namespace vantera {

namespace {
constexpr uint32_t kExclusiveConflict = 10253;  // Object cannot be opened for exclusive use.
constexpr uint32_t kLockedByOther = 10241;      // Record locked by another user.
}  // namespace

void FolderState::OpenDatabase(bool exclusive) {
  std::lock_guard lock(mu_);
  if (exclusive_ || (exclusive && databases_ > 0))
    throw EnxBaseException(kExclusiveConflict);
  ++databases_;
  exclusive_ = exclusive;
}

void FolderState::CloseDatabase(bool exclusive) {
  std::lock_guard lock(mu_);
  if (databases_ > 0)
    --databases_;
  if (exclusive)
    exclusive_ = false;
}

void FolderState::OpenTable(int64_t table, bool exclusive) {
  std::lock_guard lock(mu_);
  TableUse& use = tables_[table];
  if (use.exclusive || (exclusive && use.cursors > 0))
    throw EnxBaseException(kExclusiveConflict);
  ++use.cursors;
  use.exclusive = exclusive;
}

void FolderState::CloseTable(int64_t table, bool exclusive) {
  std::lock_guard lock(mu_);
  auto it = tables_.find(table);
  if (it == tables_.end())
    return;
  if (--it->second.cursors <= 0)
    tables_.erase(it);
  else if (exclusive)
    it->second.exclusive = false;
}

bool FolderState::Lock(int64_t table, int64_t row, LockOwner owner) {
  std::lock_guard lock(mu_);
  auto [it, inserted] = locks_.try_emplace({table, row}, owner);
  if (!inserted) {
    if (it->second.session != owner.session)
      throw EnxBaseException(kLockedByOther);
    it->second = owner;
  }
  return inserted;
}

bool FolderState::Hold(int64_t table, int64_t row, LockOwner owner) {
  std::lock_guard lock(mu_);
  auto [it, inserted] = locks_.try_emplace({table, row}, owner);
  if (!inserted && it->second.session != owner.session)
    throw EnxBaseException(kLockedByOther);
  return inserted;
}

bool FolderState::LockedByOther(int64_t table, int64_t row, uint32_t session) const {
  std::lock_guard lock(mu_);
  auto it = locks_.find({table, row});
  return it != locks_.end() && it->second.session != session;
}

void FolderState::CheckEditable(int64_t table, int64_t row, uint32_t session) const {
  if (LockedByOther(table, row, session))
    throw EnxBaseException(kLockedByOther);
}

void FolderState::Unlock(int64_t table, int64_t row, uint32_t cursor) {
  std::lock_guard lock(mu_);
  auto it = locks_.find({table, row});
  if (it != locks_.end() && it->second.cursor == cursor)
    locks_.erase(it);
}

void FolderState::UnlockCursor(uint32_t cursor) {
  std::lock_guard lock(mu_);
  std::erase_if(locks_, [cursor](const auto& e) { return e.second.cursor == cursor; });
}

void FolderState::UnlockSession(uint32_t session) {
  std::lock_guard lock(mu_);
  std::erase_if(locks_, [session](const auto& e) { return e.second.session == session; });
}

void FolderState::Forget(int64_t table, int64_t row) {
  std::lock_guard lock(mu_);
  locks_.erase({table, row});
}

size_t FolderState::LockCount() const {
  std::lock_guard lock(mu_);
  return locks_.size();
}

std::shared_ptr<FolderState> FolderRegistry::Acquire(const std::string& folder) {
  char resolved[PATH_MAX];
  std::string key = ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
  std::lock_guard lock(mu_);
  std::erase_if(folders_, [](const auto& e) { return e.second.expired(); });
  if (auto existing = folders_[key].lock())
    return existing;
  auto state = std::make_shared<FolderState>();
  folders_[key] = state;
  return state;
}

}  // namespace vantera
