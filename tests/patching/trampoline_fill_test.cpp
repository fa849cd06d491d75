#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "patching/patch_errors.h"
#include "patching/trampoline.h"

namespace {

// A target and its trampoline side by side, so 32-bit displacements reach
// on 64-bit hosts too.
struct Arena {
  alignas(64) uint8_t before[64];
  uint8_t target[128];
  Trampoline trampoline;
  uint8_t replacement[16];
};

Arena arena;

int32_t Fill(const std::vector<uint8_t>& code, size_t available = kTargetReadSize) {
  std::memset(arena.target, 0xCC, sizeof arena.target);
  std::copy(code.begin(), code.end(), arena.target);
  std::memset(&arena.trampoline, 0xCC, sizeof arena.trampoline);
  return FillTrampoline(&arena.trampoline, arena.target, arena.target, available, arena.replacement);
}

int32_t Read32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Destination of the E9 at `at`.
const uint8_t* JumpDestination(const uint8_t* at) {
  EXPECT_EQ(at[0], 0xE9);
  return at + 5 + Read32(at + 1);
}

const Trampoline& T() { return arena.trampoline; }

void ExpectCcFrom(size_t offset) {
  for (size_t i = offset; i < kTrampolineCodeSize; ++i) EXPECT_EQ(T().code[i], 0xCC) << "code byte " << i;
}

TEST(TrampolineFill, PlainPrologueMovesWholeInstructions) {
  std::vector<uint8_t> prologue = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x8B, 0x45, 0x08};
  ASSERT_EQ(Fill(prologue), kPatchOk);
  EXPECT_EQ(T().codeLength, 6);
  EXPECT_EQ(T().restoreLength, 6);
  EXPECT_EQ(std::memcmp(T().code, prologue.data(), 6), 0);
  EXPECT_EQ(JumpDestination(T().code + 6), arena.target + 6);
  ExpectCcFrom(11);
  EXPECT_EQ(std::memcmp(T().restore, prologue.data(), 6), 0);
  EXPECT_EQ(T().remainder, arena.target + 6);
  EXPECT_EQ(T().replacement, arena.replacement);
  // One boundary per instruction: low 3 bits target offset, high 5 code offset.
  EXPECT_EQ(T().align[0], (1 | 1 << 3));
  EXPECT_EQ(T().align[1], (3 | 3 << 3));
  EXPECT_EQ(T().align[2], (6 | 6 << 3));
  EXPECT_EQ(T().align[3], 0);
}

TEST(TrampolineFill, StackRealigningPrologue) {
  // lea ecx,[esp+4]; and esp,-16; push dword [ecx-4]; push ebp; mov ebp,esp
  std::vector<uint8_t> prologue = {0x8D, 0x4C, 0x24, 0x04, 0x83, 0xE4, 0xF0,
                                   0xFF, 0x71, 0xFC, 0x55, 0x89, 0xE5};
  ASSERT_EQ(Fill(prologue), kPatchOk);
  EXPECT_EQ(T().restoreLength, 7);
  EXPECT_EQ(T().codeLength, 7);
  EXPECT_EQ(JumpDestination(T().code + 7), arena.target + 7);
}

TEST(TrampolineFill, EndOfFunctionNeedsPaddingToMoveFiveBytes) {
  // xor eax,eax; jmp +5: the jump ends the function after 4 bytes.
  EXPECT_EQ(Fill({0x33, 0xC0, 0xEB, 0x05, 0xCC}), kPatchInvalidBlock);
  EXPECT_EQ(Fill({0x33, 0xC0, 0xEB, 0x05, 0x90}), kPatchOk);
  EXPECT_EQ(T().restoreLength, 5);
  EXPECT_EQ(T().codeLength, 7);
  EXPECT_EQ(T().code[0], 0x33);
  EXPECT_EQ(T().code[1], 0xC0);
  EXPECT_EQ(JumpDestination(T().code + 2), arena.target + 4 + 5);
  EXPECT_EQ(JumpDestination(T().code + 7), arena.target + 5);

  // A return at offset 0 followed by code, then followed by padding.
  EXPECT_EQ(Fill({0xC3, 0x55, 0x8B, 0xEC, 0x90}), kPatchInvalidBlock);
  EXPECT_EQ(Fill({0xC3, 0x90, 0x90, 0x90, 0x90, 0x55}), kPatchOk);
  EXPECT_EQ(T().restoreLength, 5);
  EXPECT_EQ(T().codeLength, 1);
  EXPECT_EQ(JumpDestination(T().code + 1), arena.target + 5);
  // Padding stops counting at five bytes.
  EXPECT_EQ(Fill({0xC3, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}), kPatchOk);
  EXPECT_EQ(T().restoreLength, 5);
}

TEST(TrampolineFill, ShortBranchesAndCallsAreRelocated) {
  // je +0x10; push ebp; mov ebp,esp
  ASSERT_EQ(Fill({0x74, 0x10, 0x55, 0x8B, 0xEC}), kPatchOk);
  EXPECT_EQ(T().code[0], 0x0F);
  EXPECT_EQ(T().code[1], 0x84);
  EXPECT_EQ(T().code + 6 + Read32(T().code + 2), arena.target + 0x12);
  EXPECT_EQ(T().codeLength, 9);
  EXPECT_EQ(T().restoreLength, 5);
  EXPECT_EQ(T().align[0], (2 | 6 << 3));

  // call +0x40
  ASSERT_EQ(Fill({0xE8, 0x40, 0x00, 0x00, 0x00}), kPatchOk);
  EXPECT_EQ(T().code[0], 0xE8);
  EXPECT_EQ(T().code + 5 + Read32(T().code + 1), arena.target + 5 + 0x40);
  // A branch back to the entry is kept: it reaches the redirection.
  ASSERT_EQ(Fill({0x8B, 0x01, 0x85, 0xC0, 0x74, 0xFA, 0xC3}), kPatchOk);
  EXPECT_EQ(T().code + 10 + Read32(T().code + 6), arena.target);
}

TEST(TrampolineFill, RefusesWhatCannotBeMoved) {
  // LOOP and JECXZ whose destination is out of 8-bit reach of the
  // trampoline (which lies just past the target here).
  EXPECT_EQ(Fill({0xE2, 0x80, 0x90, 0x90, 0x90, 0x90}), kPatchInvalidBlock);
  EXPECT_EQ(Fill({0x40, 0xE3, 0x80, 0x90, 0x90, 0x90}), kPatchInvalidBlock);
  // An opcode the copier does not move.
  EXPECT_EQ(Fill({0x40, 0xD6, 0x90, 0x90, 0x90, 0x90}), kPatchInvalidBlock);
  EXPECT_EQ(Fill({0xF3, 0x0F, 0x1E, 0xFB, 0x55, 0x8B, 0xEC}), kPatchInvalidBlock);
  // A short jump under 66 would become a 16-bit branch.
  EXPECT_EQ(Fill({0x66, 0x74, 0x10, 0x55, 0x8B, 0xEC}), kPatchInvalidBlock);
  // A branch into the moved bytes would land in the jump or its int3 fill.
  EXPECT_EQ(Fill({0x74, 0x01, 0x40, 0x40, 0x40, 0x40, 0xC3}), kPatchInvalidBlock);
  EXPECT_EQ(Fill({0x40, 0x40, 0xE8, 0xFB, 0xFF, 0xFF, 0xFF}), kPatchInvalidBlock);
}

TEST(TrampolineFill, OversizedMovesAreRefusedBeforeWriting) {
  // jo; jno; then a 14-byte instruction: 6 + 6 + 14 bytes of code leave no
  // room for the 5-byte jump back.
  std::vector<uint8_t> code = {0x70, 0x20, 0x71, 0x20, 0x2E, 0x3E, 0x26, 0xC7, 0x84,
                               0x24, 0x00, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(Fill(code), kPatchInvalidHandle);
  EXPECT_EQ(arena.trampoline.codeLength, 0xCC) << "nothing written past the staged code";
  EXPECT_EQ(arena.trampoline.restoreLength, 0xCC);
  // With one prefix less the code fills the area exactly.
  code.erase(code.begin() + 4);
  ASSERT_EQ(Fill(code), kPatchOk);
  EXPECT_EQ(T().codeLength, 25);
  EXPECT_EQ(T().restoreLength, 17);
  EXPECT_EQ(JumpDestination(T().code + 25), arena.target + 17);
  // The longest accepted move: 4 bytes, then a 15-byte instruction.
  std::vector<uint8_t> longest = {0x40, 0x40, 0x40, 0x40, 0x2E, 0x3E, 0x26, 0x64, 0xC7, 0x84,
                                  0x24, 0x00, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12};
  ASSERT_EQ(Fill(longest), kPatchOk);
  EXPECT_EQ(T().restoreLength, 19);
  EXPECT_EQ(std::memcmp(T().restore, longest.data(), 19), 0);
}

TEST(TrampolineFill, StopsAtTheEndOfReadableBytes) {
  std::vector<uint8_t> prologue = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10};
  EXPECT_EQ(Fill(prologue, 5), kPatchInvalidHandle);
  EXPECT_EQ(Fill(prologue, 0), kPatchInvalidHandle);
  EXPECT_EQ(Fill(prologue, 6), kPatchOk);
  // Padding is not counted past the readable end either.
  EXPECT_EQ(Fill({0xC3, 0x90, 0x90, 0x90, 0x90}, 3), kPatchInvalidBlock);
}

TEST(TrampolineOffsets, ThreadsResumeAtTheSameInstruction) {
  // test ecx,ecx; je +3; add eax,2; mov [abs],eax
  ASSERT_EQ(Fill({0x85, 0xC9, 0x74, 0x03, 0x83, 0xC0, 0x02, 0xA3, 0, 0, 0, 0}), kPatchOk);
  ASSERT_EQ(T().restoreLength, 7);
  ASSERT_EQ(T().codeLength, 11);  // 2 + 6 (widened) + 3
  EXPECT_EQ(TrampolineOffsetFor(&T(), 2), 2);
  EXPECT_EQ(TrampolineOffsetFor(&T(), 4), 8);
  EXPECT_EQ(TrampolineOffsetFor(&T(), 0), 0);
  EXPECT_EQ(TrampolineOffsetFor(&T(), 3), 0);
  EXPECT_EQ(TargetOffsetFor(&T(), 8), 4);
  EXPECT_EQ(TargetOffsetFor(&T(), 11), 7);
  EXPECT_EQ(TargetOffsetFor(&T(), 5), 0);

  EXPECT_EQ(AttachedResumeOffset(&T(), 0), 0u);
  EXPECT_EQ(AttachedResumeOffset(&T(), 2), 2u);
  EXPECT_EQ(AttachedResumeOffset(&T(), 4), 8u);
  EXPECT_EQ(DetachedResumeOffset(&T(), 0), 0u);
  EXPECT_EQ(DetachedResumeOffset(&T(), 2), 2u);
  EXPECT_EQ(DetachedResumeOffset(&T(), 8), 4u);
  EXPECT_EQ(DetachedResumeOffset(&T(), 11), 7u);
}

TEST(TrampolineOffsets, LongMovesAndPaddingResumePastTheMove) {
  // push ebp; mov dword [ebp-8],1: moved 8, kept as 0 in the table's 3 bits,
  // so the table alone would send a thread at the jump back to the entry.
  ASSERT_EQ(Fill({0x55, 0xC7, 0x45, 0xF8, 0x01, 0x00, 0x00, 0x00}), kPatchOk);
  ASSERT_EQ(T().restoreLength, 8);
  EXPECT_EQ(TargetOffsetFor(&T(), 8), 0);
  EXPECT_EQ(DetachedResumeOffset(&T(), 8), 8u);
  EXPECT_EQ(DetachedResumeOffset(&T(), 1), 1u);
  // push ebp; mov dword [esp+8],1: moved 9, whose 3 bits collide with the
  // first boundary.
  ASSERT_EQ(Fill({0x55, 0xC7, 0x44, 0x24, 0x08, 0x01, 0x00, 0x00, 0x00}), kPatchOk);
  ASSERT_EQ(T().restoreLength, 9);
  EXPECT_EQ(TargetOffsetFor(&T(), 9), 1);
  EXPECT_EQ(DetachedResumeOffset(&T(), 9), 9u);
  EXPECT_EQ(AttachedResumeOffset(&T(), 1), 1u);

  // ret followed by padding: a thread on a NOP leaves through the jump back.
  ASSERT_EQ(Fill({0xC3, 0x90, 0x90, 0x90, 0x90}), kPatchOk);
  EXPECT_EQ(TrampolineOffsetFor(&T(), 3), 0) << "padding has no table entry";
  EXPECT_EQ(AttachedResumeOffset(&T(), 3), 1u);
  EXPECT_EQ(AttachedResumeOffset(&T(), 1), 1u);
}

}  // namespace
