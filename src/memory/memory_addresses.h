#pragma once

// The game addresses of the memory patches; shared with entries.S and
// stubs.S.

#include "base/game_address.h"

// SlotLookupSite: slot(index) on an object; out-of-range lookups share one
// object built and destroyed by the game's own constructor (one string) and
// destructor.
GAME_ADDRESS(kSlotLookup, 0x5a8220)
GAME_ADDRESS(kEmptyObjectConstruct, 0xa511c0)
GAME_ADDRESS(kEmptyObjectDestroy, 0xa511b0)

// ReleaseLoopJump: the release loop inside a game routine, and the game
// routine the stub calls on the loop's table object with an index (the
// entry or null).
GAME_ADDRESS(kReleaseLoopJump, 0x55e050)
GAME_ADDRESS(kReleaseLoopContinue, 0x55e075)
GAME_ADDRESS(kTableEntry, 0x4885e0)

// The form heap: its allocation, its pass-through routine, and the six
// bytes of its code that push its space size (FormHeapLargerSpaceJump).
GAME_ADDRESS(kFormHeapPassThrough, 0xa487b0)
GAME_ADDRESS(kFormHeapAllocate, 0xa48d60)
GAME_ADDRESS(kFormHeapLargerSpaceJump, 0xa493d1)
GAME_ADDRESS(kFormHeapLargerSpaceContinue, 0xa493d7)
GAME_CONSTANT(kFormHeapLargerSpace, 0x102000)

// Havok's default allocator.
GAME_ADDRESS(kHavokHeapAllocate, 0xe3a260)
GAME_ADDRESS(kHavokHeapFree, 0xe3a2c0)

// The Havok resource routines.
GAME_ADDRESS(kHavokResourceLocked1, 0xbc0490)
GAME_ADDRESS(kHavokResourceLocked2, 0xbae260)
GAME_ADDRESS(kHavokResourceRelease, 0xbaad80)

// The loading deadlock fix: its four routines and the globals leading to the
// watched and the admitted thread.
GAME_ADDRESS(kSpinLockEnter, 0x401710)
GAME_ADDRESS(kGatedCall, 0x436740)
GAME_ADDRESS(kEventWait, 0xaf8630)
GAME_ADDRESS(kTrackedCall, 0xaf8ef0)
GAME_ADDRESS(kWatchedThreadRoot, 0x12e3534)
GAME_ADDRESS(kAdmittedThreadRoot, 0x1b97ecc)
