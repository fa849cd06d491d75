#include "plugin/jump.h"

#include <windows.h>

#include <cstring>

#include "plugin/log.h"

namespace {

constexpr uint8_t kJumpOpcode = 0xE9;
constexpr size_t kJumpLength = 5;

}  // namespace

void WriteRelJump(uint32_t address, const void* stub) {
  auto* at = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
  const int32_t displacement = static_cast<int32_t>(reinterpret_cast<uintptr_t>(stub) -
                                                    (reinterpret_cast<uintptr_t>(at) + kJumpLength));
  // All five bytes are made writable first, so that a refusal leaves the
  // game's code whole instead of half-rewritten.
  DWORD oldProtection = 0;
  if (!VirtualProtect(at, kJumpLength, PAGE_EXECUTE_READWRITE, &oldProtection)) {
    LogLine(GetLog(), LogError, "cannot write jump at %08X (error %lu)", address, GetLastError());
    return;
  }
  // The displacement goes in before the opcode, so a game thread passing by
  // never meets a jump with a half-written target.
  std::memcpy(at + 1, &displacement, sizeof displacement);
  std::memcpy(at, &kJumpOpcode, 1);
  VirtualProtect(at, kJumpLength, oldProtection, &oldProtection);
  FlushInstructionCache(GetCurrentProcess(), at, kJumpLength);
}
