#pragma once

#include <cstdint>

#include "memory/jump_places.h"
#include "patching/transaction.h"

// The form heap: failed allocations are logged, and one place of its code
// can be made to push a larger space size.
constexpr uintptr_t kGameFormHeapPassThrough = 0xa487b0;
constexpr uintptr_t kGameFormHeapAllocate = 0xa48d60;
constexpr uintptr_t kFormHeapLargerSpaceJumpAt = FORM_HEAP_LARGER_SPACE_JUMP_AT;
constexpr uintptr_t kFormHeapLargerSpaceContinue = FORM_HEAP_LARGER_SPACE_CONTINUE;

extern "C" {
extern PatchSite FormHeapAllocateSite;
extern PatchSite FormHeapPassThroughSite;

// Game-facing entries: allocate(size, alignment, flag) on the heap object,
// returning the block or null (entries.S); the pass-through, which enters the
// game's routine with everything as found (entries.S); the stub of the
// larger-space jump (stubs.S).
void FormHeapAllocateHook();
void FormHeapPassThroughHook();
void FormHeapLargerSpaceStub();

void* AllocateFormBlock(void* heap, uint32_t size, uint32_t alignment, uint32_t flag);
}
