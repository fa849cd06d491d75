#include <cstring>

#include "patching/instruction_copier.h"
#include "patching/patch_errors.h"
#include "patching/trampoline.h"

namespace {

constexpr uint8_t kNop = 0x90;
constexpr uint8_t kInt3 = 0xCC;

// Each moved instruction takes at least one byte and the loop stops at 5, so
// the alignment table never overflows.
static_assert(kMinMovedBytes <= kAlignEntries, "one alignment entry per moved instruction");
static_assert(kMaxMovedBytes <= kRestoreSize, "every accepted move fits the restore area");

// Code offset, then target offset, of an alignment entry.
size_t CodeOffsetOf(AlignEntry entry) { return entry >> 3; }
size_t TargetOffsetOf(AlignEntry entry) { return entry & 7; }

}  // namespace

void WriteJump(uint8_t* at, const void* to) {
  at[0] = 0xE9;
  uint32_t rel = static_cast<uint32_t>(static_cast<uint64_t>(CodeDistance(at + kJumpSize, to)));
  std::memcpy(at + 1, &rel, sizeof rel);
}

int32_t FillTrampoline(Trampoline* t, const uint8_t* target, const uint8_t* bytes, size_t available,
                       void* replacement) {
  std::memset(t->align, 0, sizeof t->align);
  // The code is assembled here first so that an over-long move is refused
  // before anything past the code area is written.
  uint8_t staged[kTrampolineCodeSize + 2 * kMaxInstructionLength + 8];
  int64_t branches[kMinMovedBytes];
  size_t branchCount = 0;
  size_t code = 0;
  size_t moved = 0;
  size_t entries = 0;
  bool ends = false;
  while (moved < kMinMovedBytes && !ends) {
    CopyOutcome outcome;
    const uint8_t* next =
        CopyInstruction(staged + code, bytes + moved, CodeDistance(target + moved, t->code + code), &outcome);
    size_t length = static_cast<size_t>(next - (bytes + moved));
    if (moved + length > available) return kPatchInvalidHandle;
    if (outcome.invalid || outcome.uncarried || outcome.extra < 0) return kPatchInvalidBlock;
    if (outcome.hasBranch) branches[branchCount++] = static_cast<int64_t>(moved) + outcome.branchOffset;
    ends = EndsFunction(bytes + moved);
    moved += length;
    code += length + static_cast<size_t>(outcome.extra);
    if (code > kTrampolineCodeSize - kJumpSize) return kPatchInvalidHandle;
    t->align[entries++] = static_cast<AlignEntry>((moved & 7) | (code << 3));
  }
  // Padding after the function's end can be overwritten without moving it.
  while (moved < kMinMovedBytes && moved < available && bytes[moved] == kNop) ++moved;
  if (moved < kMinMovedBytes) return kPatchInvalidBlock;
  if (moved > kMaxMovedBytes) return kPatchInvalidHandle;
  // Once patched, the moved bytes hold the jump and int3 fill: a branch into
  // them (other than to the function's entry) would land mid-jump.
  for (size_t i = 0; i < branchCount; ++i) {
    if (branches[i] > 0 && branches[i] < static_cast<int64_t>(moved)) return kPatchInvalidBlock;
  }

  t->codeLength = static_cast<uint8_t>(code);
  t->restoreLength = static_cast<uint8_t>(moved);
  std::memcpy(t->restore, bytes, moved);
  t->remainder = const_cast<uint8_t*>(target) + moved;
  t->replacement = replacement;
  std::memcpy(t->code, staged, code);
  WriteJump(t->code + code, t->remainder);
  std::memset(t->code + code + kJumpSize, kInt3, kTrampolineCodeSize - code - kJumpSize);
  return kPatchOk;
}

uint8_t TrampolineOffsetFor(const Trampoline* t, uint8_t targetOffset) {
  for (AlignEntry entry : t->align) {
    if (TargetOffsetOf(entry) == targetOffset) return static_cast<uint8_t>(CodeOffsetOf(entry));
  }
  return 0;
}

uint8_t TargetOffsetFor(const Trampoline* t, uint8_t codeOffset) {
  for (AlignEntry entry : t->align) {
    if (CodeOffsetOf(entry) == codeOffset) return static_cast<uint8_t>(TargetOffsetOf(entry));
  }
  return 0;
}

size_t AttachedResumeOffset(const Trampoline* t, size_t targetOffset) {
  if (targetOffset == 0) return 0;
  // Boundaries inside the move are below 5 and stored exactly. A boundary not
  // in the table lies in the NOP padding counted as moved: the jump back
  // skips it, as running the NOPs would.
  for (AlignEntry entry : t->align) {
    if (entry != 0 && TargetOffsetOf(entry) == targetOffset) return CodeOffsetOf(entry);
  }
  return t->codeLength;
}

size_t DetachedResumeOffset(const Trampoline* t, size_t codeOffset) {
  // At or past the jump back the thread has run every moved instruction; the
  // table's last entry cannot say so, as it keeps only 3 bits of the moved
  // length.
  if (codeOffset >= t->codeLength) return t->restoreLength;
  return TargetOffsetFor(t, static_cast<uint8_t>(codeOffset));
}
