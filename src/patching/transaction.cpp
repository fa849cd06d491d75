#include <cstdint>
#include <cstring>
#include <new>

#include "patching/code_pointer.h"
#include "patching/patching.h"
#include "patching/readable_memory.h"
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

constexpr size_t kPageSize = 0x1000;

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

bool IsCallingThread(HANDLE thread) {
  return thread == GetCurrentThread() || GetThreadId(thread) == GetCurrentThreadId();
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
    delete record;
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
// still run while the commit rewrites the code under it. A handle without
// context access keeps the asynchronous suspension, as before.
void WaitUntilStopped(HANDLE thread) {
  CONTEXT context;
  ControlContext(thread, &context);
}

// Moves a suspended thread that stopped in code being rewritten to the place
// where the same instruction now lives.
void RepairThread(HANDLE thread) {
  CONTEXT context;
  if (!ControlContext(thread, &context)) return;
  uintptr_t ip = context.Eip;
  for (PatchOperation* op = operations; op != nullptr; op = op->next) {
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
  MakeRegionsWritable();
  return NO_ERROR;
}

LONG PatchUpdateThread(HANDLE thread) {
  // Only the owner may add to the thread list: a thread suspended outside a
  // transaction would never be resumed.
  if (!CallerOwns()) return ERROR_INVALID_OPERATION;
  if (pendingError != NO_ERROR) return pendingError;
  // Suspending the calling thread would never return.
  if (IsCallingThread(thread)) return NO_ERROR;
  auto* record = new (std::nothrow) PatchThread;
  LONG error = NO_ERROR;
  if (record == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
    error = LastErrorOr(ERROR_INVALID_HANDLE);
    delete record;
  }
  if (error != NO_ERROR) return Fail(error, nullptr);
  WaitUntilStopped(thread);
  record->thread = thread;
  record->next = threads;
  threads = record;
  return NO_ERROR;
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

  if (AlreadyQueued(site, target)) return Fail(ERROR_INVALID_BLOCK, site);

  auto* op = new (std::nothrow) PatchOperation;
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
    if (error == NO_ERROR) error = Unprotect(op, target, trampoline->restoreLength);
  }
  if (error != NO_ERROR) {
    if (trampoline != nullptr) FreeTrampoline(trampoline);
    delete op;
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

  auto* trampoline = static_cast<Trampoline*>(PatchCodeFromPointer(*site));
  // A site that leads to no trampoline of this engine was never attached, or
  // is already removed: there is nothing to take away.
  if (!IsInTrampolineRegion(trampoline)) return NO_ERROR;
  void* resolved = PatchCodeFromPointer(replacement);
  // Only a committed trampoline of this engine is read.
  if (!IsLiveTrampoline(trampoline) || trampoline->restoreLength == 0 ||
      trampoline->restoreLength > kRestoreSize || trampoline->replacement != resolved) {
    return Fail(ERROR_INVALID_BLOCK, site);
  }
  uint8_t* target = trampoline->remainder - trampoline->restoreLength;
  if (AlreadyQueued(site, target)) return Fail(ERROR_INVALID_BLOCK, site);
  auto* op = new (std::nothrow) PatchOperation;
  if (op == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, site);
  LONG error = Unprotect(op, target, trampoline->restoreLength);
  if (error != NO_ERROR) {
    delete op;
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
      std::memcpy(op->target, t->restore, t->restoreLength);
      *op->site = op->target;
    } else {
      WriteJump(op->target, t->replacement);
      std::memset(op->target + kJumpSize, 0xCC, t->restoreLength - kJumpSize);
      *op->site = t;
      MarkTrampolineLive(t);
    }
  }
  for (PatchThread* record = threads; record != nullptr; record = record->next) RepairThread(record->thread);

  bool freed = false;
  while (operations != nullptr) {
    PatchOperation* op = operations;
    operations = op->next;
    RestoreProtection(op);
    FlushInstructionCache(GetCurrentProcess(), op->target, op->trampoline->restoreLength);
    if (op->isRemoval) {
      RetireTrampoline(op->trampoline);
      freed = true;
    }
    delete op;
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
    RestoreProtection(op);
    // A removal's trampoline stays in use: its redirection stays.
    if (!op->isRemoval) FreeTrampoline(op->trampoline);
    delete op;
  }
  MakeRegionsRunnable();
  ResumeThreads();
  Release();
  return NO_ERROR;
}
