#pragma once

#include <cstdint>

#include "memory/memory_addresses.h"
#include "patching/patching.h"

// The form heap: failed allocations are logged, and one place of its code
// can be made to push a larger space size.

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
