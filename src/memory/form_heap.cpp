#include "memory/form_heap.h"

#include <cstdio>

#include "base/game_access.h"
#include "base/log.h"

PatchSite FormHeapAllocateSite = reinterpret_cast<PatchSite>(game::kFormHeapAllocate);
PatchSite FormHeapPassThroughSite = reinterpret_cast<PatchSite>(game::kFormHeapPassThrough);

extern "C" void* AllocateFormBlock(void* heap, uint32_t size, uint32_t alignment, uint32_t flag) {
  const uint32_t block = GameRoutine<GameCall3>(FormHeapAllocateSite)(heap, size, alignment, flag);
  if (block == 0) {
    char text[100];
    std::snprintf(text, sizeof text, "Allocate %u bytes with alignment %u bytes failed", size, alignment);
    LogLine(GetLog(), LogError, "%s", text);
  }
  return reinterpret_cast<void*>(static_cast<uintptr_t>(block));
}
