#include "server/engine/folder_state.h"

#include <climits>
#include <cstdlib>

#include "protocol/nxllException.h"

namespace vantera {

namespace {
constexpr uint32_t kExclusiveConflict = 10253;  // Object cannot be opened for exclusive use.
constexpr uint32_t kLockedByOther = 10241;      // Record locked by another user.
}  // namespace

FolderState::FolderState(std::unique_ptr<SharedRecordLocks> shared) : shared_(std::move(shared)) {
  if (shared_)
    shared_generation_ = shared_->Generation();
}

void FolderState::FollowSharedGeneration() const {
  if (!shared_ || shared_->Generation() == shared_generation_)
    return;
  locks_.clear();
  shared_generation_ = shared_->Generation();
}

bool FolderState::OtherProcessHolds(int64_t table, int64_t row) const {
  if (!shared_)
    return false;
  bool held = shared_->HeldElsewhere(table, row);
  FollowSharedGeneration();  // asking may have made a new connection
  return held;
}

bool FolderState::SharedTryLock(int64_t table, int64_t row) {
  if (!shared_)
    return true;
  bool taken = shared_->TryLock(table, row);
  FollowSharedGeneration();  // a lock taken on a new connection belongs to the new one
  return taken;
}

void FolderState::Released(int64_t table, int64_t row) {
  if (shared_)
    shared_->Unlock(table, row);
}

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
  FollowSharedGeneration();
  auto it = locks_.find({table, row});
  if (it != locks_.end()) {
    if (it->second.session != owner.session)
      throw EnxBaseException(kLockedByOther);
    it->second = owner;
    return false;
  }
  if (!SharedTryLock(table, row))
    throw EnxBaseException(kLockedByOther);
  locks_.emplace(std::make_pair(table, row), owner);
  return true;
}

bool FolderState::Hold(int64_t table, int64_t row, LockOwner owner) {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  auto it = locks_.find({table, row});
  if (it != locks_.end()) {
    if (it->second.session != owner.session)
      throw EnxBaseException(kLockedByOther);
    return false;
  }
  if (!SharedTryLock(table, row))
    throw EnxBaseException(kLockedByOther);
  locks_.emplace(std::make_pair(table, row), owner);
  return true;
}

bool FolderState::LockedByOther(int64_t table, int64_t row, uint32_t session) const {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  auto it = locks_.find({table, row});
  if (it != locks_.end())
    return it->second.session != session;
  return OtherProcessHolds(table, row);
}

void FolderState::CheckEditable(int64_t table, int64_t row, uint32_t session) const {
  if (LockedByOther(table, row, session))
    throw EnxBaseException(kLockedByOther);
}

void FolderState::Unlock(int64_t table, int64_t row, uint32_t cursor) {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  auto it = locks_.find({table, row});
  if (it != locks_.end() && it->second.cursor == cursor) {
    locks_.erase(it);
    Released(table, row);
  }
}

void FolderState::UnlockCursor(uint32_t cursor) {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  std::erase_if(locks_, [this, cursor](const auto& e) {
    if (e.second.cursor != cursor)
      return false;
    Released(e.first.first, e.first.second);
    return true;
  });
}

void FolderState::UnlockSession(uint32_t session) {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  std::erase_if(locks_, [this, session](const auto& e) {
    if (e.second.session != session)
      return false;
    Released(e.first.first, e.first.second);
    return true;
  });
}

void FolderState::Forget(int64_t table, int64_t row) {
  std::lock_guard lock(mu_);
  FollowSharedGeneration();
  if (locks_.erase({table, row}) > 0)
    Released(table, row);
}

size_t FolderState::LockCount() const {
  std::lock_guard lock(mu_);
  return locks_.size();
}

std::shared_ptr<FolderState> FolderRegistry::Acquire(
    const std::string& folder,
    const std::function<std::unique_ptr<SharedRecordLocks>()>& make_shared_locks) {
  char resolved[PATH_MAX];
  std::string key = ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
  std::lock_guard lock(mu_);
  std::erase_if(folders_, [](const auto& e) { return e.second.expired(); });
  if (auto existing = folders_[key].lock())
    return existing;
  auto state = std::make_shared<FolderState>(make_shared_locks ? make_shared_locks() : nullptr);
  folders_[key] = state;
  return state;
}

}  // namespace vantera
