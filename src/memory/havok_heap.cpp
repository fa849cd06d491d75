#include "memory/havok_heap.h"

#include <malloc.h>
#include <windows.h>

#include <cstdio>

#include "base/game_access.h"
#include "base/log.h"

PatchSite HavokHeapAllocateSite = reinterpret_cast<PatchSite>(game::kHavokHeapAllocate);
PatchSite HavokHeapFreeSite = reinterpret_cast<PatchSite>(game::kHavokHeapFree);

namespace {

// Havok keeps flags in the top bit of some of its pointers.
constexpr uintptr_t kHighAddressBit = 0x80000000u;

// Every block handed out here follows a header of its own; the header's last
// two words hold a mark derived from the block's address, so that blocks the
// game's allocator handed out (before the redirection, or from elsewhere) are
// told apart and go back to the game.
constexpr size_t kHeaderSize = kHavokBlockAlignment;
constexpr size_t kMarkSize = 2 * sizeof(uint32_t);
constexpr uint32_t kMarkKey1 = 0x5A17C0DEu;
constexpr uint32_t kMarkKey2 = 0xB10C4EADu;
constexpr uintptr_t kPageSize = 0x1000;

// Blocks above 2 GiB counted so far; the warning is written for the first and
// then whenever the count reaches a further power of 16.
volatile LONG highBlocks;

uint32_t* MarkOf(uintptr_t block) { return reinterpret_cast<uint32_t*>(block - kMarkSize); }

void SetMark(uintptr_t block, uint32_t first, uint32_t second) {
  MarkOf(block)[0] = first;
  MarkOf(block)[1] = second;
}

uint32_t FirstMark(uintptr_t block) { return static_cast<uint32_t>(block) ^ kMarkKey1; }
uint32_t SecondMark(uintptr_t block) { return _rotl(static_cast<uint32_t>(block), 16) ^ kMarkKey2; }

bool Readable(uintptr_t address) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region) == 0) return false;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 &&
         (region.Protect & PAGE_GUARD) == 0;
}

// A foreign block may begin a page whose predecessor is not readable: that
// page is checked before the mark is read from it.
bool HandedOutHere(uintptr_t block) {
  if (block % kHavokBlockAlignment != 0 || block < kHeaderSize) return false;
  if (block % kPageSize < kMarkSize && !Readable(block - kMarkSize)) return false;
  const uint32_t* mark = MarkOf(block);
  return mark[0] == FirstMark(block) && mark[1] == SecondMark(block);
}

void WarnHighBlock() {
  const auto count = static_cast<uint32_t>(InterlockedIncrement(&highBlocks));
  if (count == 1) {
    LogLine(GetLog(), LogWarning, "havok in skyrim doesn't support address > 2gb");
  } else if ((count & (count - 1)) == 0 && __builtin_ctz(count) % 4 == 0) {
    LogLine(GetLog(), LogWarning, "havok in skyrim doesn't support address > 2gb (%u blocks so far)", count);
  }
}

}  // namespace

extern "C" void* AllocateHavokBlock(void*, int32_t size) {
  // A negative size is refused here: the runtime adds its own overhead to
  // the size, which can wrap around and give a block far smaller than asked.
  void* start =
      size >= 0 ? _aligned_malloc(static_cast<size_t>(size) + kHeaderSize, kHavokBlockAlignment) : nullptr;
  if (start == nullptr) {
    char text[1000];
    std::snprintf(text, sizeof text, "Allocate %d bytes failed\n", size);
    LogLine(GetLog(), LogError, "Havok memory allocate failed\n%s", text);
    return nullptr;
  }
  const uintptr_t block = reinterpret_cast<uintptr_t>(start) + kHeaderSize;
  SetMark(block, FirstMark(block), SecondMark(block));
  if ((block & kHighAddressBit) != 0) WarnHighBlock();
  return reinterpret_cast<void*>(block);
}

extern "C" void FreeHavokBlock(void* allocator, void* pointer, int32_t size) {
  const auto block = reinterpret_cast<uintptr_t>(pointer);
  if (block == 0) return;
  if (!HandedOutHere(block)) {
    GameRoutine<GameCall2>(HavokHeapFreeSite)(allocator, block, static_cast<uint32_t>(size));
    return;
  }
  // Cleared so that the memory, once reused, no longer passes for a block.
  SetMark(block, 0, 0);
  _aligned_free(reinterpret_cast<void*>(block - kHeaderSize));
}
