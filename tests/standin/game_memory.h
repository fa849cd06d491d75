#pragma once

#include <cstdint>

namespace standin {

// The game's routines that the memory patches redirect, call or jump into,
// in the game's member-function convention unless noted.
constexpr uint32_t kGameSpinLockEnter = 0x401710;        // enter(ignored) on a lock {owner id, count}
constexpr uint32_t kGameSpinLockLeave = 0x401760;        // leave() on the same lock
constexpr uint32_t kGameGatedCall = 0x436740;            // counts its runs in the object's first dword
constexpr uint32_t kGameTableEntry = 0x4885e0;           // entry(index) on a table {count, entries}
constexpr uint32_t kGameReleaseRange = 0x55e030;         // (begin, end) on an object; holds the release loop
constexpr uint32_t kGameReleaseLoop = 0x55e050;          // the loop inside it
constexpr uint32_t kGameSlotLookup = 0x5a8220;           // slot(index) on an object
constexpr uint32_t kGameFormHeapPassThrough = 0xa487b0;  // [object] + EDX + a - b
constexpr uint32_t kGameFormHeapAllocate = 0xa48d60;     // (size, alignment, flag) on a heap
constexpr uint32_t kGameFormHeapReserve = 0xa493c0;  // cdecl (value, out[2]); holds the larger-space place
constexpr uint32_t kGameFormHeapLargerSpace = 0xa493d1;
constexpr uint32_t kGameEmptyObjectDestroy = 0xa511b0;
constexpr uint32_t kGameEmptyObjectConstruct = 0xa511c0;
constexpr uint32_t kGameEventWait = 0xaf8630;        // waits on the handle at offset 0x30
constexpr uint32_t kGameTrackedCall = 0xaf8ef0;      // on {vtable, lock}: lock, first virtual, unlock
constexpr uint32_t kGameResourceRelease = 0xbaad80;  // (argument) on a resource, inside its game lock
constexpr uint32_t kGameResourceLocked2 = 0xbae260;  // (float, a, b, c) on {vtable, fields}
constexpr uint32_t kGameResourceLocked1 = 0xbc0490;  // first virtual of the object
constexpr uint32_t kGameHavokAllocate = 0xe3a260;    // (size) on the allocator
constexpr uint32_t kGameHavokFree = 0xe3a2c0;        // (block, size) on the allocator

// Game globals the patches read.
constexpr uint32_t kWatchedThreadRoot = 0x12e3534;
constexpr uint32_t kAdmittedThreadRoot = 0x1b97ecc;

// The stand-in's own records, in game memory.
constexpr uint32_t kWaitForSingleObjectSlot = 0x1bf0000;  // as in the game's import table
constexpr uint32_t kHavokArenaNext = 0x1bf0010;
constexpr uint32_t kHavokGameAllocations = 0x1bf0014;
constexpr uint32_t kHavokGameFrees = 0x1bf0018;
constexpr uint32_t kEmptyObjectConstructions = 0x1bf0020;
constexpr uint32_t kEmptyObjectDestroyed = 0x1bf0024;  // the object last destroyed
constexpr uint32_t kHavokGameLastFree = 0x1bf0030;     // {allocator, block, size} of the last game free
constexpr uint32_t kHavokArena = 0x1bf1000;

// Copies the routines to their addresses and sets up the records.
void PlaceGameMemory();

}  // namespace standin
