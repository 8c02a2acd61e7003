// A pool of Blowfish/RC4 cipher objects keyed with one key, so that every seal or unseal of
// a sealed envelope has a cipher of its own: the encrypted transport and the server's tunnel
// share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "protocol/nxllBlowfishRC4.h"

namespace vantera {

// A cipher of the pool: keyed with its transport's Key when created.
class TnxOwnedBlowFishRC4 : public TnxBlowFishRC4 {
 public:
  explicit TnxOwnedBlowFishRC4(std::string_view key) : TnxBlowFishRC4(key) {}
};

// Thread-safe stack of cipher objects keyed with one key. Take() hands out an idle one or
// builds one; a lease gives it back when done, unless the pool was emptied meanwhile.
class TnxCipherPool {
 public:
  class Lease {
   public:
    Lease(TnxCipherPool& pool, std::unique_ptr<TnxOwnedBlowFishRC4> cipher, uint64_t generation)
        : pool_(pool), cipher_(std::move(cipher)), generation_(generation) {}
    ~Lease() { pool_.Give(std::move(cipher_), generation_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    TnxOwnedBlowFishRC4& operator*() const { return *cipher_; }

   private:
    TnxCipherPool& pool_;
    std::unique_ptr<TnxOwnedBlowFishRC4> cipher_;
    uint64_t generation_;
  };

  Lease Take(std::string_view key);
  // Destroys every idle cipher (each wipes its tables); ciphers out on lease are destroyed
  // when they come back.
  void Clear();
  size_t IdleCount() const;

 private:
  void Give(std::unique_ptr<TnxOwnedBlowFishRC4> cipher, uint64_t generation);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<TnxOwnedBlowFishRC4>> idle_;
  uint64_t generation_ = 0;
};

}  // namespace vantera
