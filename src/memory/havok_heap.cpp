#include "memory/havok_heap.h"

#include <malloc.h>

#include <cstdio>

#include "plugin/log.h"

PatchSite HavokHeapAllocateSite = reinterpret_cast<PatchSite>(kGameHavokHeapAllocate);
PatchSite HavokHeapFreeSite = reinterpret_cast<PatchSite>(kGameHavokHeapFree);

namespace {

// Havok keeps flags in the top bit of some of its pointers.
constexpr uintptr_t kHighAddressBit = 0x80000000u;

}  // namespace

extern "C" void* AllocateHavokBlock(void*, int32_t size) {
  // A negative size is refused here: the runtime adds its own overhead to
  // the size, which can wrap around and give a block far smaller than asked.
  void* block = size >= 0 ? _aligned_malloc(static_cast<size_t>(size), kHavokBlockAlignment) : nullptr;
  if (block == nullptr) {
    char text[1000];
    std::snprintf(text, sizeof text, "Allocate %d bytes failed\n", size);
    LogLine(GetLog(), LogError, "Havok memory allocate failed\n%s", text);
    return nullptr;
  }
  if ((reinterpret_cast<uintptr_t>(block) & kHighAddressBit) != 0) {
    LogLine(GetLog(), LogWarning, "havok in skyrim doesn't support address > 2gb");
  }
  return block;
}

extern "C" void FreeHavokBlock(void*, void* block, int32_t) { _aligned_free(block); }
