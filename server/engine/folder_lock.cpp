#include "server/engine/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>

#include "protocol/nxllException.h"
#include "server/engine/data_folder.h"

namespace vantera {

namespace {

constexpr uint32_t kInUse = 9221;  // Cannot access file. File may be in use by another process.

pid_t ReadPid(int fd) {
  char text[32] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0)
    return 0;
  long pid = std::strtol(text, nullptr, 10);
  return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

std::string FolderLock::FileName(const std::string& folder) {
  return folder + "/kantadb.lock";
}

pid_t FolderLock::HolderOf(const std::string& folder) {
  int fd = ::open(FileName(folder).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return 0;
  pid_t pid = ReadPid(fd);
  ::close(fd);
  return pid;
}

FolderLock::FolderLock(const std::string& folder) {
  const std::string file = FileName(folder);
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0)
    throw EnxBaseException("Cannot make the lock file " + file + ": " + std::strerror(errno),
                           kInUse);
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    pid_t holder = err == EWOULDBLOCK ? ReadPid(fd_) : 0;
    ::close(fd_);
    fd_ = -1;
    if (err != EWOULDBLOCK)
      throw EnxBaseException("Cannot lock " + file + ": " + std::strerror(err), kInUse);
    throw EnxBaseException("The data folder " + folder + " is in use by another server (" +
                               (holder > 0 ? "process " + std::to_string(holder)
                                           : std::string("process id not known yet")) +
                               ", lock file " + file + ")",
                           kInUse);
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 ||
      ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    int err = errno;
    ::close(fd_);
    fd_ = -1;
    throw EnxBaseException("Cannot write " + file + ": " + std::strerror(err), kInUse);
  }
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

FolderLock::~FolderLock() {
  if (fd_ < 0)
    return;
  // The file stays (another server may be waiting to open it); its stale id goes.
  if (::ftruncate(fd_, 0) != 0) {
    // Nothing to do: the lock itself ends with the descriptor.
  }
  ::close(fd_);
}

std::vector<FolderLock> LockDataFolders(const std::vector<std::string>& folders) {
  std::vector<FolderLock> locks;
  std::set<std::string> seen;
  for (const std::string& folder : folders) {
    try {
      MakeDataFolder(folder);
    } catch (const EnxBaseException& e) {
      throw std::runtime_error("data folder " + folder + ": " + e.what());
    }
    char resolved[PATH_MAX];
    std::string key = ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
    if (seen.insert(key).second)
      locks.emplace_back(folder);
  }
  return locks;
}

}  // namespace vantera
