#pragma once

#include <cstdint>

#include "memory/memory_addresses.h"
#include "patching/patching.h"

// Havok's default allocator, served by the runtime's aligned heap.
constexpr size_t kHavokBlockAlignment = 16;

extern PatchSite HavokHeapAllocateSite;
extern PatchSite HavokHeapFreeSite;

extern "C" {
// Game-facing entries (entries.S): allocate(size) on the allocator object,
// returning the block; free(block, size), returning nothing. Allocation
// never calls the game; a block that was not handed out here is freed by the
// game's own routine, with the caller's allocator object and size.
void HavokHeapAllocateHook();
void HavokHeapFreeHook();

void* AllocateHavokBlock(void* allocator, int32_t size);
void FreeHavokBlock(void* allocator, void* block, int32_t size);
}
