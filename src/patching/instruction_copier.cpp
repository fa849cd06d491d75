#include "patching/instruction_copier.h"

#include <array>
#include <cstring>

#include "patching/patch_errors.h"

#ifdef _WIN32
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long code);
#endif

namespace {

constexpr uint32_t kAddressSizeRow = 0x2;  // the row's override is the address-size one
constexpr uint32_t kNotWidenable = 0x4;    // an 8-bit branch that cannot be widened

struct CopyEntry;

struct CopierState {
  bool operandSize;  // 66 seen
  bool addressSize;  // 67 seen
  size_t prefixes;
  const uint8_t* start;  // first byte of the whole instruction
  int64_t shift;         // destination minus source
  CopyOutcome* outcome;
};

using CopyHandler = const uint8_t* (*)(const CopyEntry& row, CopierState& state, uint8_t* d,
                                       const uint8_t* s);

// One row of an opcode map: a packed word (opcode, size, size under the
// override that applies, ModR/M offset, displacement offset, flags; 8 bits
// then five fields of 4) and the handler that copies it.
struct CopyEntry {
  uint32_t packed;
  CopyHandler handler;
};

constexpr uint32_t Pack(unsigned op, unsigned size, unsigned sizeOverride, unsigned modrm, unsigned disp,
                        unsigned flags) {
  return op | size << 8 | sizeOverride << 12 | modrm << 16 | disp << 20 | flags << 24;
}
unsigned Field(const CopyEntry& row, unsigned shift) { return (row.packed >> shift) & 0xF; }
unsigned SizeOf(const CopyEntry& row) { return Field(row, 8); }
unsigned SizeOverrideOf(const CopyEntry& row) { return Field(row, 12); }
unsigned ModRmOffsetOf(const CopyEntry& row) { return Field(row, 16); }
unsigned DispOffsetOf(const CopyEntry& row) { return Field(row, 20); }
unsigned FlagsOf(const CopyEntry& row) { return Field(row, 24); }

// The same row with other sizes.
CopyEntry Resized(const CopyEntry& row, unsigned size, unsigned sizeOverride) {
  return CopyEntry{(row.packed & ~0xFF00u) | size << 8 | sizeOverride << 12, row.handler};
}

// Bytes after the ModR/M byte (SIB and displacement); 0x10 = a SIB byte
// follows whose base field 5 adds a 32-bit displacement (only under mod 00).
constexpr std::array<uint8_t, 256> BuildModRmTable() {
  std::array<uint8_t, 256> table{};
  for (unsigned modrm = 0; modrm < 256; ++modrm) {
    unsigned mod = modrm >> 6;
    unsigned rm = modrm & 7;
    uint8_t follow = 0;
    if (mod == 0) {
      follow = rm == 4 ? 0x11 : rm == 5 ? 4 : 0;
    } else if (mod == 1) {
      follow = rm == 4 ? 2 : 1;
    } else if (mod == 2) {
      follow = rm == 4 ? 5 : 4;
    }
    table[modrm] = follow;
  }
  return table;
}
constexpr std::array<uint8_t, 256> kModRm = BuildModRmTable();

// 16-bit addressing, in force under the address-size prefix: no SIB byte,
// 16-bit displacements.
constexpr uint8_t ModRm16Follow(uint8_t modrm) {
  unsigned mod = modrm >> 6;
  if (mod == 0) return (modrm & 7) == 6 ? 2 : 0;
  if (mod == 1) return 1;
  if (mod == 2) return 2;
  return 0;
}

int64_t ReadSigned(const uint8_t* p, unsigned width) {
  if (width == 1) return static_cast<int8_t>(p[0]);
  if (width == 2) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteLittle(uint8_t* p, int64_t value, unsigned width) {
  uint32_t bits = static_cast<uint32_t>(static_cast<uint64_t>(value));
  for (unsigned i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Whether a relocated displacement can be stored in `width` bytes. In a
// 32-bit process every 32-bit displacement reaches, as addresses wrap.
bool Fits(int64_t value, unsigned width) {
  if (width == 4) return sizeof(void*) == 4 || (value >= INT32_MIN && value <= INT32_MAX);
  if (width == 2) return value >= INT16_MIN && value <= INT16_MAX;
  return value >= INT8_MIN && value <= INT8_MAX;
}

const uint8_t* Invalid(const CopyEntry&, CopierState& state, uint8_t*, const uint8_t* s) {
  state.outcome->invalid = true;
  return s + 1;
}

// Whether byte `offset` of the opcode at `s` lies within the longest
// instruction counted from its first prefix. Bytes beyond it are never read
// or copied: the instruction is invalid whatever they are.
bool WithinLongest(const CopierState& state, const uint8_t* s, unsigned offset) {
  return static_cast<size_t>(s - state.start) + offset < kMaxInstructionLength;
}

const uint8_t* Copy(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  bool overridden = (FlagsOf(row) & kAddressSizeRow) ? state.addressSize : state.operandSize;
  unsigned base = overridden ? SizeOverrideOf(row) : SizeOf(row);
  unsigned size = base;
  unsigned modrmOffset = ModRmOffsetOf(row);
  if (modrmOffset != 0) {
    if (!WithinLongest(state, s, modrmOffset)) return Invalid(row, state, d, s);
    uint8_t modrm = s[modrmOffset];
    if (state.addressSize) {
      size += ModRm16Follow(modrm);
    } else {
      uint8_t follow = kModRm[modrm];
      size += follow & 0x0F;
      if (follow & 0x10) {
        if (!WithinLongest(state, s, modrmOffset + 1)) return Invalid(row, state, d, s);
        if ((s[modrmOffset + 1] & 7) == 5) size += 4;
      }
    }
  }
  if (!WithinLongest(state, s, size - 1)) return Invalid(row, state, d, s);
  std::memcpy(d, s, size);
  unsigned dispOffset = DispOffsetOf(row);
  if (dispOffset != 0) {
    unsigned width = base - dispOffset;
    int64_t disp = ReadSigned(d + dispOffset, width);
    int64_t moved = disp - state.shift;
    WriteLittle(d + dispOffset, moved, width);
    state.outcome->hasBranch = true;
    state.outcome->branchOffset = static_cast<int64_t>(s - state.start) + base + disp;
    if (!Fits(moved, width)) {
      state.outcome->uncarried = true;
      state.outcome->extra = width == 1 ? 3 : width == 2 ? 2 : 0;
    }
    if (FlagsOf(row) & kNotWidenable) state.outcome->extra = -state.outcome->extra;
  }
  return s + size;
}

const uint8_t* CopyFromMap(const CopyEntry* map, CopierState& state, uint8_t* d, const uint8_t* s) {
  if (!WithinLongest(state, s, 0)) {
    state.outcome->invalid = true;
    return s;
  }
  const CopyEntry& row = map[*s];
  return row.handler(row, state, d, s);
}

const CopyEntry* OneByteMap();
const CopyEntry* EscapeMap();

const uint8_t* Prefix(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  if (++state.prefixes >= kMaxInstructionLength) return Invalid(row, state, d, s);
  *d = *s;
  return CopyFromMap(OneByteMap(), state, d + 1, s + 1);
}

const uint8_t* OperandSizePrefix(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  state.operandSize = true;
  return Prefix(row, state, d, s);
}

const uint8_t* AddressSizePrefix(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  state.addressSize = true;
  return Prefix(row, state, d, s);
}

const uint8_t* Escape(const CopyEntry&, CopierState& state, uint8_t* d, const uint8_t* s) {
  *d = *s;
  return CopyFromMap(EscapeMap(), state, d + 1, s + 1);
}

// EB and 70-7F become their 32-bit forms, which reach from anywhere.
const uint8_t* ShortJump(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  // Under an operand-size prefix the widened form would be read as a 16-bit
  // branch; such a jump is not moved.
  if (state.operandSize || !WithinLongest(state, s, 1)) return Invalid(row, state, d, s);
  int64_t e = static_cast<int8_t>(s[1]);
  int64_t moved;
  if (*s == 0xEB) {
    d[0] = 0xE9;
    moved = e - state.shift - 3;
    WriteLittle(d + 1, moved, 4);
    state.outcome->extra = 3;
  } else {
    d[0] = 0x0F;
    d[1] = static_cast<uint8_t>(0x80 | (*s & 0x0F));
    moved = e - state.shift - 4;
    WriteLittle(d + 2, moved, 4);
    state.outcome->extra = 4;
  }
  state.outcome->hasBranch = true;
  state.outcome->branchOffset = static_cast<int64_t>(s - state.start) + 2 + e;
  if (!Fits(moved, 4)) state.outcome->uncarried = true;
  return s + 2;
}

// F6 /0 and F7 /0 (test) carry an immediate; the rest of group 3 does not.
const uint8_t* Group3Byte(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  if (!WithinLongest(state, s, 1)) return Invalid(row, state, d, s);
  unsigned size = ((s[1] >> 3) & 7) == 0 ? 3 : 2;
  return Copy(Resized(row, size, size), state, d, s);
}

const uint8_t* Group3Word(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  if (!WithinLongest(state, s, 1)) return Invalid(row, state, d, s);
  bool test = ((s[1] >> 3) & 7) == 0;
  return Copy(Resized(row, test ? 6 : 2, test ? 4 : 2), state, d, s);
}

// BOUND, LES and LDS take a memory operand; with a register operand (mod 11)
// these bytes start a VEX or EVEX instruction, which is not moved.
const uint8_t* MemoryOperandOnly(const CopyEntry& row, CopierState& state, uint8_t* d, const uint8_t* s) {
  if (!WithinLongest(state, s, 1) || (s[1] >> 6) == 3) return Invalid(row, state, d, s);
  return Copy(row, state, d, s);
}

constexpr CopyEntry Row(unsigned op, unsigned size, unsigned sizeOverride, unsigned modrm, unsigned disp,
                        unsigned flags, CopyHandler handler) {
  return CopyEntry{Pack(op, size, sizeOverride, modrm, disp, flags), handler};
}
constexpr CopyEntry Plain(unsigned op, unsigned size) { return Row(op, size, size, 0, 0, 0, Copy); }
constexpr CopyEntry Imm32(unsigned op, unsigned size) { return Row(op, size, size - 2, 0, 0, 0, Copy); }
constexpr CopyEntry ModRm(unsigned op, unsigned size) { return Row(op, size, size, 1, 0, 0, Copy); }
constexpr CopyEntry ModRmImm32(unsigned op) { return Row(op, 6, 4, 1, 0, 0, Copy); }
constexpr CopyEntry Special(unsigned op, CopyHandler handler) { return Row(op, 1, 1, 0, 0, 0, handler); }

constexpr bool In(unsigned op, unsigned first, unsigned last) { return op >= first && op <= last; }

// The one-byte opcode map of 32-bit code.
constexpr CopyEntry OneByteRow(unsigned op) {
  switch (op) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0xF0:
    case 0xF2:
    case 0xF3:
      return Special(op, Prefix);
    case 0x66:
      return Special(op, OperandSizePrefix);
    case 0x67:
      return Special(op, AddressSizePrefix);
    case 0x0F:
      return Special(op, Escape);
    case 0xEB:
      return Row(op, 2, 2, 0, 1, 0, ShortJump);
    case 0xD6:
    case 0xF1:
      return Special(op, Invalid);
    case 0xF6:
      return Row(op, 2, 2, 1, 0, 0, Group3Byte);
    case 0xF7:
      return Row(op, 2, 2, 1, 0, 0, Group3Word);
    case 0xE0:
    case 0xE1:
    case 0xE2:
    case 0xE3:
      return Row(op, 2, 2, 0, 1, kNotWidenable, Copy);
    case 0xE8:
    case 0xE9:
      return Row(op, 5, 3, 0, 1, 0, Copy);
    case 0xA0:
    case 0xA1:
    case 0xA2:
    case 0xA3:
      return Row(op, 5, 3, 0, 0, kAddressSizeRow, Copy);
    case 0x9A:
    case 0xEA:
      return Imm32(op, 7);  // far pointer: 32-bit offset and selector
    case 0xC2:
    case 0xCA:
      return Plain(op, 3);  // 16-bit immediate whatever the operand size
    case 0xC8:
      return Plain(op, 4);
    case 0x68:
    case 0xA9:
      return Imm32(op, 5);
    case 0x69:
    case 0x81:
    case 0xC7:
      return ModRmImm32(op);
    case 0x6B:
    case 0x80:
    case 0x82:
    case 0x83:
    case 0xC0:
    case 0xC1:
    case 0xC6:
      return ModRm(op, 3);
    case 0x62:
    case 0xC4:
    case 0xC5:
      return Row(op, 2, 2, 1, 0, 0, MemoryOperandOnly);
    case 0x63:
    case 0xFE:
    case 0xFF:
      return ModRm(op, 2);
    case 0x6A:
    case 0xA8:
    case 0xCD:
    case 0xD4:
    case 0xD5:
      return Plain(op, 2);
    default:
      break;
  }
  if (In(op, 0x70, 0x7F)) return Row(op, 2, 2, 0, 1, 0, ShortJump);
  if (op < 0x40) {
    // The eight ALU groups: r/m forms, then AL/eAX with an immediate, then
    // one-byte segment pushes, pops and decimal adjusts.
    unsigned low = op & 7;
    if (low < 4) return ModRm(op, 2);
    if (low == 4) return Plain(op, 2);
    if (low == 5) return Imm32(op, 5);
    return Plain(op, 1);
  }
  if (In(op, 0x84, 0x8F) || In(op, 0xD0, 0xD3) || In(op, 0xD8, 0xDF)) return ModRm(op, 2);
  if (In(op, 0xB0, 0xB7) || In(op, 0xE4, 0xE7)) return Plain(op, 2);
  if (In(op, 0xB8, 0xBF)) return Imm32(op, 5);
  return Plain(op, 1);
}

// The map after the 0F escape byte; sizes count from the byte after 0F.
constexpr CopyEntry EscapeRow(unsigned op) {
  switch (op) {
    case 0x04:
    case 0x05:
    case 0x07:
    case 0x0A:
    case 0x0C:
    case 0xA6:
    case 0xA7:
    case 0xB8:
    case 0xB9:
    case 0xD0:
    case 0xF0:
    case 0xFF:
      return Special(op, Invalid);
    case 0x06:
    case 0x08:
    case 0x09:
    case 0x0B:
    case 0x0E:
    case 0x77:
    case 0xA0:
    case 0xA1:
    case 0xA2:
    case 0xA8:
    case 0xA9:
    case 0xAA:
      return Plain(op, 1);
    case 0x0F:
    case 0xA4:
    case 0xAC:
    case 0xBA:
    case 0xC2:
    case 0xC4:
    case 0xC5:
    case 0xC6:
      return ModRm(op, 3);
    default:
      break;
  }
  if (In(op, 0x19, 0x1E) || In(op, 0x24, 0x27) || In(op, 0x36, 0x3F) || In(op, 0x78, 0x7D)) {
    return Special(op, Invalid);
  }
  if (In(op, 0x80, 0x8F)) return Row(op, 5, 3, 0, 1, 0, Copy);
  if (In(op, 0x30, 0x35) || In(op, 0xC8, 0xCF)) return Plain(op, 1);
  if (In(op, 0x70, 0x73)) return ModRm(op, 3);
  return ModRm(op, 2);
}

template <CopyEntry (*RowOf)(unsigned)>
constexpr std::array<CopyEntry, 257> BuildMap() {
  std::array<CopyEntry, 257> map{};
  for (unsigned op = 0; op < 256; ++op) map[op] = RowOf(op);
  map[256] = CopyEntry{0, nullptr};
  return map;
}

constexpr std::array<CopyEntry, 257> kOneByteMap = BuildMap<OneByteRow>();
constexpr std::array<CopyEntry, 257> kEscapeMap = BuildMap<EscapeRow>();

const CopyEntry* OneByteMap() { return kOneByteMap.data(); }
const CopyEntry* EscapeMap() { return kEscapeMap.data(); }

// Segment, size, lock and repeat prefixes: the rows the map copies as prefixes.
bool IsPrefix(uint8_t byte) {
  const CopyHandler handler = kOneByteMap[byte].handler;
  return handler == Prefix || handler == OperandSizePrefix || handler == AddressSizePrefix;
}

}  // namespace

int64_t CodeDistance(const void* from, const void* to) {
  uintptr_t diff = reinterpret_cast<uintptr_t>(to) - reinterpret_cast<uintptr_t>(from);
  if (sizeof(uintptr_t) == 4) return static_cast<int32_t>(static_cast<uint32_t>(diff));
  return static_cast<int64_t>(diff);
}

const uint8_t* CopyInstruction(uint8_t* dst, const uint8_t* src, int64_t shift, CopyOutcome* outcome) {
  *outcome = CopyOutcome{0, false, false, false, 0};
  CopierState state{false, false, 0, src, shift, outcome};
  const uint8_t* next = CopyFromMap(OneByteMap(), state, dst, src);
  if (static_cast<size_t>(next - src) > kMaxInstructionLength) outcome->invalid = true;
  return next;
}

const uint8_t* PatchCopyInstruction(uint8_t* dst, const uint8_t* src, int32_t* extra) {
  if (src == nullptr) {
#ifdef _WIN32
    SetLastError(kPatchInvalidData);
#endif
    return nullptr;
  }
  // Room for the longest copy: 15 bytes plus the widening of a short jump.
  uint8_t scratch[32];
  uint8_t* out = dst != nullptr ? dst : scratch;
  CopyOutcome outcome;
  const uint8_t* next = CopyInstruction(out, src, CodeDistance(src, out), &outcome);
  if (extra != nullptr) *extra = outcome.extra;
  return next;
}

bool EndsFunction(const uint8_t* instruction) {
  // A return or jump still leaves the function under segment, size, repeat
  // or branch-hint prefixes ("rep ret", "bnd jmp").
  const uint8_t* p = instruction;
  for (size_t i = 1; i < kMaxInstructionLength && IsPrefix(*p); ++i) ++p;
  // An opcode with no room left for its second byte is no valid instruction.
  const bool second = p + 1 < instruction + kMaxInstructionLength;
  switch (p[0]) {
    case 0xEB:
    case 0xE9:
    case 0xEA:
    case 0xE0:
    case 0xC2:
    case 0xC3:
    case 0xCA:
    case 0xCB:
    case 0xCC:
    case 0xCF:
      return true;
    case 0x0F:  // ud2
      return second && p[1] == 0x0B;
    case 0xCD:  // int 29h, the fast-fail trap
      return second && p[1] == 0x29;
    case 0xFF:  // FF /4 and FF /5: near and far jumps through a register or memory
      return second && (((p[1] >> 3) & 7) == 4 || ((p[1] >> 3) & 7) == 5);
    default:
      return false;
  }
}
