#pragma once

#include <cstdint>

#include "memory/memory_addresses.h"
#include "patching/patching.h"

// Havok resource handling: two routines serialised behind their own locks,
// and the release of named resources deferred (or suppressed by
// "doNotReleaseHavokResource").

// The resource object: a pointer to a pointer to its naming object, whose
// fourth virtual function returns the name; a field that is zero for
// resources released at once.
constexpr uintptr_t kResourceNamingField = 0x08;
constexpr uintptr_t kResourceRetainField = 0x0C;
constexpr uint32_t kNameFunctionSlot = 3;

extern PatchSite HavokResourceLockedSite1;
extern PatchSite HavokResourceLockedSite2;
extern PatchSite HavokResourceReleaseSite;

// Called inside the load transaction: reads the key, then redirects the
// three routines whatever it says. The remover runs in the shut-down
// transaction.
void InstallHavokResourceRetention();
void RemoveHavokResourceRetention();

extern "C" {
// Game-facing entries (entries.S), each on the game's object: locked
// routine 1 (no arguments, 32-bit result), locked routine 2 (a float, then
// three 32-bit values), release(argument).
void HavokResourceLockedHook1();
void HavokResourceLockedHook2();
void HavokResourceReleaseHook();

uint32_t CallLockedRoutine1(void* object);
void CallLockedRoutine2(void* object, uint32_t scale, uint32_t a, uint32_t b, uint32_t c);
void ReleaseHavokResource(void* resource, uint32_t argument);
}
