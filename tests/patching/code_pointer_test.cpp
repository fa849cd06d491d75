#include "patching/code_pointer.h"

#include <gtest/gtest.h>

#include "engine_support.h"
#include "import_stub.h"
#include "standin/standin.h"

namespace {

using enginetest::Code;
using enginetest::Place;

int __cdecl Hook() { return 7; }
void* HookAddress() { return reinterpret_cast<void*>(Hook); }

void* ImportedGetTickCount() {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
}

// Places `code` in this program's own image (the stand-in game area).
void* InImage(uint32_t address, const Code& code) {
  standin::PlaceInGame(address, code.bytes.data(), code.size());
  return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

void* At(uint8_t* base, size_t offset) { return base + offset; }

uint32_t data = 0;

TEST(CodeFromPointer, ImportStubLeadsToTheImportedFunction) {
  auto* stub = static_cast<uint8_t*>(GetTickCountStub());
  ASSERT_EQ(stub[0], 0xFF);
  ASSERT_EQ(stub[1], 0x25);
  uint32_t slot;
  std::memcpy(&slot, stub + 2, 4);
  EXPECT_EQ(slot, reinterpret_cast<uintptr_t>(GetTickCountSlot()));
  EXPECT_EQ(PatchCodeFromPointer(stub), ImportedGetTickCount());
  // The imported function itself is code already.
  EXPECT_EQ(PatchCodeFromPointer(ImportedGetTickCount()), ImportedGetTickCount());
}

TEST(CodeFromPointer, OnlyJumpsThroughAnImportTableAreFollowed) {
  // jmp [slot] with the slot in this program's import address table.
  void* throughIat = InImage(0x00401000, Code().Put({0xFF, 0x25}).PutAddress(GetTickCountSlot()));
  EXPECT_EQ(PatchCodeFromPointer(throughIat), ImportedGetTickCount());
  // jmp [slot] with the slot in ordinary data of the same image.
  data = reinterpret_cast<uintptr_t>(HookAddress());
  void* throughData = InImage(0x00401010, Code().Put({0xFF, 0x25}).PutAddress(&data));
  EXPECT_EQ(PatchCodeFromPointer(throughData), throughData);
  // jmp [slot] in memory that is not a module.
  void* outside = Place(Code().Put({0xFF, 0x25}).PutAddress(GetTickCountSlot()));
  EXPECT_EQ(PatchCodeFromPointer(outside), outside);
  // call [slot] is not a stub.
  void* call = InImage(0x00401020, Code().Put({0xFF, 0x15}).PutAddress(GetTickCountSlot()));
  EXPECT_EQ(PatchCodeFromPointer(call), call);
}

TEST(CodeFromPointer, ShortJumpLeadsToAPatchJumpOrAStub) {
  // jmp +3 to a near jump: the near jump's destination.
  auto* toNear = static_cast<uint8_t*>(
      InImage(0x00401100, Code().Put({0xEB, 0x03, 0xCC, 0xCC, 0xCC, 0xE9, 0, 0, 0, 0})));
  int32_t rel = static_cast<int32_t>(reinterpret_cast<uintptr_t>(HookAddress()) - (0x00401105 + 5));
  std::memcpy(toNear + 6, &rel, 4);
  EXPECT_EQ(PatchCodeFromPointer(toNear), HookAddress());
  // Backwards to an import stub.
  InImage(0x00401200, Code().Put({0xFF, 0x25}).PutAddress(GetTickCountSlot()));
  void* toStub = InImage(0x00401210, Code().Put({0xEB, 0xEE}));
  EXPECT_EQ(PatchCodeFromPointer(toStub), ImportedGetTickCount());
  // To ordinary code: the place reached.
  void* toCode = InImage(0x00401300, Code().Put({0xEB, 0x02, 0xCC, 0xCC, 0x55, 0x8B, 0xEC}));
  EXPECT_EQ(PatchCodeFromPointer(toCode), reinterpret_cast<void*>(0x00401304));
  // A near jump at the start is not followed, nor a second short jump.
  void* nearJump = InImage(0x00401400, Code().Put({0xE9, 0x10, 0, 0, 0}));
  EXPECT_EQ(PatchCodeFromPointer(nearJump), nearJump);
  void* twice = InImage(0x00401500, Code().Put({0xEB, 0x00, 0xEB, 0x00, 0xE9, 0, 0, 0, 0}));
  EXPECT_EQ(PatchCodeFromPointer(twice), reinterpret_cast<void*>(0x00401502));
  EXPECT_EQ(PatchCodeFromPointer(nullptr), nullptr);
}

// A hand-built module image: DOS header, PE32 headers with an import address
// table directory, a slot holding Hook and a stub jumping through it.
struct FakeModule {
  uint8_t* base;
  IMAGE_NT_HEADERS32* nt;
  void* stub;
};

constexpr size_t kNtOffset = 0x80;
constexpr size_t kIatOffset = 0x200;
constexpr size_t kIatSize = 0x20;

FakeModule BuildModule(size_t slotOffset) {
  auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS));
  VirtualAlloc(base, 0x1000, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  dos->e_magic = IMAGE_DOS_SIGNATURE;
  dos->e_lfanew = kNtOffset;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + kNtOffset);
  nt->Signature = IMAGE_NT_SIGNATURE;
  nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT] = {kIatOffset, kIatSize};
  void* hook = HookAddress();
  std::memcpy(base + slotOffset, &hook, 4);
  uint8_t* stub = base + 0x400;
  stub[0] = 0xFF;
  stub[1] = 0x25;
  uint32_t slot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base + slotOffset));
  std::memcpy(stub + 2, &slot, 4);
  return FakeModule{base, nt, stub};
}

TEST(CodeFromPointer, ImportTableTestReadsTheModuleHeaders) {
  FakeModule good = BuildModule(kIatOffset + 8);
  EXPECT_EQ(PatchCodeFromPointer(good.stub), HookAddress());
  FakeModule lastSlot = BuildModule(kIatOffset + kIatSize - 4);
  EXPECT_EQ(PatchCodeFromPointer(lastSlot.stub), HookAddress());
  FakeModule pastEnd = BuildModule(kIatOffset + kIatSize);
  EXPECT_EQ(PatchCodeFromPointer(pastEnd.stub), pastEnd.stub);
  FakeModule before = BuildModule(kIatOffset - 4);
  EXPECT_EQ(PatchCodeFromPointer(before.stub), before.stub);

  FakeModule wrong = BuildModule(kIatOffset);
  wrong.nt->Signature = 0x00014550;
  EXPECT_EQ(PatchCodeFromPointer(wrong.stub), wrong.stub);
  wrong.nt->Signature = IMAGE_NT_SIGNATURE;
  wrong.nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  EXPECT_EQ(PatchCodeFromPointer(wrong.stub), wrong.stub);
  wrong.nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  wrong.nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_DIRECTORY_ENTRY_IAT;
  EXPECT_EQ(PatchCodeFromPointer(wrong.stub), wrong.stub);
  wrong.nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  wrong.base[0] = 'N';
  EXPECT_EQ(PatchCodeFromPointer(wrong.stub), wrong.stub);
  wrong.base[0] = 'M';
  EXPECT_EQ(PatchCodeFromPointer(wrong.stub), HookAddress());
}

TEST(CodeFromPointer, BrokenHeadersAndUnreadableMemoryNeverFault) {
  // New-header offsets far outside the image, or running into its
  // uncommitted second page.
  FakeModule farHeader = BuildModule(kIatOffset);
  reinterpret_cast<IMAGE_DOS_HEADER*>(farHeader.base)->e_lfanew = 0x7FFFFFF0;
  EXPECT_EQ(PatchCodeFromPointer(farHeader.stub), farHeader.stub);
  reinterpret_cast<IMAGE_DOS_HEADER*>(farHeader.base)->e_lfanew = -0x1000;
  EXPECT_EQ(PatchCodeFromPointer(farHeader.stub), farHeader.stub);
  reinterpret_cast<IMAGE_DOS_HEADER*>(farHeader.base)->e_lfanew = 0xF80;
  std::memcpy(farHeader.base + 0xF80, "PE\0\0", 4);
  EXPECT_EQ(PatchCodeFromPointer(farHeader.stub), farHeader.stub);

  // Pointers to nothing, to inaccessible pages, and a jump whose slot or
  // landing place cannot be read.
  auto* pages =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  DWORD old;
  VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old);
  for (void* p : {reinterpret_cast<void*>(0x10), At(pages, 0x1000), At(farHeader.base, 0x1800)}) {
    EXPECT_EQ(PatchCodeFromPointer(p), p);
  }
  pages[0xFFE] = 0xEB;
  pages[0xFFF] = 0x10;
  EXPECT_EQ(PatchCodeFromPointer(pages + 0xFFE), pages + 0x1010);
  pages[0xFFC] = 0xFF;
  pages[0xFFD] = 0x25;
  EXPECT_EQ(PatchCodeFromPointer(pages + 0xFFC), pages + 0xFFC) << "stub cut short by the page end";
  FakeModule unreadableSlot = BuildModule(kIatOffset);
  unreadableSlot.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT] = {0x1000, 0x100};
  uint32_t slot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(unreadableSlot.base + 0x1000));
  std::memcpy(static_cast<uint8_t*>(unreadableSlot.stub) + 2, &slot, 4);
  EXPECT_EQ(PatchCodeFromPointer(unreadableSlot.stub), unreadableSlot.stub);
}

}  // namespace
