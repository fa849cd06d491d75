#pragma once

// The stand-in game's own sites: routines of the game that the plug-in does
// not name, and the records the stand-in routines keep in game memory.
// Shared with the stand-in's assembly (constants in namespace standin in
// C++, absolute symbols in assembly).

#include "base/game_address.h"

// Memory: leave() on a spin lock; the routine holding the release loop
// ((begin, end) on an object); the cdecl routine holding the form heap's
// larger-space site ((value, out[2])).
SHARED_CONSTANT(standin, kGameSpinLockLeave, 0x401760)
SHARED_CONSTANT(standin, kGameReleaseRange, 0x55e030)
SHARED_CONSTANT(standin, kGameFormHeapReserve, 0xa493c0)

// Memory records.
SHARED_CONSTANT(standin, kWaitForSingleObjectSlot, 0x1bf0000)  // as in the game's import table
SHARED_CONSTANT(standin, kHavokArenaNext, 0x1bf0010)
SHARED_CONSTANT(standin, kHavokGameAllocations, 0x1bf0014)
SHARED_CONSTANT(standin, kHavokGameFrees, 0x1bf0018)
SHARED_CONSTANT(standin, kEmptyObjectConstructions, 0x1bf0020)
SHARED_CONSTANT(standin, kEmptyObjectDestroyed, 0x1bf0024)  // the object last destroyed
SHARED_CONSTANT(standin, kHavokGameLastFree, 0x1bf0030)     // {allocator, block, size} of the last game free
SHARED_CONSTANT(standin, kHavokArena, 0x1bf1000)

// Camera records: the distance, the offset's three floats and the pointer
// to them (may be made null); bits set when a call inside the camera routine
// did not keep a register (1 for the distance call, 2 for the offset call);
// the reference the name test was given (EDX); the name the test refuses;
// the registers noted before each call.
SHARED_CONSTANT(standin, kCameraDistanceValue, 0x1b40000)
SHARED_CONSTANT(standin, kCameraOffsetValues, 0x1b40010)
SHARED_CONSTANT(standin, kNameTestReference, 0x1b40020)
SHARED_CONSTANT(standin, kCameraOffsetPointer, 0x1b40024)
SHARED_CONSTANT(standin, kCameraRegisterFaults, 0x1b40028)
SHARED_CONSTANT(standin, kCameraSavedEbp, 0x1b4002c)
SHARED_CONSTANT(standin, kCameraSavedTop, 0x1b40030)
SHARED_CONSTANT(standin, kNameRefusedByTest, 0xdead)

// The routine holding the site of the inserted sleep.
SHARED_CONSTANT(standin, kGameSleepRoutine, 0x6f4080)
