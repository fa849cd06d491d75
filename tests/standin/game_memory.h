#pragma once

#include <cstdint>

#include "memory/memory_addresses.h"
#include "standin/standin_sites.h"

// The game's routines that the memory patches redirect, call or jump into,
// in the game's member-function convention unless noted:
//   game::kSpinLockEnter      enter(ignored) on a lock {owner id, count}
//   kGameSpinLockLeave        leave() on the same lock
//   game::kGatedCall          counts its runs in the object's first dword
//   game::kTableEntry         entry(index) on a table {count, entries}
//   kGameReleaseRange         (begin, end) on an object; holds the release loop
//   game::kSlotLookup         slot(index) on an object
//   game::kFormHeapPassThrough  [object] + EDX + a - b
//   game::kFormHeapAllocate   (size, alignment, flag) on a heap
//   kGameFormHeapReserve      cdecl (value, out[2]); holds the larger-space place
//   game::kEventWait          waits on the handle at offset 0x30
//   game::kTrackedCall        on {vtable, lock}: lock, first virtual, unlock
//   game::kHavokResourceRelease  (argument) on a resource, inside its game lock
//   game::kHavokResourceLocked2  (float, a, b, c) on {vtable, fields}
//   game::kHavokResourceLocked1  first virtual of the object
//   game::kHavokHeapAllocate  (size) on the allocator
//   game::kHavokHeapFree      (block, size) on the allocator

namespace standin {

// Copies the routines to their addresses and sets up the records.
void PlaceGameMemory();

}  // namespace standin
