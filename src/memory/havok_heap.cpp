// Before any header that may bring in stdlib.h: declares rand_s.
#define _CRT_RAND_S
#include "memory/havok_heap.h"

#include <malloc.h>
#include <stdlib.h>
#include <windows.h>

#include <cstdio>

#include "base/game_access.h"
#include "base/log.h"

PatchSite HavokHeapAllocateSite = reinterpret_cast<PatchSite>(game::kHavokHeapAllocate);
PatchSite HavokHeapFreeSite = reinterpret_cast<PatchSite>(game::kHavokHeapFree);

namespace {

// Havok keeps flags in the top bit of some of its pointers.
constexpr uintptr_t kHighAddressBit = 0x80000000u;

// Every block handed out here follows a header of its own: its last three
// words hold the header's size and a mark derived from the block's address
// and two keys chosen at random once per process, so that blocks the game's
// allocator handed out (before the redirection, or from elsewhere) are told
// apart, whatever data lies before them, and go back to the game. No block
// handed out here starts a page (its header then takes 32 bytes): the mark
// of a block that does is never read, as the page before may be unreadable.
constexpr size_t kHeaderSize = kHavokBlockAlignment;
constexpr size_t kLargerHeaderSize = 2 * kHavokBlockAlignment;
constexpr uintptr_t kPageSize = 0x1000;

struct Header {
  uint32_t size;
  uint32_t mark[2];
};

uint32_t markKeys[2];
bool markKeysChosen;

// Chosen on the first allocation rather than while the library loads, as
// the random source may load a library of its own.
BOOL CALLBACK ChooseMarkKeys(INIT_ONCE*, void*, void**) {
  for (uint32_t& key : markKeys) {
    unsigned value;
    if (rand_s(&value) != 0) {
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      value = now.LowPart ^ (GetCurrentProcessId() << 16) ^
              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&key));
    }
    key = value;
  }
  __atomic_store_n(&markKeysChosen, true, __ATOMIC_RELEASE);
  return TRUE;
}

Header* HeaderOf(uintptr_t block) { return reinterpret_cast<Header*>(block - sizeof(Header)); }

uint32_t FirstMark(uintptr_t block) { return static_cast<uint32_t>(block) ^ markKeys[0]; }
uint32_t SecondMark(uintptr_t block, uint32_t headerSize) {
  return (_rotl(static_cast<uint32_t>(block), 16) + headerSize) ^ markKeys[1];
}

// The header's size when the block was handed out here, else 0. A block
// that starts a page is foreign without a look at the page before it.
uint32_t OwnHeaderSize(uintptr_t block) {
  if (block % kHavokBlockAlignment != 0 || block % kPageSize == 0 || block < kPageSize ||
      !__atomic_load_n(&markKeysChosen, __ATOMIC_ACQUIRE))
    return 0;
  const Header& header = *HeaderOf(block);
  const bool own = (header.size == kHeaderSize || header.size == kLargerHeaderSize) &&
                   header.mark[0] == FirstMark(block) && header.mark[1] == SecondMark(block, header.size);
  return own ? header.size : 0;
}

// A block `headerSize` bytes into `start`, marked as handed out here.
uintptr_t MarkBlock(void* start, uint32_t headerSize) {
  const uintptr_t block = reinterpret_cast<uintptr_t>(start) + headerSize;
  *HeaderOf(block) = {headerSize, {FirstMark(block), SecondMark(block, headerSize)}};
  return block;
}

// A block that would start a page is given a larger header; the first try
// is held until the second is made, so that the second lies elsewhere.
void* AllocateStart(size_t size, uint32_t& headerSize) {
  headerSize = kHeaderSize;
  void* start = _aligned_malloc(size + kHeaderSize, kHavokBlockAlignment);
  if (start == nullptr || (reinterpret_cast<uintptr_t>(start) + kHeaderSize) % kPageSize != 0) return start;
  void* larger = _aligned_malloc(size + kLargerHeaderSize, kHavokBlockAlignment);
  _aligned_free(start);
  if (larger != nullptr && (reinterpret_cast<uintptr_t>(larger) + kHeaderSize) % kPageSize == 0)
    headerSize = kLargerHeaderSize;
  return larger;
}

// Blocks above 2 GiB counted so far; the warning is written for the first and
// then whenever the count reaches a further power of 16.
volatile LONG highBlocks;

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
  static INIT_ONCE keysOnce = INIT_ONCE_STATIC_INIT;
  if (!__atomic_load_n(&markKeysChosen, __ATOMIC_ACQUIRE))
    InitOnceExecuteOnce(&keysOnce, ChooseMarkKeys, nullptr, nullptr);
  // A negative size is refused here: the runtime adds its own overhead to
  // the size, which can wrap around and give a block far smaller than asked.
  uint32_t headerSize = 0;
  void* start = size >= 0 ? AllocateStart(static_cast<size_t>(size), headerSize) : nullptr;
  if (start == nullptr) {
    char text[1000];
    std::snprintf(text, sizeof text, "Allocate %d bytes failed\n", size);
    LogLine(GetLog(), LogError, "Havok memory allocate failed\n%s", text);
    return nullptr;
  }
  const uintptr_t block = MarkBlock(start, headerSize);
  if ((block & kHighAddressBit) != 0) WarnHighBlock();
  return reinterpret_cast<void*>(block);
}

extern "C" void FreeHavokBlock(void* allocator, void* pointer, int32_t size) {
  const auto block = reinterpret_cast<uintptr_t>(pointer);
  if (block == 0) return;
  const uint32_t headerSize = OwnHeaderSize(block);
  if (headerSize == 0) {
    GameRoutine<GameCall2>(HavokHeapFreeSite)(allocator, block, static_cast<uint32_t>(size));
    return;
  }
  // Changed so that the memory, once freed or reused, no longer passes for
  // a block: a second free of it goes to the game, not to the aligned heap.
  HeaderOf(block)->mark[0] = ~FirstMark(block);
  _aligned_free(reinterpret_cast<void*>(block - headerSize));
}
