// One server per data folder: an exclusive lock (flock) on the file "kantadb.lock" in the
// folder, held for the life of the object, with the holder's process id written in it so
// that a second server can say who holds the folder. The kernel drops the lock when the
// holder ends however it ends; a lock file left behind by a killed server does not block.
//
// Record locks and exclusive opens live in one server's memory, so two servers on one
// folder would each grant what the other holds. The administrator's import and export do
// not take this lock: they run beside a server through the store's own transactions.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vantera {

class FolderLock {
 public:
  // Throws EnxBaseException 9221 naming the folder and the holder's process id when
  // another holder has the folder, and with the system's reason when the lock file cannot
  // be made.
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&&) = delete;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  static std::string FileName(const std::string& folder);
  // The process id written in the folder's lock file, or 0 when there is none.
  static pid_t HolderOf(const std::string& folder);

 private:
  int fd_ = -1;
};

// Makes each folder when missing (MakeDataFolder) and locks it; a folder named twice (by
// its real path) is locked once. Throws as FolderLock does, or std::runtime_error naming
// the folder when it cannot be made; nothing is held then.
std::vector<FolderLock> LockDataFolders(const std::vector<std::string>& folders);

}  // namespace vantera
