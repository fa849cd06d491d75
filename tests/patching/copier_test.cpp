#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "patching/instruction_copier.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Source and destination in one buffer, so relocations stay within reach on
// 64-bit hosts too.
struct CodePair {
  alignas(16) uint8_t bytes[640];

  CodePair() { std::memset(bytes, 0xCC, sizeof bytes); }
  uint8_t* src() { return bytes + 64; }
  uint8_t* dst() { return bytes + 320; }
  void Put(std::initializer_list<uint8_t> code) { std::copy(code.begin(), code.end(), src()); }
};

int32_t Read32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Destination of a 32-bit relative branch whose displacement is at `disp`
// and whose next instruction starts at `next`.
const uint8_t* Destination32(const uint8_t* disp, const uint8_t* next) { return next + Read32(disp); }

struct LengthCase {
  const char* what;
  std::vector<uint8_t> code;
  size_t length;
};

void ExpectLengths(const std::vector<LengthCase>& cases) {
  for (const LengthCase& c : cases) {
    uint8_t src[48] = {};
    std::copy(c.code.begin(), c.code.end(), src);
    uint8_t dst[48];
    CopyOutcome outcome;
    const uint8_t* next = CopyInstruction(dst, src, 0, &outcome);
    EXPECT_EQ(static_cast<size_t>(next - src), c.length) << c.what;
    EXPECT_FALSE(outcome.invalid) << c.what;
    EXPECT_EQ(std::memcmp(dst, src, c.length), 0) << c.what << ": unrelocated copy differs";
  }
}

TEST(CopierLength, ModRmAndSibForms) {
  ExpectLengths({
      {"mov eax,[disp32] via SIB base 5, mod 00", {0x8B, 0x04, 0x25, 0x78, 0x56, 0x34, 0x12}, 7},
      {"mov eax,[esp+4]", {0x8B, 0x44, 0x24, 0x04}, 4},
      {"mov eax,[esp]", {0x8B, 0x04, 0x24}, 3},
      {"mov eax,[ebp+disp8] via SIB base 5, mod 01", {0x8B, 0x44, 0x25, 0x08}, 4},
      {"mov eax,[ebp+disp32] via SIB base 5, mod 10", {0x8B, 0x84, 0x25, 0, 1, 0, 0}, 7},
      {"mov eax,[esp+disp32]", {0x8B, 0x84, 0x24, 0, 1, 0, 0}, 7},
      {"mov eax,[ebp+8]", {0x8B, 0x45, 0x08}, 3},
      {"mov eax,[ebp+disp32]", {0x8B, 0x85, 0, 1, 0, 0}, 6},
      {"mov eax,[abs32]", {0x8B, 0x05, 0x78, 0x56, 0x34, 0x12}, 6},
      {"mov eax,ecx", {0x8B, 0xC1}, 2},
      {"lea ecx,[esp+4]", {0x8D, 0x4C, 0x24, 0x04}, 4},
      {"mov dword [esp+disp32],imm32", {0xC7, 0x84, 0x24, 0, 1, 0, 0, 1, 2, 3, 4}, 11},
      {"add dword [ebp-4],imm8", {0x83, 0x45, 0xFC, 0x01}, 4},
      {"imul eax,ecx,imm32", {0x69, 0xC1, 1, 2, 3, 4}, 6},
      {"shl dword [eax],imm8", {0xC1, 0x20, 0x03}, 3},
      {"fld qword [esp+8]", {0xDD, 0x44, 0x24, 0x08}, 4},
  });
}

TEST(CopierLength, ImmediatesAndOperandSizeOverride) {
  ExpectLengths({
      {"mov ax,imm16", {0x66, 0xB8, 0x34, 0x12}, 4},
      {"mov eax,imm32", {0xB8, 0x78, 0x56, 0x34, 0x12}, 5},
      {"add ax,imm16", {0x66, 0x05, 0x34, 0x12}, 4},
      {"add cx,imm16", {0x66, 0x81, 0xC1, 0x34, 0x12}, 5},
      {"mov word [ebp+8],imm16", {0x66, 0xC7, 0x45, 0x08, 0x34, 0x12}, 6},
      {"push imm32", {0x68, 1, 2, 3, 4}, 5},
      {"push imm16", {0x66, 0x68, 1, 2}, 4},
      {"push imm8", {0x6A, 0x10}, 2},
      {"ret imm16 (no change under 66)", {0x66, 0xC2, 0x08, 0x00}, 4},
      {"ret imm16", {0xC2, 0x08, 0x00}, 3},
      {"enter", {0xC8, 0x10, 0x00, 0x00}, 4},
      {"call far ptr16:32", {0x9A, 1, 2, 3, 4, 5, 6}, 7},
      {"jmp far ptr16:16", {0x66, 0xEA, 1, 2, 3, 4}, 6},
      {"int 2e", {0xCD, 0x2E}, 2},
      {"aam", {0xD4, 0x0A}, 2},
      {"test al,imm8", {0xA8, 0x01}, 2},
      {"test eax,imm32", {0xA9, 1, 2, 3, 4}, 5},
      {"in al,imm8", {0xE4, 0x60}, 2},
      {"mov cl,imm8", {0xB1, 0x05}, 2},
  });
}

TEST(CopierLength, PrefixesAndAddressSizeOverride) {
  ExpectLengths({
      {"rep movsd", {0xF3, 0xA5}, 2},
      {"mov eax,fs:[0x18]", {0x64, 0xA1, 0x18, 0, 0, 0}, 6},
      {"lock cmpxchg [ecx],edx", {0xF0, 0x0F, 0xB1, 0x11}, 4},
      {"cs ds nop", {0x2E, 0x3E, 0x90}, 3},
      {"mov eax,[moffs16]", {0x67, 0xA1, 0x34, 0x12}, 4},
      {"mov eax,[moffs32]", {0xA1, 1, 2, 3, 4}, 5},
      {"mov eax,[bx+si] (16-bit addressing)", {0x67, 0x8B, 0x00}, 3},
      {"mov eax,[disp16]", {0x67, 0x8B, 0x06, 0x34, 0x12}, 5},
      {"mov eax,[bp+disp8]", {0x67, 0x8B, 0x46, 0x08}, 4},
      {"mov eax,[bx+disp16]", {0x67, 0x8B, 0x87, 0x34, 0x12}, 5},
      {"16-bit addressing has no SIB", {0x67, 0x8B, 0x04}, 3},
      {"both overrides", {0x66, 0x67, 0xC7, 0x06, 0x34, 0x12, 0x78, 0x56}, 8},
      {"14 prefixes and nop: 15 bytes",
       {0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x90},
       15},
  });
}

TEST(CopierLength, GroupThreeAndEscapeMap) {
  ExpectLengths({
      {"test cl,imm8", {0xF6, 0xC1, 0x01}, 3},
      {"test byte [esp+4],imm8", {0xF6, 0x44, 0x24, 0x04, 0x01}, 5},
      {"neg al", {0xF6, 0xD8}, 2},
      {"div byte [ecx]", {0xF6, 0x31}, 2},
      {"test ecx,imm32", {0xF7, 0xC1, 1, 2, 3, 4}, 6},
      {"test cx,imm16", {0x66, 0xF7, 0xC1, 1, 2}, 5},
      {"test dword [disp32],imm32", {0xF7, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}, 10},
      {"neg eax", {0xF7, 0xD8}, 2},
      {"idiv dword [ebp+8]", {0xF7, 0x7D, 0x08}, 3},
      {"movzx eax,cl", {0x0F, 0xB6, 0xC1}, 3},
      {"imul eax,[esp+8]", {0x0F, 0xAF, 0x44, 0x24, 0x08}, 5},
      {"bt eax,imm8", {0x0F, 0xBA, 0xE0, 0x05}, 4},
      {"nop dword [eax+eax]", {0x0F, 0x1F, 0x44, 0x00, 0x00}, 5},
      {"rdtsc", {0x0F, 0x31}, 2},
      {"bswap eax", {0x0F, 0xC8}, 2},
      {"cpuid", {0x0F, 0xA2}, 2},
      {"ud2", {0x0F, 0x0B}, 2},
      {"movdqa xmm0,[esp]", {0x66, 0x0F, 0x6F, 0x04, 0x24}, 5},
      {"movsd xmm0,[esp+4]", {0xF2, 0x0F, 0x10, 0x44, 0x24, 0x04}, 6},
      {"pshufd xmm0,xmm1,imm8", {0x66, 0x0F, 0x70, 0xC1, 0x1B}, 5},
      {"shufps xmm0,xmm1,imm8", {0x0F, 0xC6, 0xC1, 0x1B}, 4},
      {"shld eax,ecx,imm8", {0x0F, 0xA4, 0xC8, 0x04}, 4},
      {"cmovne eax,[ecx]", {0x0F, 0x45, 0x01}, 3},
      {"les eax,[ecx] (memory operand)", {0xC4, 0x01}, 2},
  });
}

TEST(CopierLength, InvalidRowsConsumeOneByteAndCopyNothing) {
  struct InvalidCase {
    std::vector<uint8_t> code;
    size_t length;
  };
  std::vector<InvalidCase> cases = {
      {{0xD6}, 1},
      {{0xF1}, 1},
      {{0x0F, 0x38, 0x00, 0xC1}, 2},  // three-byte maps are not decoded
      {{0x0F, 0x3A, 0x0F, 0xC1, 0x08}, 2},
      {{0x0F, 0xFF}, 2},
      {{0x0F, 0x05}, 2},
      {{0x66, 0x0F, 0xB8, 0xC1}, 3},
      {{0xC5, 0xF8, 0x77}, 1},  // VEX (vzeroupper), not LDS
      {{0xC4, 0xE2, 0x71, 0xA9, 0xC1}, 1},
      {{0x62, 0xF1}, 1},  // EVEX, not BOUND
  };
  for (const InvalidCase& c : cases) {
    uint8_t src[32] = {};
    std::copy(c.code.begin(), c.code.end(), src);
    uint8_t dst[32];
    std::memset(dst, 0xAA, sizeof dst);
    CopyOutcome outcome;
    const uint8_t* next = CopyInstruction(dst, src, 0, &outcome);
    EXPECT_TRUE(outcome.invalid) << std::hex << int(c.code[0]) << " " << int(c.code[1 % c.code.size()]);
    EXPECT_EQ(static_cast<size_t>(next - src), c.length) << std::hex << int(c.code[0]);
    // Prefix and escape bytes are copied; the invalid byte is not.
    EXPECT_EQ(dst[c.length - 1], 0xAA) << std::hex << int(c.code[0]);
  }
  // A prefix run longer than any instruction is refused, not followed.
  std::vector<uint8_t> prefixes(40, 0x66);
  uint8_t dst[64];
  CopyOutcome outcome;
  const uint8_t* next = CopyInstruction(dst, prefixes.data(), 0, &outcome);
  EXPECT_TRUE(outcome.invalid);
  EXPECT_LE(static_cast<size_t>(next - prefixes.data()), kMaxInstructionLength);
  // Prefixes and an opcode whose operands would run past 15 bytes: nothing
  // beyond the 15th byte is read or written.
  for (size_t count : {10, 13, 14}) {
    std::vector<uint8_t> code(count, 0x26);
    code.insert(code.end(), {0x81, 0x84, 0x24, 1, 2, 3, 4, 5, 6, 7, 8});  // add [esp+disp32], imm32
    code.resize(kMaxInstructionLength);
    std::memset(dst, 0xAA, sizeof dst);
    next = CopyInstruction(dst, code.data(), 0, &outcome);
    EXPECT_TRUE(outcome.invalid) << count;
    EXPECT_LE(static_cast<size_t>(next - code.data()), kMaxInstructionLength) << count;
    EXPECT_EQ(dst[kMaxInstructionLength], 0xAA) << count;
  }
}

TEST(CopierRelocation, CallAndNearJumpsKeepTheirDestination) {
  for (uint8_t op : {uint8_t{0xE8}, uint8_t{0xE9}}) {
    CodePair code;
    code.Put({op, 0x10, 0x00, 0x00, 0x00});
    const uint8_t* destination = code.src() + 5 + 0x10;
    int32_t extra = -1;
    const uint8_t* next = PatchCopyInstruction(code.dst(), code.src(), &extra);
    EXPECT_EQ(next, code.src() + 5);
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(code.dst()[0], op);
    // The displacement is reduced by the distance moved.
    EXPECT_EQ(Read32(code.dst() + 1), 0x10 - 256);
    EXPECT_EQ(Destination32(code.dst() + 1, code.dst() + 5), destination);
  }
  // Backwards from a later copy of a conditional near jump.
  CodePair code;
  code.Put({0x0F, 0x85, 0xF0, 0xFF, 0xFF, 0xFF});
  const uint8_t* next = PatchCopyInstruction(code.dst(), code.src(), nullptr);
  EXPECT_EQ(next, code.src() + 6);
  EXPECT_EQ(code.dst()[1], 0x85);
  EXPECT_EQ(Destination32(code.dst() + 2, code.dst() + 6), code.src() + 6 - 16);
}

TEST(CopierRelocation, SixteenBitCallUnderOperandSizeOverride) {
  CodePair code;
  code.Put({0x66, 0xE8, 0x00, 0x01});
  CopyOutcome outcome;
  const uint8_t* next = CopyInstruction(code.dst(), code.src(), 0x40, &outcome);
  EXPECT_EQ(next, code.src() + 4);
  EXPECT_EQ(code.dst()[0], 0x66);
  EXPECT_EQ(code.dst()[2] | code.dst()[3] << 8, 0x0100 - 0x40);
  EXPECT_FALSE(outcome.uncarried);
  EXPECT_EQ(outcome.branchOffset, 4 + 0x100);
  // Out of 16-bit reach.
  CopyInstruction(code.dst(), code.src(), 0x10000, &outcome);
  EXPECT_TRUE(outcome.uncarried);
  EXPECT_EQ(outcome.extra, 2);
}

TEST(CopierRelocation, ShortJumpsAreWidened) {
  CodePair code;
  code.Put({0xEB, 0x05});
  int32_t extra = 0;
  const uint8_t* next = PatchCopyInstruction(code.dst(), code.src(), &extra);
  EXPECT_EQ(next, code.src() + 2);
  EXPECT_EQ(extra, 3);
  EXPECT_EQ(code.dst()[0], 0xE9);
  EXPECT_EQ(Read32(code.dst() + 1), 5 - 256 - 3);
  EXPECT_EQ(Destination32(code.dst() + 1, code.dst() + 5), code.src() + 7);

  for (uint8_t cc = 0; cc < 16; ++cc) {
    CodePair jcc;
    jcc.Put({static_cast<uint8_t>(0x70 + cc), 0x10});
    next = PatchCopyInstruction(jcc.dst(), jcc.src(), &extra);
    EXPECT_EQ(next, jcc.src() + 2);
    EXPECT_EQ(extra, 4);
    EXPECT_EQ(jcc.dst()[0], 0x0F);
    EXPECT_EQ(jcc.dst()[1], 0x80 + cc);
    EXPECT_EQ(Destination32(jcc.dst() + 2, jcc.dst() + 6), jcc.src() + 0x12);
  }

  // A backward jump copied to a lower address.
  CodePair back;
  std::memcpy(back.dst(), "\x7C\xF0", 2);  // jl -16
  next = PatchCopyInstruction(back.src(), back.dst(), &extra);
  EXPECT_EQ(next, back.dst() + 2);
  EXPECT_EQ(Destination32(back.src() + 2, back.src() + 6), back.dst() + 2 - 16);
}

TEST(CopierRelocation, PrefixedShortJumpKeepsItsPrefix) {
  CodePair code;
  code.Put({0x3E, 0x74, 0x10});  // branch-taken hint
  CopyOutcome outcome;
  const uint8_t* next =
      CopyInstruction(code.dst(), code.src(), CodeDistance(code.src(), code.dst()), &outcome);
  EXPECT_EQ(next, code.src() + 3);
  EXPECT_EQ(outcome.extra, 4);
  EXPECT_EQ(code.dst()[0], 0x3E);
  EXPECT_EQ(code.dst()[1], 0x0F);
  EXPECT_EQ(code.dst()[2], 0x84);
  EXPECT_EQ(Destination32(code.dst() + 3, code.dst() + 7), code.src() + 3 + 0x10);
  EXPECT_EQ(outcome.branchOffset, 3 + 0x10);

  // Widened under 66 the jump would turn into a 16-bit branch: not moved.
  code.Put({0x66, 0xEB, 0x10});
  CopyInstruction(code.dst(), code.src(), 256, &outcome);
  EXPECT_TRUE(outcome.invalid);
}

TEST(CopierRelocation, LoopFamilyCannotBeWidened) {
  for (uint8_t op : {uint8_t{0xE0}, uint8_t{0xE1}, uint8_t{0xE2}, uint8_t{0xE3}}) {
    CodePair code;
    code.Put({op, 0x20});
    CopyOutcome outcome;
    // A short move keeps the 8-bit displacement in reach.
    const uint8_t* next = CopyInstruction(code.dst(), code.src(), 0x10, &outcome);
    EXPECT_EQ(next, code.src() + 2);
    EXPECT_EQ(outcome.extra, 0);
    EXPECT_FALSE(outcome.uncarried);
    EXPECT_EQ(code.dst()[1], 0x10);
    // A longer one cannot be carried: negative extra.
    int32_t extra = 0;
    PatchCopyInstruction(code.dst(), code.src(), &extra);
    EXPECT_EQ(extra, -3) << std::hex << int(op);
    CopyInstruction(code.dst(), code.src(), 256, &outcome);
    EXPECT_TRUE(outcome.uncarried);
  }
}

TEST(CopierRelocation, FarDisplacementsDependOnPointerWidth) {
  CodePair code;
  code.Put({0xE8, 0, 0, 0, 0});
  CopyOutcome outcome;
  // 2 GiB away a 32-bit process still reaches (addresses wrap); 4 GiB away
  // is out of reach for 64-bit code.
  int64_t distance = sizeof(void*) == 4 ? INT32_MIN : int64_t{1} << 32;
  CopyInstruction(code.dst(), code.src(), distance, &outcome);
  EXPECT_EQ(outcome.uncarried, sizeof(void*) == 8);
  EXPECT_EQ(outcome.extra, 0);
  EXPECT_TRUE(outcome.hasBranch);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(static_cast<uint32_t>(Read32(code.dst() + 1)), 0x80000000u);
  }
}

TEST(CopierInterface, NullSourceAndScratchDestination) {
#ifdef _WIN32
  SetLastError(0);
#endif
  int32_t extra = 7;
  EXPECT_EQ(PatchCopyInstruction(nullptr, nullptr, &extra), nullptr);
#ifdef _WIN32
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
#endif
  uint8_t src[16] = {0xEB, 0x10};
  EXPECT_EQ(PatchCopyInstruction(nullptr, src, &extra), src + 2);
  EXPECT_EQ(extra, 3);
  EXPECT_EQ(src[0], 0xEB) << "the source is never written";
}

TEST(CopierInterface, EndsFunction) {
  std::vector<std::vector<uint8_t>> ends = {{0xEB, 0x00},
                                            {0xE9, 0, 0, 0, 0},
                                            {0xE0, 0x00},
                                            {0xC2, 0x04, 0x00},
                                            {0xC3},
                                            {0xCC},
                                            {0xFF, 0x25, 0, 0, 0, 0},
                                            {0x2E, 0xFF, 0x25},
                                            {0x64, 0xFF, 0x25},
                                            {0x3E, 0xFF, 0x25},
                                            {0x66, 0xFF, 0x25},
                                            {0xF3, 0xC3},
                                            {0xF2, 0xC3},
                                            {0x3E, 0xEB, 0x00},
                                            {0xF2, 0xEB, 0x00},
                                            {0xFF, 0xE0},
                                            {0xFF, 0x24, 0x85},
                                            {0xFF, 0x2D},
                                            {0xCB},
                                            {0xCA, 0x04, 0x00}};
  std::vector<std::vector<uint8_t>> continues = {
      {0xE8, 0, 0, 0, 0}, {0x74, 0x00}, {0xFF, 0x15, 0, 0, 0, 0}, {0xFF, 0xD0, 0},
      {0x2E, 0xFF, 0x15}, {0xF3, 0xA4}, {0x90, 0xC3, 0},          {0xE2, 0x00, 0}};
  for (auto& code : ends) {
    code.resize(4, 0);
    EXPECT_TRUE(EndsFunction(code.data())) << std::hex << int(code[0]);
  }
  for (auto& code : continues) {
    code.resize(4, 0);
    EXPECT_FALSE(EndsFunction(code.data())) << std::hex << int(code[0]);
  }
}

TEST(CopierInterface, CodeDistanceWrapsAroundTheAddressSpace) {
  auto* low = reinterpret_cast<const void*>(uintptr_t{0x10});
  auto* high = reinterpret_cast<const void*>(~uintptr_t{0} - 0xF);
  EXPECT_EQ(CodeDistance(high, low), 0x20);
  EXPECT_EQ(CodeDistance(low, high), -0x20);
  uint8_t buffer[8];
  EXPECT_EQ(CodeDistance(buffer, buffer + 5), 5);
  EXPECT_EQ(CodeDistance(buffer + 5, buffer), -5);
}

}  // namespace
