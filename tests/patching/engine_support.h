#pragma once

// Helpers for the engine tests that run in-process under Windows: hand-made
// code in real executable memory and views of what the engine left there.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "patching/region_search.h"
#include "patching/trampoline.h"

namespace enginetest {

// Machine code under construction.
struct Code {
  std::vector<uint8_t> bytes;

  Code& Put(std::initializer_list<uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return *this;
  }
  Code& Put32(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  Code& PutAddress(const volatile void* address) {
    return Put32(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
  }
  size_t size() const { return bytes.size(); }
};

// Copies `code` to a fresh page that is then execute-read, like a code
// section. The page is never freed: each test case is a process of its own.
inline uint8_t* Place(const Code& code) {
  auto* page = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  std::memset(page, 0xCC, 0x1000);
  std::memcpy(page, code.bytes.data(), code.bytes.size());
  DWORD old;
  VirtualProtect(page, 0x1000, PAGE_EXECUTE_READ, &old);
  FlushInstructionCache(GetCurrentProcess(), page, 0x1000);
  return page;
}

inline std::vector<uint8_t> BytesAt(const void* address, size_t size) {
  auto* p = static_cast<const uint8_t*>(address);
  return std::vector<uint8_t>(p, p + size);
}

// Destination of the E9 jump at `at`, or null when there is none.
inline const void* JumpDestination(const void* at) {
  auto* p = static_cast<const uint8_t*>(at);
  if (p[0] != 0xE9) return nullptr;
  int32_t rel;
  std::memcpy(&rel, p + 1, 4);
  return p + 5 + rel;
}

inline DWORD ProtectionOf(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  VirtualQuery(address, &info, sizeof info);
  return info.Protect;
}

inline DWORD StateOf(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  VirtualQuery(address, &info, sizeof info);
  return info.State;
}

inline uintptr_t RegionOf(const void* trampoline) {
  return reinterpret_cast<uintptr_t>(trampoline) & ~uintptr_t{kRegionSize - 1};
}

inline bool OverlapsSystemArea(uintptr_t region) {
  return region + kRegionSize > kSystemAreaLow && region <= kSystemAreaHigh;
}

inline const Trampoline* AsTrampoline(const void* site) { return static_cast<const Trampoline*>(site); }

}  // namespace enginetest
