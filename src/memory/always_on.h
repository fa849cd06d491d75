#pragma once

#include <cstdint>

#include "memory/jump_places.h"
#include "patching/transaction.h"

// The memory patches made on every start: a bounds-checked slot lookup and
// a rewritten release loop.
constexpr uintptr_t kGameSlotLookup = 0x5a8220;
constexpr uintptr_t kReleaseLoopJumpAt = RELEASE_LOOP_JUMP_AT;
constexpr uintptr_t kReleaseLoopContinue = RELEASE_LOOP_CONTINUE;

// The lookup's object holds this many 32-bit slots at this offset.
constexpr uint32_t kSlotCount = 8;
constexpr uintptr_t kSlotsField = 0x10;

// The game's constructor (called with one string) and destructor of the
// object that out-of-range lookups share.
constexpr uintptr_t kGameEmptyObjectConstruct = 0xa511c0;
constexpr uintptr_t kGameEmptyObjectDestroy = 0xa511b0;

extern PatchSite SlotLookupSite;

extern "C" {
// Game-facing entries: lookup(index) on the object, returning a slot's
// address (entries.S); the release loop's stub (stubs.S).
void SlotLookupHook();
void ReleaseLoopStub();

uint32_t* LookUpSlot(void* object, uint32_t index);
}
