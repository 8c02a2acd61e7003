#include "protocol/cipher_pool.h"

#include <utility>

namespace vantera {

TnxCipherPool::Lease TnxCipherPool::Take(std::string_view key) {
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = generation_;
    if (!idle_.empty()) {
      std::unique_ptr<TnxOwnedBlowFishRC4> c = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(c), generation);
    }
  }
  // Built outside the lock: a key schedule costs 521 block encryptions.
  return Lease(*this, std::make_unique<TnxOwnedBlowFishRC4>(key), generation);
}

void TnxCipherPool::Give(std::unique_ptr<TnxOwnedBlowFishRC4> cipher, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cipher && generation == generation_)
    idle_.push_back(std::move(cipher));
}

void TnxCipherPool::Clear() {
  std::vector<std::unique_ptr<TnxOwnedBlowFishRC4>> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    old.swap(idle_);
  }
}

size_t TnxCipherPool::IdleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

}  // namespace vantera
