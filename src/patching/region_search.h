#pragma once

#include <cstdint>

// Where trampoline regions may go: the reach window of a target and the
// search of the 32-bit address space for a free 64 KiB block near it. The
// address space is reached through callbacks, so the search runs on real
// memory in the plug-in and on a made-up map in tests.

constexpr uint32_t kRegionSize = 0x10000;
// The system libraries' area, never used for regions.
constexpr uint32_t kSystemAreaLow = 0x50000000;
constexpr uint32_t kSystemAreaHigh = 0x80000000;

// Addresses from which a 32-bit relative jump reaches the target, with a
// margin (both bounds inclusive).
struct ReachWindow {
  uint32_t low;
  uint32_t high;
};
ReachWindow ReachWindowFor(uint32_t target);
bool InReach(const ReachWindow& window, uintptr_t address);

uint32_t RoundDown64K(uint32_t address);
// May give 2^32 for addresses in the last 64 KiB.
uint64_t RoundUp64K(uint64_t address);

struct AddressBlock {
  uint32_t base;            // first page of the block holding the queried address
  uint32_t allocationBase;  // start of its allocation (meaningless when free)
  uint64_t size;            // bytes from `base` to the end of the block
  bool free;
};

struct AddressSpace {
  // Describes the block holding `address`; false when the address cannot be
  // queried (past the end of the process's address space).
  bool (*query)(void* context, uint32_t address, AddressBlock* block);
  // Commits kRegionSize executable, writable bytes at `address`.
  bool (*allocate)(void* context, uint32_t address);
  void* context;
};

// Allocates a region for trampolines of `target`, searching first about
// 1 GiB away from the target and then outward from it, and never inside
// [kSystemAreaLow, kSystemAreaHigh]. Returns its address, or 0.
uint32_t AllocateRegionNear(uint32_t target, const AddressSpace& space);
