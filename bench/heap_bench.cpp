// Times an allocate+free pair through the Havok heap entries (in the game's
// calling convention) against the bare aligned heap in the same run, on the
// same sizes, and prints nanoseconds per pair and their ratio.

#include <malloc.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/game_access.h"
#include "memory/havok_heap.h"

namespace {

constexpr int kLive = 64;     // blocks held at once, replaced in a shifted order
constexpr int kPairs = 2000;  // pairs per batch: short, so that few are cut by another process
constexpr int kBatches = 301;

uint32_t sizes[kLive];

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A heap under test: its allocate and free, and the blocks it holds.
struct Heap {
  void* (*allocate)(uint32_t size);
  void (*release)(void* block, uint32_t size);
  void* live[kLive];
  std::vector<double> nanoseconds;  // per pair, one per batch
};

void Fill(Heap& heap) {
  for (int i = 0; i < kLive; ++i) heap.live[i] = heap.allocate(sizes[i]);
}

void Empty(Heap& heap) {
  for (int i = 0; i < kLive; ++i) heap.release(heap.live[i], sizes[i]);
}

// One batch: kPairs times, one held block is freed and replaced.
void Batch(Heap& heap) {
  LARGE_INTEGER start, stop;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kPairs; ++i) {
    const int slot = (i * 7) % kLive;
    heap.release(heap.live[slot], sizes[slot]);
    heap.live[slot] = heap.allocate(sizes[slot]);
  }
  QueryPerformanceCounter(&stop);
  heap.nanoseconds.push_back(Seconds(start, stop) * 1e9 / kPairs);
}

uint32_t allocator[4];

void* HookAllocate(uint32_t size) {
  return reinterpret_cast<void*>(
      GameRoutine<GameCall1>(reinterpret_cast<void*>(HavokHeapAllocateHook))(allocator, size));
}

void HookFree(void* block, uint32_t size) {
  GameRoutine<GameCall2>(reinterpret_cast<void*>(HavokHeapFreeHook))(
      allocator, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)), size);
}

void* BareAllocate(uint32_t size) { return _aligned_malloc(size, kHavokBlockAlignment); }
void BareFree(void* block, uint32_t) { _aligned_free(block); }

}  // namespace

int main() {
  for (int i = 0; i < kLive; ++i) sizes[i] = 16u << (i % 7);  // 16 to 1024 bytes
  Heap hook = {HookAllocate, HookFree, {}, {}};
  Heap bare = {BareAllocate, BareFree, {}, {}};
  Fill(hook);
  Fill(bare);
  // Batches alternate, so that both heaps see the same machine; the ratio is
  // taken per pair of batches.
  std::vector<double> ratios;
  for (int batch = 0; batch < kBatches; ++batch) {
    Batch(hook);
    Batch(bare);
    ratios.push_back(hook.nanoseconds.back() / bare.nanoseconds.back());
  }
  Empty(hook);
  Empty(bare);
  std::printf(
      "allocate+free, median of %d batches of %d pairs: Havok heap hook %.1f ns, bare aligned heap %.1f ns, "
      "ratio %.3f\n",
      kBatches, kPairs, Median(hook.nanoseconds), Median(bare.nanoseconds), Median(ratios));
  return 0;
}
