// A small tmpfs for tests of a full disk, mounted in a mount namespace of this process
// (children inherit it; it goes with the process). ok() is false where mounting is not
// allowed: the test then skips.
#pragma once

#include <sched.h>
#include <sys/mount.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vantera::testing {

class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path, const std::string& size) : path_(path) {
    ok_ = ::unshare(CLONE_NEWNS) == 0 &&
          ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
          ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    mounted_ = ok_;
  }
  ~SmallDisk() {
    if (mounted_)
      ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  // Fills the disk with a file; returns its path.
  std::string Fill() {
    std::string filler = path_ + "/filler";
    FILE* f = std::fopen(filler.c_str(), "w");
    std::vector<char> block(4096, 'x');
    while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
           std::fflush(f) == 0) {
    }
    if (f)
      std::fclose(f);
    return filler;
  }

 private:
  std::string path_;
  bool ok_ = false;
  bool mounted_ = false;
};

}  // namespace vantera::testing
