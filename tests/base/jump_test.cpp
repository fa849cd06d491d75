#include "base/jump.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "standin/standin.h"
#include "textures/texture_addresses.h"

namespace {

// An address inside the game's code.
constexpr uint32_t kJumpAt = game::kInsertedSleepJump;

extern "C" int __cdecl StubReturning42() { return 42; }

DWORD ProtectionAt(uint32_t address) {
  MEMORY_BASIC_INFORMATION info = {};
  VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info, sizeof info);
  return info.Protect;
}

TEST(RelJump, WritesE9AndDisplacementAndKeepsProtection) {
  // mov eax, 7; ret  — the game's own code before the jump is written.
  const uint8_t original[] = {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3, 0x90, 0x90};
  standin::PlaceInGame(kJumpAt, original, sizeof original);
  auto* at = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(kJumpAt));
  auto call = reinterpret_cast<int(__cdecl*)()>(at);
  ASSERT_EQ(call(), 7);

  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(at, 8, PAGE_EXECUTE_READ, &old));
  WriteRelJump(kJumpAt, reinterpret_cast<const void*>(&StubReturning42));

  EXPECT_EQ(at[0], 0xE9);
  int32_t displacement = 0;
  std::memcpy(&displacement, at + 1, 4);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(at) + 5 + static_cast<uintptr_t>(displacement),
            reinterpret_cast<uintptr_t>(&StubReturning42));
  EXPECT_EQ(at[5], 0xC3) << "bytes after the jump stay";
  EXPECT_EQ(ProtectionAt(kJumpAt), static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(call(), 42);
}

TEST(RelJump, JumpAcrossTwoPagesKeepsEachPagesProtection) {
  auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT, PAGE_EXECUTE_READ));
  DWORD old = 0;
  VirtualProtect(pages + 0x1000, 0x1000, PAGE_READONLY, &old);
  auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pages + 0x1000 - 2));
  WriteRelJump(address, reinterpret_cast<const void*>(&StubReturning42));
  EXPECT_EQ(pages[0x1000 - 2], 0xE9);
  EXPECT_EQ(ProtectionAt(address), static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionAt(address + 2), static_cast<DWORD>(PAGE_READONLY));
}

TEST(RelJump, UnwritableAddressIsRefusedWithoutFault) {
  void* reserved = VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  WriteRelJump(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reserved)),
               reinterpret_cast<const void*>(&StubReturning42));
  auto lines = standin::ReadLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("ERROR: cannot write jump at"), std::string::npos) << lines.back();
}

}  // namespace
