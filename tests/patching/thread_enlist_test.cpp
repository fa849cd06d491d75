// Enlisting threads: which handles are accepted, and that nothing an
// enlisted thread may hold can block the transaction.

#include <gtest/gtest.h>

#include "engine_support.h"
#include "patching/patching.h"

namespace {

using enginetest::CallWith2And3;
using enginetest::PlaceAdd;

int __cdecl Hook(int a, int b) { return a - b; }
void* const kHook = reinterpret_cast<void*>(Hook);

volatile LONG counter;
volatile LONG stop;

DWORD WINAPI Count(void*) {
  while (stop == 0) InterlockedIncrement(&counter);
  return 0;
}

HANDLE StartCounting() {
  counter = 0;
  HANDLE thread = CreateThread(nullptr, 0, Count, nullptr, 0, nullptr);
  while (counter == 0) SwitchToThread();
  return thread;
}

HANDLE WithAccess(HANDLE thread, DWORD access) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, access, FALSE, 0);
  return copy;
}

TEST(ThreadEnlisting, HandlesAreJudgedByWhatTheyAllow) {
  // The calling thread is known without query rights (else this would
  // suspend it for good).
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(WithAccess(GetCurrentThread(), THREAD_SUSPEND_RESUME)), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);

  // A thread that cannot be read or moved is refused, and left running.
  HANDLE worker = StartCounting();
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(WithAccess(worker, THREAD_SUSPEND_RESUME)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(PatchCommit(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SuspendThread(worker), 0u);
  ResumeThread(worker);

  // A thread that has exited runs no code: skipped, not an error.
  stop = 1;
  ASSERT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  uint8_t* add = PlaceAdd();
  PatchSite site = add;
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(PatchUpdateThread(worker), NO_ERROR);
  EXPECT_EQ(PatchAttach(&site, kHook), NO_ERROR);
  EXPECT_EQ(PatchCommit(), NO_ERROR);
  EXPECT_EQ(CallWith2And3(add), -1);
}

volatile LONG heapsLocked;
volatile LONG releaseHeaps;

// Holds every heap's lock, the C runtime's among them, until released.
DWORD WINAPI HoldHeaps(void*) {
  HANDLE heaps[64];
  DWORD count = GetProcessHeaps(64, heaps);
  if (count > 64) count = 64;
  for (DWORD i = 0; i < count; ++i) HeapLock(heaps[i]);
  heapsLocked = 1;
  while (releaseHeaps == 0) SwitchToThread();
  for (DWORD i = 0; i < count; ++i) HeapUnlock(heaps[i]);
  return 0;
}

TEST(ThreadEnlisting, ThreadHoldingTheHeapLocksDoesNotBlockTheTransaction) {
  uint8_t* add = PlaceAdd();
  PatchSite site = add;
  // The engine's first transaction sets up what it allocates from; only
  // later ones can meet a suspended thread holding a lock.
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAbort(), NO_ERROR);
  HANDLE holder = CreateThread(nullptr, 0, HoldHeaps, nullptr, 0, nullptr);
  while (heapsLocked == 0) SwitchToThread();
  // No allocation here until the locks are released: results are kept.
  LONG results[8];
  LONG* next = results;
  for (auto operation : {PatchAttach, PatchDetach}) {
    *next++ = PatchBegin();
    *next++ = PatchUpdateThread(holder);
    *next++ = operation(&site, kHook);
    *next++ = PatchCommit();
  }
  releaseHeaps = 1;
  ASSERT_EQ(WaitForSingleObject(holder, INFINITE), WAIT_OBJECT_0);
  for (LONG result : results) EXPECT_EQ(result, NO_ERROR);
  EXPECT_EQ(site, add);
  EXPECT_EQ(CallWith2And3(add), 5);
}

// Stand-ins for the system's suspension, as on a machine where the thread
// runs on another processor: SuspendThread returns before the thread stops,
// and only a read of its context waits until it has.
HANDLE watched;
volatile LONG requested;
volatile LONG stopped;
PatchSite suspendSite =
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SuspendThread"));
PatchSite contextSite =
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadContext"));

DWORD WINAPI SuspendLater(HANDLE thread) {
  if (thread != watched) return reinterpret_cast<decltype(&SuspendThread)>(suspendSite)(thread);
  requested = 1;
  return 0;
}

BOOL WINAPI ContextOnceStopped(HANDLE thread, CONTEXT* context) {
  if (thread == watched && requested != 0 && stopped == 0) {
    reinterpret_cast<decltype(&SuspendThread)>(suspendSite)(thread);
    stopped = 1;
  }
  return reinterpret_cast<decltype(&GetThreadContext)>(contextSite)(thread, context);
}

TEST(ThreadEnlisting, EnlistingWaitsUntilTheThreadHasStopped) {
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchAttach(&suspendSite, reinterpret_cast<void*>(SuspendLater)), NO_ERROR);
  ASSERT_EQ(PatchAttach(&contextSite, reinterpret_cast<void*>(ContextOnceStopped)), NO_ERROR);
  ASSERT_EQ(PatchCommit(), NO_ERROR);
  HANDLE worker = StartCounting();
  watched = worker;

  ASSERT_EQ(PatchBegin(), NO_ERROR);
  ASSERT_EQ(PatchUpdateThread(worker), NO_ERROR);
  LONG stoppedWhenEnlisted = stopped;
  ASSERT_EQ(PatchCommit(), NO_ERROR);
  EXPECT_EQ(stoppedWhenEnlisted, 1) << "the thread could still run while code is rewritten";
  watched = nullptr;
  EXPECT_EQ(SuspendThread(worker), 0u) << "resumed at commit";
  ResumeThread(worker);
}

}  // namespace
