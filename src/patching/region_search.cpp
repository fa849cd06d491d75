#include "patching/region_search.h"

namespace {

constexpr uint32_t kOneGiB = 0x40000000;
constexpr uint32_t kReach = 0x7FF80000;
constexpr uint32_t kLowestRegion = 0x10000;
constexpr uint32_t kHighestSlot = 0xFFF80000;
constexpr uint32_t kUpperHalf = 0x80000000;
constexpr uint32_t kBelowSystemArea = kSystemAreaLow - kRegionSize;
constexpr uint32_t kAboveSystemArea = kSystemAreaHigh + kRegionSize;

bool InSystemArea(uint64_t candidate) { return candidate >= kSystemAreaLow && candidate <= kSystemAreaHigh; }

bool UsableFreeBlock(const AddressBlock& block) { return block.free && block.size >= kRegionSize; }

// Downward from just below `hi` while above `lo`.
uint32_t SearchDown(uint32_t lo, uint32_t hi, const AddressSpace& space) {
  if (hi < kRegionSize) return 0;
  uint64_t candidate = RoundDown64K(hi - kRegionSize);
  while (candidate > lo) {
    if (InSystemArea(candidate)) {
      candidate = kBelowSystemArea;
      continue;
    }
    uint32_t address = static_cast<uint32_t>(candidate);
    AddressBlock block;
    if (!space.query(space.context, address, &block)) return 0;
    uint64_t next;
    if (UsableFreeBlock(block)) {
      if (space.allocate(space.context, address)) return address;
      next = candidate - kRegionSize;
    } else {
      // A free block knows no allocation base; step below the block itself.
      uint32_t below = block.free ? block.base : block.allocationBase;
      if (below < kRegionSize) return 0;
      next = RoundDown64K(below - kRegionSize);
    }
    if (next >= candidate) return 0;
    candidate = next;
  }
  return 0;
}

// Upward from `lo` while below `hi`.
uint32_t SearchUp(uint32_t lo, uint32_t hi, const AddressSpace& space) {
  uint64_t candidate = RoundUp64K(lo);
  while (candidate < hi) {
    if (InSystemArea(candidate)) {
      candidate = kAboveSystemArea;
      continue;
    }
    uint32_t address = static_cast<uint32_t>(candidate);
    AddressBlock block;
    if (!space.query(space.context, address, &block)) return 0;
    uint64_t next;
    if (UsableFreeBlock(block)) {
      if (space.allocate(space.context, address)) return address;
      next = candidate + kRegionSize;
    } else {
      next = RoundUp64K(static_cast<uint64_t>(block.base) + block.size);
    }
    if (next <= candidate) return 0;
    candidate = next;
  }
  return 0;
}

}  // namespace

ReachWindow ReachWindowFor(uint32_t target) {
  ReachWindow window;
  window.low = target > kReach ? target - kReach : kLowestRegion;
  window.high = target < kUpperHalf ? target + kReach : kHighestSlot;
  return window;
}

bool InReach(const ReachWindow& window, uintptr_t address) {
  return address >= window.low && address <= window.high;
}

uint32_t RoundDown64K(uint32_t address) { return address & ~(kRegionSize - 1); }

uint64_t RoundUp64K(uint64_t address) {
  return (address & (kRegionSize - 1)) == 0 ? address : (address & ~uint64_t{kRegionSize - 1}) + kRegionSize;
}

uint32_t AllocateRegionNear(uint32_t target, const AddressSpace& space) {
  ReachWindow window = ReachWindowFor(target);
  uint32_t t = RoundDown64K(target);
  uint32_t found = 0;
  if (t > kOneGiB) found = SearchDown(window.low, t - kOneGiB, space);
  if (!found && t < kOneGiB) found = SearchUp(t + kOneGiB, window.high, space);
  if (!found && t > kOneGiB) found = SearchUp(t - kOneGiB, t, space);
  if (!found && t < kOneGiB) found = SearchDown(t, t + kOneGiB, space);
  if (!found) found = SearchDown(window.low, t, space);
  if (!found) found = SearchUp(t, window.high, space);
  return found;
}
