#include <cstdint>
#include <cstring>

#include "base/readable_memory.h"
#include "patching/code_pointer.h"
#include "patching/patching.h"
#include "patching/trampoline.h"
#include "patching/trampoline_regions.h"

namespace {

struct PatchOperation {
  PatchOperation* next;
  uint32_t isRemoval;
  PatchSite* site;
  uint8_t* target;
  Trampoline* trampoline;
  // The moved bytes may straddle two pages: each page's own protection.
  DWORD oldProtection[2];
  // A removal whose target's memory is gone (its module unloaded): nothing
  // is written there, and the site is named afterwards.
  bool released;
};

struct PatchThread {
  PatchThread* next;
  HANDLE thread;
};

// The one transaction of the process. Only the owner touches the lists.
volatile LONG ownerThread;
LONG pendingError;
PatchSite* pendingErrorSite;
PatchOperation* operations;
PatchThread* threads;
// The released removals of the last commit, kept until the next transaction.
PatchOperation* releasedRemovals;
// Records come from a heap of the engine's own, without a lock: only the
// owner touches it, so no suspended thread can hold it. A thread stopped
// inside the C runtime's allocator would block any other allocation until
// the commit resumed it, which could then never come.
HANDLE recordHeap;

constexpr size_t kPageSize = 0x1000;
// How long a thread that could not be suspended or read is given to finish
// exiting, the one reason that is not an error.
constexpr DWORD kExitGraceMs = 100;

template <typename Record>
Record* NewRecord() {
  if (recordHeap == nullptr) return nullptr;
  return static_cast<Record*>(HeapAlloc(recordHeap, HEAP_ZERO_MEMORY, sizeof(Record)));
}

void FreeRecord(void* record) { HeapFree(recordHeap, 0, record); }

bool CallerOwns() { return static_cast<DWORD>(ownerThread) == GetCurrentThreadId(); }

// Makes `error` the transaction's pending error.
LONG Fail(LONG error, PatchSite* site) {
  pendingError = error;
  pendingErrorSite = site;
  return error;
}

// A failed call's error, never NO_ERROR.
LONG LastErrorOr(LONG fallback) {
  DWORD error = GetLastError();
  return error != NO_ERROR ? static_cast<LONG>(error) : fallback;
}

// A second operation on a site or a target in one transaction would leave
// one of them undone or leaked, whatever the commit reported.
bool AlreadyQueued(const PatchSite* site, const uint8_t* target) {
  for (PatchOperation* op = operations; op != nullptr; op = op->next) {
    if (op->site == site || op->target == target) return true;
  }
  return false;
}

// The spans of [target, target + length) on the first and on the next page.
size_t FirstPageSpan(const uint8_t* target, size_t length) {
  size_t page = kPageSize - (reinterpret_cast<uintptr_t>(target) & (kPageSize - 1));
  return length < page ? length : page;
}

// Makes the target bytes writable, keeping each page's old protection.
LONG Unprotect(PatchOperation* op, uint8_t* target, size_t length) {
  size_t first = FirstPageSpan(target, length);
  if (!VirtualProtect(target, first, PAGE_EXECUTE_READWRITE, &op->oldProtection[0])) {
    return LastErrorOr(ERROR_INVALID_HANDLE);
  }
  op->oldProtection[1] = op->oldProtection[0];
  if (first < length &&
      !VirtualProtect(target + first, length - first, PAGE_EXECUTE_READWRITE, &op->oldProtection[1])) {
    LONG error = LastErrorOr(ERROR_INVALID_HANDLE);
    DWORD ignored;
    VirtualProtect(target, first, op->oldProtection[0], &ignored);
    return error;
  }
  return NO_ERROR;
}

void Push(PatchOperation* op, uint32_t isRemoval, PatchSite* site, uint8_t* target, Trampoline* trampoline) {
  op->isRemoval = isRemoval;
  op->site = site;
  op->target = target;
  op->trampoline = trampoline;
  op->next = operations;
  operations = op;
}

// Whether the target still holds what the committed attach wrote: the jump
// to the replacement and int3 up to the end of the moved bytes. Anything
// else was written over later, and putting the saved bytes back would
// destroy it.
bool StillRedirected(const Trampoline* t, const uint8_t* target) {
  int32_t rel;
  std::memcpy(&rel, target + 1, sizeof rel);
  uintptr_t destination = reinterpret_cast<uintptr_t>(target) + kJumpSize + static_cast<uint32_t>(rel);
  if (target[0] != 0xE9 || destination != reinterpret_cast<uintptr_t>(t->replacement)) return false;
  for (size_t i = kJumpSize; i < t->restoreLength; ++i) {
    if (target[i] != 0xCC) return false;
  }
  return true;
}

void RestoreProtection(PatchOperation* op) {
  size_t length = op->trampoline->restoreLength;
  size_t first = FirstPageSpan(op->target, length);
  DWORD ignored;
  VirtualProtect(op->target, first, op->oldProtection[0], &ignored);
  if (first < length) VirtualProtect(op->target + first, length - first, op->oldProtection[1], &ignored);
}

void ResumeThreads() {
  while (threads != nullptr) {
    PatchThread* record = threads;
    threads = record->next;
    ResumeThread(record->thread);
    FreeRecord(record);
  }
}

void Release() { InterlockedExchange(&ownerThread, 0); }

// The thread's instruction pointer and the other control registers.
bool ControlContext(HANDLE thread, CONTEXT* context) {
  std::memset(context, 0, sizeof *context);
  context->ContextFlags = CONTEXT_CONTROL;
  return GetThreadContext(thread, context) != FALSE;
}

// SuspendThread only asks a thread running on another processor to stop;
// asking for its context waits until it has. Without this, the thread could
// still run while the commit rewrites the code under it. Writing the same
// context back shows that the commit will be able to move the thread out of
// the rewritten bytes. A handle that allows neither is an error, not a
// thread left running or stranded.
LONG WaitUntilStopped(HANDLE thread) {
  CONTEXT context;
  if (!ControlContext(thread, &context) || !SetThreadContext(thread, &context)) {
    return LastErrorOr(ERROR_ACCESS_DENIED);
  }
  return NO_ERROR;
}

// Suspends `thread` (`query` being a handle of our own to it, with query
// rights) and waits until it has stopped.
LONG Enlist(HANDLE thread, HANDLE query) {
  // Suspending the calling thread would never return; the ids compare
  // whatever rights the caller's handle has.
  DWORD id = GetThreadId(query);
  if (id == 0) return LastErrorOr(ERROR_INVALID_HANDLE);
  if (id == GetCurrentThreadId()) return NO_ERROR;
  // Allocated before the suspension, like every record of the transaction.
  auto* record = NewRecord<PatchThread>();
  if (record == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  LONG error = NO_ERROR;
  if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
    error = LastErrorOr(ERROR_INVALID_HANDLE);
  } else if ((error = WaitUntilStopped(thread)) != NO_ERROR) {
    ResumeThread(thread);
  }
  if (error != NO_ERROR) {
    FreeRecord(record);
    // A thread that exited while it was being enlisted runs no code.
    return WaitForSingleObject(query, kExitGraceMs) == WAIT_OBJECT_0 ? NO_ERROR : error;
  }
  record->thread = thread;
  record->next = threads;
  threads = record;
  return NO_ERROR;
}

// Moves a suspended thread that stopped in code being rewritten to the place
// where the same instruction now lives.
void RepairThread(HANDLE thread) {
  CONTEXT context;
  if (!ControlContext(thread, &context)) return;
  uintptr_t ip = context.Eip;
  for (PatchOperation* op = operations; op != nullptr; op = op->next) {
    if (op->released) continue;
    Trampoline* t = op->trampoline;
    uintptr_t target = reinterpret_cast<uintptr_t>(op->target);
    uintptr_t code = reinterpret_cast<uintptr_t>(t->code);
    if (!op->isRemoval && ip >= target && ip - target < t->restoreLength) {
      ip = code + AttachedResumeOffset(t, ip - target);
    } else if (op->isRemoval && ip >= code && ip - code < kTrampolineCodeSize) {
      ip = target + DetachedResumeOffset(t, ip - code);
    }
  }
  if (ip != context.Eip) {
    context.Eip = static_cast<DWORD>(ip);
    SetThreadContext(thread, &context);
  }
}

}  // namespace

LONG PatchBegin() {
  if (ownerThread != 0) return ERROR_INVALID_OPERATION;
  LONG self = static_cast<LONG>(GetCurrentThreadId());
  if (InterlockedCompareExchange(&ownerThread, self, 0) != 0) return ERROR_INVALID_OPERATION;
  operations = nullptr;
  threads = nullptr;
  pendingError = NO_ERROR;
  pendingErrorSite = nullptr;
  if (recordHeap == nullptr) recordHeap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
  while (releasedRemovals != nullptr) {
    PatchOperation* op = releasedRemovals;
    releasedRemovals = op->next;
    FreeRecord(op);
  }
  MakeRegionsWritable();
  return NO_ERROR;
}

LONG PatchUpdateThread(HANDLE thread) {
  // Only the owner may add to the thread list: a thread suspended outside a
  // transaction would never be resumed.
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  if (pendingError != NO_ERROR) return pendingError;
  if (thread == GetCurrentThread()) return NO_ERROR;
  HANDLE query = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &query,
                       THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, 0)) {
    return Fail(LastErrorOr(ERROR_INVALID_HANDLE), nullptr);
  }
  LONG error = Enlist(thread, query);
  CloseHandle(query);
  return error == NO_ERROR ? NO_ERROR : Fail(error, nullptr);
}

LONG PatchAttach(PatchSite* site, void* replacement) {
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  if (pendingError != NO_ERROR) return pendingError;
  if (site == nullptr) return ERROR_INVALID_HANDLE;
  if (*site == nullptr || replacement == nullptr) return Fail(ERROR_INVALID_HANDLE, site);

  auto* target = static_cast<uint8_t*>(PatchCodeFromPointer(*site));
  void* resolved = PatchCodeFromPointer(replacement);
  if (target == resolved) {
    pendingErrorSite = site;
    return NO_ERROR;
  }

  // The jump alone would meet another redirection's bytes: refused before the
  // target, which may be that jump, is decoded.
  if (AlreadyQueued(site, target) || RedirectedBytesMeet(nullptr, target, kJumpSize)) {
    return Fail(ERROR_INVALID_BLOCK, site);
  }

  auto* op = NewRecord<PatchOperation>();
  Trampoline* trampoline = op != nullptr ? AllocTrampoline(target) : nullptr;
  LONG error = NO_ERROR;
  if (trampoline == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    // Decoding works on a copy, so a target that is not readable code is
    // refused instead of faulting.
    uint8_t bytes[kTargetReadSize] = {};
    size_t available = ReadableLength(target, sizeof bytes);
    std::memcpy(bytes, target, available);
    error = FillTrampoline(trampoline, target, bytes, available, resolved);
    if (error == NO_ERROR && RedirectedBytesMeet(trampoline, target, trampoline->restoreLength)) {
      error = ERROR_INVALID_BLOCK;
    }
    if (error == NO_ERROR) error = Unprotect(op, target, trampoline->restoreLength);
  }
  if (error != NO_ERROR) {
    if (trampoline != nullptr) FreeTrampoline(trampoline);
    if (op != nullptr) FreeRecord(op);
    return Fail(error, site);
  }
  Push(op, 0, site, target, trampoline);
  return NO_ERROR;
}

LONG PatchDetach(PatchSite* site, void* replacement) {
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  if (pendingError != NO_ERROR) return pendingError;
  if (site == nullptr) return ERROR_INVALID_HANDLE;
  if (*site == nullptr) return Fail(ERROR_INVALID_HANDLE, site);

  // Whatever the site holds, a second operation on it is refused.
  if (AlreadyQueued(site, nullptr)) return Fail(ERROR_INVALID_BLOCK, site);
  auto* trampoline = static_cast<Trampoline*>(PatchCodeFromPointer(*site));
  // A site that leads to no trampoline of this engine was never attached, or
  // is already removed: there is nothing to take away.
  if (!IsInTrampolineRegion(trampoline)) return NO_ERROR;
  void* resolved = PatchCodeFromPointer(replacement);
  bool live = IsLiveTrampoline(trampoline);
  // The site of a removed hook on another hook's trampoline holds that
  // trampoline again: also nothing to take away.
  if (live && trampoline->site != site && trampoline->replacement != resolved) return NO_ERROR;
  // Only a committed trampoline of this engine, removed through its own site,
  // is read.
  if (!live || trampoline->site != site || trampoline->restoreLength == 0 ||
      trampoline->restoreLength > kRestoreSize || trampoline->replacement != resolved) {
    return Fail(ERROR_INVALID_BLOCK, site);
  }
  uint8_t* target = trampoline->remainder - trampoline->restoreLength;
  if (AlreadyQueued(nullptr, target)) return Fail(ERROR_INVALID_BLOCK, site);
  auto* op = NewRecord<PatchOperation>();
  if (op == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, site);
  op->target = target;
  op->trampoline = trampoline;
  LONG error = NO_ERROR;
  if (!IsCommitted(target, trampoline->restoreLength)) {
    op->released = true;
  } else if ((error = Unprotect(op, target, trampoline->restoreLength)) == NO_ERROR &&
             !StillRedirected(trampoline, target)) {
    RestoreProtection(op);
    error = ERROR_INVALID_BLOCK;
  }
  if (error != NO_ERROR) {
    FreeRecord(op);
    return Fail(error, site);
  }
  Push(op, 1, site, target, trampoline);
  return NO_ERROR;
}

LONG PatchCommit(PatchSite** failedSite) {
  if (failedSite != nullptr) *failedSite = pendingErrorSite;
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  if (pendingError != NO_ERROR) {
    LONG error = pendingError;
    PatchAbort();
    return error;
  }

  for (PatchOperation* op = operations; op != nullptr; op = op->next) {
    Trampoline* t = op->trampoline;
    if (op->isRemoval) {
      if (!op->released) std::memcpy(op->target, t->restore, t->restoreLength);
      *op->site = op->target;
    } else {
      WriteJump(op->target, t->replacement);
      std::memset(op->target + kJumpSize, 0xCC, t->restoreLength - kJumpSize);
      *op->site = t;
      t->site = op->site;
      MarkTrampolineLive(t);
    }
  }
  for (PatchThread* record = threads; record != nullptr; record = record->next) RepairThread(record->thread);

  bool freed = false;
  while (operations != nullptr) {
    PatchOperation* op = operations;
    operations = op->next;
    if (op->isRemoval) {
      RetireTrampoline(op->trampoline);
      freed = true;
    }
    if (op->released) {
      op->next = releasedRemovals;
      releasedRemovals = op;
      continue;
    }
    RestoreProtection(op);
    FlushInstructionCache(GetCurrentProcess(), op->target, op->trampoline->restoreLength);
    FreeRecord(op);
  }
  if (freed) {
    FreeRetiredTrampolines();
    FreeEmptyRegions();
  }
  MakeRegionsRunnable();
  ResumeThreads();
  Release();
  if (failedSite != nullptr) *failedSite = pendingErrorSite;
  return NO_ERROR;
}

LONG PatchAbort() {
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  while (operations != nullptr) {
    PatchOperation* op = operations;
    operations = op->next;
    if (!op->released) RestoreProtection(op);
    // A removal's trampoline stays in use: its redirection stays.
    if (!op->isRemoval) FreeTrampoline(op->trampoline);
    FreeRecord(op);
  }
  MakeRegionsRunnable();
  ResumeThreads();
  Release();
  return NO_ERROR;
}

PatchSite* PatchReleasedSite(size_t index) {
  PatchOperation* op = releasedRemovals;
  for (; op != nullptr && index > 0; --index) op = op->next;
  return op != nullptr ? op->site : nullptr;
}
