#include "textures/parallel_for.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace {

// The copies are memory-bound; more threads than this only add start-up cost.
constexpr uint32_t kMaxThreads = 16;
// Each thread takes about this many chunks, so a thread that starts late or
// runs slowly leaves the rest to the others.
constexpr uint32_t kChunksPerThread = 4;
// The helpers only run loop bodies: a small stack is plenty.
constexpr SIZE_T kHelperStackBytes = 64 * 1024;

struct Loop {
  std::atomic<uint32_t> next{0};
  uint32_t count;
  uint32_t chunk;
  ParallelBody body;
  const void* record;
  // Helpers inside Drain for this loop; guarded by the pool lock.
  uint32_t joined = 0;
  Loop* nextOpen = nullptr;
};

// Process-wide helper state, all guarded by `lock`. Constant-initialised,
// so it is usable whatever the order of static initialisation.
struct Pool {
  SRWLOCK lock;
  CONDITION_VARIABLE opened;  // a loop was opened to helpers
  CONDITION_VARIABLE left;    // a helper left a loop
  Loop* open;                 // loops that helpers may still join
  uint32_t helpers;           // helper threads running or being started
  uint32_t idle;              // helpers waiting for a loop
};

Pool pool = {SRWLOCK_INIT, CONDITION_VARIABLE_INIT, CONDITION_VARIABLE_INIT, nullptr, 0, 0};

// Takes chunks of indices until none are left. The counter never moves past
// `count`, so it cannot wrap however many threads ask.
void Drain(Loop& loop) noexcept {
  uint32_t begin = loop.next.load(std::memory_order_relaxed);
  for (;;) {
    if (begin >= loop.count) return;
    const uint32_t end = begin + std::min(loop.chunk, loop.count - begin);
    if (!loop.next.compare_exchange_weak(begin, end, std::memory_order_relaxed)) continue;
    for (uint32_t i = begin; i < end; ++i) loop.body(loop.record, i);
    begin = loop.next.load(std::memory_order_relaxed);
  }
}

Loop* OpenLoopWithWork() {
  for (Loop* loop = pool.open; loop != nullptr; loop = loop->nextOpen) {
    if (loop->next.load(std::memory_order_relaxed) < loop->count) return loop;
  }
  return nullptr;
}

void Unlink(Loop* loop) {
  for (Loop** at = &pool.open; *at != nullptr; at = &(*at)->nextOpen) {
    if (*at == loop) {
      *at = loop->nextOpen;
      return;
    }
  }
}

DWORD WINAPI HelperMain(void* module) {
  AcquireSRWLockExclusive(&pool.lock);
  for (;;) {
    if (Loop* loop = OpenLoopWithWork()) {
      ++loop->joined;
      ReleaseSRWLockExclusive(&pool.lock);
      Drain(*loop);
      AcquireSRWLockExclusive(&pool.lock);
      if (--loop->joined == 0) WakeAllConditionVariable(&pool.left);
      continue;
    }
    ++pool.idle;
    const bool woken =
        SleepConditionVariableSRW(&pool.opened, &pool.lock, kParallelHelperIdleMilliseconds, 0);
    --pool.idle;
    if (!woken && OpenLoopWithWork() == nullptr) break;
  }
  --pool.helpers;
  ReleaseSRWLockExclusive(&pool.lock);
  // Gives back the module reference and ends the thread without returning
  // into the module, which the release may have unloaded.
  FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

// The module reference is taken here, by a thread running this module's
// code, so the module is loaded while the reference is taken.
bool StartHelper() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HelperMain),
                          &module)) {
    return false;
  }
  HANDLE thread = CreateThread(nullptr, kHelperStackBytes, HelperMain, module,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    FreeLibrary(module);
    return false;
  }
  CloseHandle(thread);
  return true;
}

}  // namespace

uint32_t ParallelThreadLimit() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return std::clamp<uint32_t>(info.dwNumberOfProcessors, 1, kMaxThreads);
}

uint32_t ParallelHelperCount() {
  AcquireSRWLockShared(&pool.lock);
  const uint32_t helpers = pool.helpers;
  ReleaseSRWLockShared(&pool.lock);
  return helpers;
}

void ParallelFor(uint32_t count, ParallelBody body, const void* record) {
  if (count == 0) return;
  const uint32_t limit = ParallelThreadLimit();
  const uint32_t threads = std::min(limit, count);
  Loop loop;
  loop.count = count;
  loop.chunk = std::max<uint32_t>(1, count / (threads * kChunksPerThread));
  loop.body = body;
  loop.record = record;
  if (threads == 1) {
    Drain(loop);
    return;
  }

  AcquireSRWLockExclusive(&pool.lock);
  loop.nextOpen = pool.open;
  pool.open = &loop;
  const uint32_t wanted = threads - 1;
  const uint32_t missing = wanted > pool.idle ? wanted - pool.idle : 0;
  const uint32_t room = limit - 1 > pool.helpers ? limit - 1 - pool.helpers : 0;
  const uint32_t starting = std::min(missing, room);
  pool.helpers += starting;
  WakeAllConditionVariable(&pool.opened);
  ReleaseSRWLockExclusive(&pool.lock);

  uint32_t failed = 0;
  for (uint32_t i = 0; i < starting; ++i) {
    if (!StartHelper()) ++failed;
  }
  Drain(loop);

  // No helper joins once the loop is unlinked; those inside it are waited for.
  AcquireSRWLockExclusive(&pool.lock);
  pool.helpers -= failed;
  Unlink(&loop);
  while (loop.joined != 0) SleepConditionVariableSRW(&pool.left, &pool.lock, INFINITE, 0);
  ReleaseSRWLockExclusive(&pool.lock);
}
