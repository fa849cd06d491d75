#pragma once

#include <cstdint>

#include "memory/memory_addresses.h"
#include "patching/patching.h"

// The memory patches made on every start: a bounds-checked slot lookup and
// a rewritten release loop.

// The lookup's object holds this many 32-bit slots at this offset.
constexpr uint32_t kSlotCount = 8;
constexpr uintptr_t kSlotsField = 0x10;

extern PatchSite SlotLookupSite;

extern "C" {
// Game-facing entries: lookup(index) on the object, returning a slot's
// address (entries.S); the release loop's stub (stubs.S).
void SlotLookupHook();
void ReleaseLoopStub();

uint32_t* LookUpSlot(void* object, uint32_t index);
}
