#include "memory/infinite_load.h"

#include "base/game_access.h"
#include "memory/load_thread.h"
#include "memory/recursive_spin_lock.h"

PatchSite SpinLockEnterSite = reinterpret_cast<PatchSite>(game::kSpinLockEnter);
PatchSite GatedCallSite = reinterpret_cast<PatchSite>(game::kGatedCall);
PatchSite EventWaitSite = reinterpret_cast<PatchSite>(game::kEventWait);
PatchSite TrackedCallSite = reinterpret_cast<PatchSite>(game::kTrackedCall);

namespace {

// The game's spin lock as this fix treats it.
struct GameSpinLock {
  volatile LONG owner;  // thread id, 0 when free
  volatile LONG count;  // entries
};

// 1 while the watched thread is blocked in the event wait; written only by
// that thread.
uint8_t watchedThreadWaiting;
// The thread inside the tracked routine, 0 when none.
volatile DWORD trackedCallThreadId;
RecursiveSpinLock trackedCallLock;

// A null link on the way to a thread gives 0, which names no thread.
DWORD WatchedThreadId() {
  const void* root = GameGlobal<void*>(game::kWatchedThreadRoot);
  if (root == nullptr) return 0;
  const void* holder = GameField<void*>(root, kWatchedThreadLink);
  return holder == nullptr ? 0 : GameField<DWORD>(holder, kThreadIdField);
}

DWORD AdmittedThreadId() {
  const void* root = GameGlobal<void*>(game::kAdmittedThreadRoot);
  if (root == nullptr) return 0;
  void* const* link = GameField<void* const*>(root, kAdmittedThreadLink);
  if (link == nullptr || *link == nullptr) return 0;
  return GameField<DWORD>(*link, kThreadIdField);
}

}  // namespace

// Answers the wait's result in EAX, as the game's routine leaves it.
extern "C" DWORD WaitForGameEvent(void* object) {
  HANDLE event = GameField<HANDLE>(object, kEventHandleField);
  if (GetCurrentThreadId() != WatchedThreadId()) return WaitForSingleObject(event, INFINITE);
  __atomic_exchange_n(&watchedThreadWaiting, 1, __ATOMIC_SEQ_CST);
  const DWORD result = WaitForSingleObject(event, INFINITE);
  __atomic_exchange_n(&watchedThreadWaiting, 0, __ATOMIC_SEQ_CST);
  return result;
}

extern "C" bool GatedCallAllowed() {
  if (GetCurrentThreadId() == LoadThreadId) return false;
  return __atomic_load_n(&watchedThreadWaiting, __ATOMIC_RELAXED) == 1;
}

extern "C" uint32_t CallTrackedRoutine(void* object) {
  EnterRecursiveSpinLock(trackedCallLock);
  trackedCallThreadId = GetCurrentThreadId();
  const auto result = static_cast<uint8_t>(GameRoutine<GameCall0>(TrackedCallSite)(object));
  // Cleared before the lock can pass to another thread, also after a nested
  // call while the outer one still runs.
  trackedCallThreadId = 0;
  LeaveRecursiveSpinLock(trackedCallLock);
  return result;
}

extern "C" void EnterGameSpinLock(void* lockObject, uint32_t) {
  auto* lock = static_cast<GameSpinLock*>(lockObject);
  const auto self = static_cast<LONG>(GetCurrentThreadId());
  if (lock->owner != self) {
    LONG owner;
    while ((owner = InterlockedCompareExchange(&lock->owner, self, 0)) != 0) {
      // The admitted thread enters a lock held by the thread inside the
      // tracked routine without becoming its owner.
      if (static_cast<DWORD>(owner) == trackedCallThreadId &&
          static_cast<DWORD>(self) == AdmittedThreadId()) {
        break;
      }
      SwitchToThread();
    }
  }
  InterlockedIncrement(&lock->count);
}
