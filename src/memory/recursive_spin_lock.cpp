#include "memory/recursive_spin_lock.h"

void EnterRecursiveSpinLock(RecursiveSpinLock& lock) {
  const auto self = static_cast<LONG>(GetCurrentThreadId());
  if (lock.owner == self) {
    ++lock.depth;
    return;
  }
  while (InterlockedCompareExchange(&lock.owner, self, 0) != 0) SwitchToThread();
  lock.depth = 1;
}

void LeaveRecursiveSpinLock(RecursiveSpinLock& lock) {
  if (--lock.depth == 0) InterlockedCompareExchange(&lock.owner, 0, lock.owner);
}
