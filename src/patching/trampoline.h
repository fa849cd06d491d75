#pragma once

#include <cstddef>
#include <cstdint>

// The trampoline record and the pure parts of building one: the bytes moved
// out of a target function, relocated, followed by a jump back to the rest of
// the function, and what a later removal needs.

constexpr size_t kJumpSize = 5;  // E9 rel32
constexpr size_t kTrampolineCodeSize = 30;
constexpr size_t kAlignEntries = 8;
// Whole instructions are moved until this many target bytes are covered.
constexpr size_t kMinMovedBytes = kJumpSize;
// At most 4 bytes and one instruction of at most 15: any longer move would be
// a decoding fault and is refused.
constexpr size_t kMaxMovedBytes = 19;
constexpr size_t kRestoreSize = kMaxMovedBytes;
// Bytes of the target that FillTrampoline may read.
constexpr size_t kTargetReadSize = 64;

// Where a slot is in its life. A retired slot's redirection is removed, but
// another redirection still runs through its code (a hook placed on the
// trampoline itself), so the slot stays until that one is removed too.
enum SlotState : uint8_t { kSlotFree = 0, kSlotQueued = 1, kSlotLive = 2, kSlotRetired = 3 };

// An instruction boundary: low 3 bits = offset in the target, high 5 bits =
// offset in the trampoline's code.
using AlignEntry = uint8_t;

struct Trampoline {
  uint8_t code[kTrampolineCodeSize];
  uint8_t codeLength;
  uint8_t restoreLength;
  uint8_t restore[kRestoreSize];
  uint8_t state;  // SlotState
  // The site variable of the committed attach: only that site removes it.
  void* site;
  AlignEntry align[kAlignEntries];
  // Target + restore length; the free-list link while the slot is free.
  uint8_t* remainder;
  void* replacement;
};
static_assert(sizeof(void*) != 4 || sizeof(Trampoline) == 72, "trampoline slots are 72 bytes");

// Writes E9 and the 32-bit displacement from `at` + 5 to `to` at `at`.
void WriteJump(uint8_t* at, const void* to);

// Moves whole instructions from the start of `target` into `t` until at least
// 5 bytes are covered, and completes `t` (code, jump back, restore bytes,
// alignment table, remainder, replacement). `bytes` holds a copy of the
// target's first bytes (kTargetReadSize of them, of which only the first
// `available` are the target's own), so that decoding never reads the
// target itself. `t` must be filled with CC. Returns kPatchOk or:
// - kPatchInvalidBlock: fewer than 5 bytes before the function ends, an
//   instruction the copier does not move, a branch that cannot be carried
//   (LOOP/JECXZ) or that lands inside the moved bytes;
// - kPatchInvalidHandle: more bytes would have to move than the restore area
//   or the code area holds, or the move runs past the readable bytes.
int32_t FillTrampoline(Trampoline* t, const uint8_t* target, const uint8_t* bytes, size_t available,
                       void* replacement);

// Alignment-table lookups; both give 0 when nothing matches.
uint8_t TrampolineOffsetFor(const Trampoline* t, uint8_t targetOffset);
uint8_t TargetOffsetFor(const Trampoline* t, uint8_t codeOffset);

// Where a thread stopped at a boundary of the moved code resumes.
// At `targetOffset` (< restore length) in the target, once attached: an
// offset into the trampoline's code.
size_t AttachedResumeOffset(const Trampoline* t, size_t targetOffset);
// At `codeOffset` (< 30) in the trampoline's code, once detached: an offset
// into the target.
size_t DetachedResumeOffset(const Trampoline* t, size_t codeOffset);
