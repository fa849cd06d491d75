#include "patching/region_search.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

// A made-up 32-bit address space: allocations [start, end) and a limit past
// which queries fail, as past the end of a process's user space.
struct FakeSpace {
  std::map<uint64_t, uint64_t> used;  // start -> end
  uint64_t limit = 0x7FFF0000;
  std::set<uint32_t> refused;  // addresses where allocation fails
  int queries = 0;

  void Use(uint64_t start, uint64_t end) { used[start] = end; }

  AddressSpace Space() { return AddressSpace{Query, Allocate, this}; }

  static bool Query(void* context, uint32_t address, AddressBlock* block) {
    auto* self = static_cast<FakeSpace*>(context);
    ++self->queries;
    if (address >= self->limit) return false;
    uint64_t page = address & ~uint64_t{0xFFF};
    auto next = self->used.upper_bound(address);
    if (next != self->used.begin()) {
      auto holder = std::prev(next);
      if (address < holder->second) {
        *block = AddressBlock{static_cast<uint32_t>(page), static_cast<uint32_t>(holder->first),
                              holder->second - page, false};
        return true;
      }
    }
    uint64_t end = next == self->used.end() ? self->limit : next->first;
    *block = AddressBlock{static_cast<uint32_t>(page), 0, end - page, true};
    return true;
  }

  static bool Allocate(void* context, uint32_t address) {
    auto* self = static_cast<FakeSpace*>(context);
    if (self->refused.count(address)) return false;
    self->Use(address, uint64_t{address} + kRegionSize);
    return true;
  }
};

bool InSystemArea(uint32_t region) {
  return uint64_t{region} + kRegionSize > kSystemAreaLow && region <= kSystemAreaHigh;
}

TEST(RegionWindow, ReachAndRounding) {
  ReachWindow low = ReachWindowFor(0x00401000);
  EXPECT_EQ(low.low, 0x10000u);
  EXPECT_EQ(low.high, 0x80381000u);
  ReachWindow high = ReachWindowFor(0x90000000);
  EXPECT_EQ(high.low, 0x10080000u);
  EXPECT_EQ(high.high, 0xFFF80000u);
  EXPECT_EQ(ReachWindowFor(0x7FF80000).low, 0x10000u);
  EXPECT_EQ(ReachWindowFor(0x7FF80001).low, 1u);
  EXPECT_EQ(ReachWindowFor(0x7FFFFFFF).high, 0xFFF7FFFFu);
  EXPECT_EQ(ReachWindowFor(0x80000000).high, 0xFFF80000u);
  EXPECT_TRUE(InReach(low, 0x10000));
  EXPECT_TRUE(InReach(low, 0x80381000));
  EXPECT_FALSE(InReach(low, 0xFFFF));
  EXPECT_FALSE(InReach(low, 0x80381001));

  EXPECT_EQ(RoundDown64K(0x12345678), 0x12340000u);
  EXPECT_EQ(RoundDown64K(0x12340000), 0x12340000u);
  EXPECT_EQ(RoundUp64K(0x12340000), 0x12340000u);
  EXPECT_EQ(RoundUp64K(0x12340001), 0x12350000u);
  EXPECT_EQ(RoundUp64K(0xFFFF0001), 0x100000000u);
}

TEST(RegionSearch, PrefersAboutOneGigabyteAwayFromTheTarget) {
  FakeSpace space;
  // Below 1 GiB: upward from target + 1 GiB.
  EXPECT_EQ(AllocateRegionNear(0x00401000, space.Space()), 0x40400000u);
  // Above 1 GiB: downward from target - 1 GiB.
  EXPECT_EQ(AllocateRegionNear(0x7B612345, space.Space()), 0x3B600000u);
  // Both already taken: the next ones out.
  EXPECT_EQ(AllocateRegionNear(0x00401000, space.Space()), 0x40410000u);
  EXPECT_EQ(AllocateRegionNear(0x7B612345, space.Space()), 0x3B5F0000u);
}

TEST(RegionSearch, NeverInsideTheSystemArea) {
  FakeSpace space;
  space.limit = 0xFFFF0000;  // large-address-aware process
  // Everything between 1 GiB above the target and the system area is taken.
  space.Use(0x40000000, kSystemAreaLow);
  uint32_t region = AllocateRegionNear(0x00401000, space.Space());
  EXPECT_EQ(region, kSystemAreaHigh + kRegionSize);

  // A target above the system area searches down to just below it.
  EXPECT_EQ(AllocateRegionNear(0x90000000, FakeSpace().Space()), kSystemAreaLow - kRegionSize);

  // Across the whole address space, with and without room above 2 GiB.
  for (uint64_t limit : {uint64_t{0x7FFF0000}, uint64_t{0xFFFF0000}}) {
    for (uint64_t target = 0x10000; target < limit; target += 0x3000000) {
      FakeSpace fresh;
      fresh.limit = limit;
      fresh.Use(0x20000000, 0x30000000);
      uint32_t found = AllocateRegionNear(static_cast<uint32_t>(target), fresh.Space());
      ASSERT_NE(found, 0u) << std::hex << target;
      EXPECT_FALSE(InSystemArea(found)) << std::hex << target << " -> " << found;
      EXPECT_EQ(found % kRegionSize, 0u);
      ReachWindow window = ReachWindowFor(static_cast<uint32_t>(target));
      EXPECT_TRUE(InReach(window, found + 216)) << std::hex << target << " -> " << found;
    }
  }
}

TEST(RegionSearch, FallsBackToTheSearchesNearTheTarget) {
  FakeSpace space;
  // Nothing above the system area in this process, and everything from the
  // target up to the system area taken: the region goes just below the
  // target.
  space.Use(0x30000000, kSystemAreaLow);
  EXPECT_EQ(AllocateRegionNear(0x30000000, space.Space()), 0x2FFF0000u);

  // Above 1 GiB with everything below (target - 1 GiB) taken: upward from
  // there.
  FakeSpace crowded;
  crowded.Use(0x10000, 0x08000000);
  EXPECT_EQ(AllocateRegionNear(0x48000000, crowded.Space()), 0x08000000u);
}

TEST(RegionSearch, StepsOverAllocationsAndRefusals) {
  FakeSpace space;
  // Downward from 0x3B5F0000: an allocation whose base lies well below.
  space.Use(0x3A000000, 0x3B600000);
  space.refused.insert(0x39FF0000);
  EXPECT_EQ(AllocateRegionNear(0x7B600000, space.Space()), 0x39FE0000u);

  // Upward: the candidate jumps past each allocation, rounded up to 64 KiB.
  FakeSpace up;
  up.Use(0x40400000, 0x40423000);
  up.refused.insert(0x40430000);
  EXPECT_EQ(AllocateRegionNear(0x00401000, up.Space()), 0x40440000u);
}

TEST(RegionSearch, SmallFreeGapDoesNotDerailTheDownwardSearch) {
  FakeSpace space;
  // A free gap of 32 KiB at the first candidate: its block has no allocation
  // base; the search continues below the gap.
  space.Use(0x3B5F8000, 0x3B600000);
  space.Use(0x3B500000, 0x3B5F0000);
  EXPECT_EQ(AllocateRegionNear(0x7B600000, space.Space()), 0x3B4F0000u);
  EXPECT_LT(space.queries, 10);
}

TEST(RegionSearch, FullAddressSpaceGivesNothingAndTerminates) {
  FakeSpace space;
  space.limit = 0xFFFF0000;
  space.Use(0x10000, 0xFFFF0000);
  EXPECT_EQ(AllocateRegionNear(0x00401000, space.Space()), 0u);
  EXPECT_EQ(AllocateRegionNear(0x90000000, space.Space()), 0u);
  // A block reported to run to the very end of the 32-bit space.
  FakeSpace edge;
  edge.limit = 0x100000000;
  edge.Use(0x10000, 0x100000000);
  EXPECT_EQ(AllocateRegionNear(0xC0000000, edge.Space()), 0u);
  EXPECT_LT(edge.queries, 50);
}

}  // namespace
