#include "patching/code_pointer.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "base/readable_memory.h"

namespace {

constexpr uint16_t kDosSignature = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint8_t kShortJump = 0xEB;
constexpr uint8_t kNearJump = 0xE9;

// Address arithmetic that wraps as the processor's does.
uint8_t* Advance(uint8_t* code, int64_t delta) {
  return reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(code) + static_cast<uintptr_t>(delta));
}

// Whether `slot` lies in the import address table of the module holding
// `code`. Every header read is checked first.
bool InImportAddressTable(const void* code, uintptr_t slot) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(code, &info, sizeof info) == 0 || info.AllocationBase == nullptr) return false;
  const uint8_t* base = static_cast<const uint8_t*>(info.AllocationBase);
  IMAGE_DOS_HEADER dos;
  if (!ReadGuarded(base, &dos, sizeof dos) || dos.e_magic != kDosSignature) return false;
  IMAGE_NT_HEADERS32 nt;
  if (!ReadGuarded(base + dos.e_lfanew, &nt, sizeof nt) || nt.Signature != kPeSignature) return false;
  const IMAGE_OPTIONAL_HEADER32& optional = nt.OptionalHeader;
  if (optional.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
      optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IAT) {
    return false;
  }
  const IMAGE_DATA_DIRECTORY& iat = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  uintptr_t start = reinterpret_cast<uintptr_t>(base) + iat.VirtualAddress;
  return slot >= start && slot - start < iat.Size;
}

// `code` is `jmp [slot]` with the slot in an import address table: the
// imported function's address.
bool ImportStubDestination(uint8_t* code, uint8_t** destination) {
  uint8_t stub[6];
  if (!ReadGuarded(code, stub, sizeof stub) || stub[0] != 0xFF || stub[1] != 0x25) return false;
  uint32_t slot;
  std::memcpy(&slot, stub + 2, sizeof slot);
  if (!InImportAddressTable(code, slot)) return false;
  return ReadGuarded(reinterpret_cast<const void*>(static_cast<uintptr_t>(slot)), destination,
                     sizeof *destination);
}

}  // namespace

void* PatchCodeFromPointer(void* pointer) {
  uint8_t* code = static_cast<uint8_t*>(pointer);
  if (code == nullptr) return nullptr;
  uint8_t* imported;
  if (ImportStubDestination(code, &imported)) code = imported;
  uint8_t head[2];
  if (ReadGuarded(code, head, sizeof head) && head[0] == kShortJump) {
    code = Advance(code, 2 + static_cast<int8_t>(head[1]));
    uint8_t jump[5];
    if (ImportStubDestination(code, &imported)) {
      code = imported;
    } else if (ReadGuarded(code, jump, sizeof jump) && jump[0] == kNearJump) {
      int32_t rel;
      std::memcpy(&rel, jump + 1, sizeof rel);
      code = Advance(code, int64_t{5} + rel);
    }
  }
  return code;
}
