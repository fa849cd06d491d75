#include <cstdint>
#include <cstring>

#include "patching/patching.h"
#include "patching/payload.h"
#include "patching/symbol_handler.h"

namespace {

constexpr size_t kSymbolNameCapacity = 512;
// A symbol record with room for a name of kSymbolNameCapacity characters.
constexpr size_t kSymbolRecordBytes = 600;
static_assert(sizeof(SYMBOL_INFO) + kSymbolNameCapacity == kSymbolRecordBytes);
// The module record in its full form (debug-help interface version 11 and later).
constexpr DWORD kModuleRecordBytes = 1680;
static_assert(sizeof(IMAGEHLP_MODULE64) == kModuleRecordBytes);

// The image headers a launcher saved before changing them, in the payload
// tagged kRestoreRecordId.
struct RestoreRecord {
  DWORD size;
  DWORD dosHeaderLength;
  DWORD ntHeadersLength;
  DWORD runtimeHeaderLength;
  DWORD dosHeaderAddress;
  DWORD ntHeadersAddress;
  DWORD runtimeHeaderAddress;  // 0: none
  BYTE dosHeader[64];
  BYTE ntHeaders[1544];
  BYTE runtimeHeader[20];
};
constexpr DWORD kRestoreRecordSize = 1656;
static_assert(sizeof(RestoreRecord) == kRestoreRecordSize);

constexpr GUID kRestoreRecordId = {
    0x2ED7A3FF, 0x3339, 0x4A8D, {0x80, 0x5C, 0xD4, 0x98, 0x15, 0x3F, 0xC2, 0x8F}};

// Appends `text` to the NUL-terminated `buffer` of `capacity` characters;
// false (buffer unchanged) when it does not fit.
bool Append(char* buffer, size_t capacity, const char* text, size_t length) {
  const size_t used = std::strlen(buffer);
  if (length >= capacity - used) return false;
  std::memcpy(buffer + used, text, length);
  buffer[used + length] = '\0';
  return true;
}

void* FindBySymbol(HMODULE module, const char* library, const char* function) {
  const SymbolHandlerTable* symbols = LoadSymbolHandler();
  if (symbols == nullptr) return nullptr;

  // Sign-extended, as the handler keys 32-bit modules.
  const auto base = static_cast<DWORD64>(static_cast<int64_t>(reinterpret_cast<intptr_t>(module)));
  SetLastError(NO_ERROR);
  // 0 with no error: the handler knows the module already.
  if (symbols->symLoadModule64(symbols->process, nullptr, library, nullptr, base, 0) == 0 &&
      GetLastError() != NO_ERROR)
    return nullptr;

  IMAGEHLP_MODULE64 moduleInfo = {};
  moduleInfo.SizeOfStruct = kModuleRecordBytes;
  if (!symbols->symGetModuleInfo64(symbols->process, base, &moduleInfo)) return nullptr;

  char name[kSymbolNameCapacity] = {};
  if (!Append(name, sizeof name, moduleInfo.ModuleName,
              strnlen(moduleInfo.ModuleName, sizeof moduleInfo.ModuleName)) ||
      !Append(name, sizeof name, "!", 1) || !Append(name, sizeof name, function, std::strlen(function)))
    return nullptr;

  alignas(SYMBOL_INFO) BYTE record[kSymbolRecordBytes] = {};
  auto* symbol = reinterpret_cast<SYMBOL_INFO*>(record);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = kSymbolNameCapacity;
  if (!symbols->symFromName(symbols->process, name, symbol)) return nullptr;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<DWORD>(symbol->Address)));
}

// Copies the restore record out of a payload of `size` bytes. The record is
// read only once the payload is known to hold all of it, and each saved
// length must stay within its field.
bool ReadRestoreRecord(const void* payload, DWORD size, RestoreRecord& record) {
  if (size < kRestoreRecordSize) return false;
  std::memcpy(&record, payload, sizeof record);
  return record.size == kRestoreRecordSize && record.dosHeaderLength <= sizeof record.dosHeader &&
         record.ntHeadersLength <= sizeof record.ntHeaders &&
         record.runtimeHeaderLength <= sizeof record.runtimeHeader;
}

// Makes [address, address + length) writable; remembers the old protection.
struct Unprotected {
  void* address;
  DWORD length;
  DWORD previous;
  bool active;

  Unprotected(DWORD at, DWORD size)
      : address(reinterpret_cast<void*>(static_cast<uintptr_t>(at))),
        length(size),
        previous(0),
        active(false) {
    active = VirtualProtect(address, length, PAGE_EXECUTE_READWRITE, &previous) != FALSE;
  }
  ~Unprotected() {
    DWORD ignored;
    if (active) VirtualProtect(address, length, previous, &ignored);
  }
  Unprotected(const Unprotected&) = delete;
  Unprotected& operator=(const Unprotected&) = delete;
};

}  // namespace

void* PatchFindFunction(const char* library, const char* function) {
  HMODULE module = LoadLibraryExA(library, nullptr, 0);
  if (module == nullptr) return nullptr;
  if (FARPROC exported = GetProcAddress(module, function)) return reinterpret_cast<void*>(exported);
  // Ordinals (and null) have no symbol name to look up.
  if (IS_INTRESOURCE(function)) return nullptr;
  return FindBySymbol(module, library, function);
}

bool PatchRestoreAfterLaunch() {
  DWORD size = 0;
  const void* payload = PatchFindPayloadAnywhere(kRestoreRecordId, &size);
  if (payload == nullptr || size == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  RestoreRecord record;
  if (!ReadRestoreRecord(payload, size, record)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return false;
  }

  // Destructors give each range its old protection back in reverse order,
  // which stays right when ranges share a page.
  Unprotected dos(record.dosHeaderAddress, record.dosHeaderLength);
  if (!dos.active) return false;
  Unprotected nt(record.ntHeadersAddress, record.ntHeadersLength);
  if (!nt.active) return false;
  std::memcpy(dos.address, record.dosHeader, record.dosHeaderLength);
  std::memcpy(nt.address, record.ntHeaders, record.ntHeadersLength);
  if (record.runtimeHeaderAddress == 0) return true;
  Unprotected runtime(record.runtimeHeaderAddress, record.runtimeHeaderLength);
  if (!runtime.active) return false;
  std::memcpy(runtime.address, record.runtimeHeader, record.runtimeHeaderLength);
  return true;
}
