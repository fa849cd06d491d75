#pragma once

#include <windows.h>

#include <cstdint>

#include "memory/memory_addresses.h"
#include "patching/patching.h"

// The loading deadlock fix: a gated game routine runs only while the watched
// thread waits, and one chosen thread may enter a game lock held by the
// thread inside the tracked routine.

// From the watched thread's root global: [[root] + 0x78] + 0x24.
constexpr uintptr_t kWatchedThreadLink = 0x78;
// From the admitted thread's root global: [[[root] + 0x4c]] + 0x24.
constexpr uintptr_t kAdmittedThreadLink = 0x4c;
constexpr uintptr_t kThreadIdField = 0x24;
// The waitable handle in the object given to the event wait.
constexpr uintptr_t kEventHandleField = 0x30;

extern "C" {
extern PatchSite SpinLockEnterSite;
extern PatchSite GatedCallSite;
extern PatchSite EventWaitSite;
extern PatchSite TrackedCallSite;

// Game-facing entries (entries.S), each on the game's object: the event
// wait (the wait's result in EAX), the gated call, the tracked call
// (one-byte result) and the spin-lock acquire (one ignored argument).
void EventWaitHook();
void GatedCallHook();
void TrackedCallHook();
void SpinLockEnterHook();

DWORD WaitForGameEvent(void* object);
bool GatedCallAllowed();
uint32_t CallTrackedRoutine(void* object);
void EnterGameSpinLock(void* lock, uint32_t);
}
