#pragma once

#include <cstddef>
#include <cstdint>

// Length decoder and relocating copier for 32-bit x86 code.

// The longest instruction the processor accepts; longer prefix runs are
// treated as invalid.
constexpr size_t kMaxInstructionLength = 15;

// What copying one instruction produced besides its length.
struct CopyOutcome {
  // Bytes the copy has beyond the source instruction: 3 or 4 after a widened
  // short jump, negative for a branch that cannot be widened and no longer
  // reaches its destination, 0 otherwise.
  int32_t extra;
  // The instruction hit a row the copier does not move (or exceeded 15 bytes).
  bool invalid;
  // A relative branch whose displacement does not fit at the destination.
  bool uncarried;
  // A relative branch (or call): its destination relative to the
  // instruction's first byte.
  bool hasBranch;
  int64_t branchOffset;
};

// Copies the instruction at `src` into `dst`, relocating relative branches
// for a copy that runs `shift` bytes after the source (destination address
// minus source address). Reads the source only; returns the address of the
// next source instruction. `src` must not be null.
const uint8_t* CopyInstruction(uint8_t* dst, const uint8_t* src, int64_t shift, CopyOutcome* outcome);

// Copies one instruction from `src` to `dst` (or to a scratch buffer when
// `dst` is null) so that it works at `dst`, and returns the address of the
// next source instruction. `extra` (optional) receives CopyOutcome::extra.
// A null source gives null (and ERROR_INVALID_DATA as the thread's last
// error on Windows).
const uint8_t* PatchCopyInstruction(uint8_t* dst, const uint8_t* src, int32_t* extra);

// Whether the instruction leaves the function for good: near and far returns,
// direct and indirect unconditional jumps, int3, ud2 and int 29h, with or
// without prefixes.
bool EndsFunction(const uint8_t* instruction);

// `to` minus `from` as the processor's relative branches see it: modulo 2^32
// in a 32-bit process, plain difference in a 64-bit one.
int64_t CodeDistance(const void* from, const void* to);
