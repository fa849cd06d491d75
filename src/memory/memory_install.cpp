#include "memory/memory_install.h"

#include "base/feature_status.h"
#include "base/jump.h"
#include "base/log.h"
#include "memory/always_on.h"
#include "memory/form_heap.h"
#include "memory/havok_heap.h"
#include "memory/infinite_load.h"
#include "memory/load_thread.h"
#include "patching/patching.h"

DWORD LoadThreadId;

namespace {

constexpr char kSection[] = "Memory";

// What the installer redirected, for the remover.
bool recordFormHeapAllocateFailed;
bool fixInfiniteLoad;
bool replaceDefaultHavokHeap;

void Attach(PatchSite& site, void (*replacement)()) {
  PatchAttach(&site, reinterpret_cast<void*>(replacement));
}
void Detach(PatchSite& site, void (*replacement)()) {
  PatchDetach(&site, reinterpret_cast<void*>(replacement));
}

}  // namespace

// The engine's results are not examined: a refused transaction leaves the
// game's own routines in place.
void InstallMemoryPatches() {
  LoadThreadId = GetCurrentThreadId();

  recordFormHeapAllocateFailed =
      ReadFeatureSetting(Feature::FormHeapLog, kSection, "RecordFormHeapAllocateFailed", false);
  if (recordFormHeapAllocateFailed) {
    Attach(FormHeapAllocateSite, FormHeapAllocateHook);
    Attach(FormHeapPassThroughSite, FormHeapPassThroughHook);
  }
  if (ReadFeatureSetting(Feature::FormHeapLargerSpace, kSection, "FormHeapAllocateFromLargerSpace", false)) {
    WriteRelJump(game::kFormHeapLargerSpaceJump, reinterpret_cast<const void*>(FormHeapLargerSpaceStub));
  }

  fixInfiniteLoad = ReadFeatureSetting(Feature::InfiniteLoad, kSection, "FixInfiniteLoad", true);
  if (fixInfiniteLoad) {
    Attach(EventWaitSite, EventWaitHook);
    Attach(GatedCallSite, GatedCallHook);
    Attach(TrackedCallSite, TrackedCallHook);
    Attach(SpinLockEnterSite, SpinLockEnterHook);
  }

  replaceDefaultHavokHeap = ReadFeatureSetting(Feature::HavokHeap, kSection, "ReplaceDefaultHavokHeap", true);
  if (replaceDefaultHavokHeap) {
    Attach(HavokHeapAllocateSite, HavokHeapAllocateHook);
    Attach(HavokHeapFreeSite, HavokHeapFreeHook);
  }

  Attach(SlotLookupSite, SlotLookupHook);
  WriteRelJump(game::kReleaseLoopJump, reinterpret_cast<const void*>(ReleaseLoopStub));
  LogLine(GetLog(), LogInfo, "Memory Hooked");
}

// The pass-through, the tracked call and the spin-lock acquire stay
// redirected, and the jumps stay written.
void RemoveMemoryPatches() {
  if (recordFormHeapAllocateFailed) Detach(FormHeapAllocateSite, FormHeapAllocateHook);
  if (fixInfiniteLoad) {
    Detach(EventWaitSite, EventWaitHook);
    Detach(GatedCallSite, GatedCallHook);
  }
  if (replaceDefaultHavokHeap) {
    Detach(HavokHeapAllocateSite, HavokHeapAllocateHook);
    Detach(HavokHeapFreeSite, HavokHeapFreeHook);
  }
  Detach(SlotLookupSite, SlotLookupHook);
}
