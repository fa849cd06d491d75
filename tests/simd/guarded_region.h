#pragma once

// One readable and writable page between two pages that fault on any access,
// to place a record against either edge and prove that a routine touches no
// byte outside it.

#include <cstddef>

class GuardedRegion {
 public:
  GuardedRegion();
  ~GuardedRegion();
  GuardedRegion(const GuardedRegion&) = delete;
  GuardedRegion& operator=(const GuardedRegion&) = delete;

  // A record of `bytes` that ends where the guard page after begins.
  float* EndingAtGuard(size_t bytes) const { return reinterpret_cast<float*>(page_ + pageSize_ - bytes); }
  // A record whose first `guarded` bytes lie in the guard page before.
  float* StartingInGuard(size_t guarded) const { return reinterpret_cast<float*>(page_ - guarded); }
  float* PageStart() const { return reinterpret_cast<float*>(page_); }
  size_t pageSize() const { return pageSize_; }

 private:
  char* base_ = nullptr;
  char* page_ = nullptr;
  size_t pageSize_ = 0;
};
