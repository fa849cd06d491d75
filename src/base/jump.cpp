#include "base/jump.h"

#include <windows.h>

#include "base/log.h"

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
  // Jumps are written while the host loads plug-ins, before the game's own
  // threads run the code they replace; no store order could make the five
  // bytes change at once for a thread passing by. The displacement still
  // goes in before the opcode (volatile stores, kept in this order), so the
  // bytes are never an E9 with a stale target.
  volatile uint8_t* bytes = at;
  for (size_t i = 0; i < sizeof displacement; ++i) {
    bytes[1 + i] = static_cast<uint8_t>(static_cast<uint32_t>(displacement) >> (8 * i));
  }
  bytes[0] = kJumpOpcode;
  VirtualProtect(at, kJumpLength, oldProtection, &oldProtection);
  FlushInstructionCache(GetCurrentProcess(), at, kJumpLength);
}
