#pragma once

#include <cstddef>

#include "patching/trampoline.h"

// Trampolines live in 64 KiB regions of executable memory near their
// targets, handed out from per-region free lists. Only the thread that owns
// the open patch transaction calls these.

// A free slot within reach of `target`, filled with int3 and queued; null
// when no region can hold one.
Trampoline* AllocTrampoline(const void* target);
// Gives a slot back to its region's free list.
void FreeTrampoline(Trampoline* trampoline);
// A committed attach makes its slot live; a committed detach retires it.
void MarkTrampolineLive(Trampoline* trampoline);
void RetireTrampoline(Trampoline* trampoline);
// Frees every retired slot that no live or retired slot runs through.
void FreeRetiredTrampolines();
// Releases every region whose slots are all free.
void FreeEmptyRegions();
// Every region read-write-execute (while a transaction is open).
void MakeRegionsWritable();
// Every region execute-read, with the instruction cache flushed.
void MakeRegionsRunnable();
// Whether `address` is the start of a live slot in one of the regions.
bool IsLiveTrampoline(const void* address);
// Whether [start, start + length) meets the target bytes moved by a queued or
// live slot other than `except`: two redirections sharing bytes cannot both
// be undone.
bool RedirectedBytesMeet(const Trampoline* except, const void* start, size_t length);
// Whether `address` lies in one of the regions.
bool IsInTrampolineRegion(const void* address);

// Region layout: a header in slot 0, slots 1 and 2 unused, trampolines in
// slots 3 to 909.
constexpr size_t kTrampolineSlotSize = sizeof(Trampoline);
constexpr size_t kFirstTrampolineSlot = 3;
constexpr size_t kLastTrampolineSlot = 909;
constexpr uint32_t kRegionSignature = 0x52727464;  // "dtrR" in memory order
