#include "patching/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Module headers may lie in memory that is not (or no longer) readable.
// Every read below is preceded by a VirtualQuery check of the range, so a
// bad header makes a lookup fail instead of faulting.

namespace {

constexpr uintptr_t kModuleWalkStep = 0x10000;

bool IsReadable(const MEMORY_BASIC_INFORMATION& info) {
  return info.State == MEM_COMMIT && (info.Protect & 0xFF) != PAGE_NOACCESS &&
         (info.Protect & PAGE_GUARD) == 0;
}

bool IsWritable(const MEMORY_BASIC_INFORMATION& info) {
  DWORD access = info.Protect & 0xFF;
  return access == PAGE_READWRITE || access == PAGE_WRITECOPY || access == PAGE_EXECUTE_READWRITE ||
         access == PAGE_EXECUTE_WRITECOPY;
}

// Every byte of [address, address + size) is committed and readable; with
// `writable`, writable too.
bool CanAccess(uintptr_t address, size_t size, bool writable = false) {
  if (size == 0) return true;
  if (address + size < address) return false;
  const uintptr_t end = address + size;
  for (;;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0) return false;
    if (!IsReadable(info) || (writable && !IsWritable(info))) return false;
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next == 0 || next >= end) return true;
    address = next;
  }
}

template <typename T>
T Read(uintptr_t address) {
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof value);
  return value;
}

// A located section: its header and how many bytes of it are mapped. Every
// byte of [header, header + extent) was checked readable.
struct PayloadSection {
  PayloadSectionHeader* header;
  DWORD extent;
};

DWORD LocateSection(HMODULE module, PayloadSection& found) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(module != nullptr ? module : GetModuleHandleW(nullptr));

  if (!CanAccess(base, sizeof(WORD))) return ERROR_EXE_MARKED_INVALID;
  if (Read<WORD>(base) != IMAGE_DOS_SIGNATURE) return ERROR_BAD_EXE_FORMAT;
  if (!CanAccess(base, sizeof(IMAGE_DOS_HEADER))) return ERROR_EXE_MARKED_INVALID;

  const auto newHeader = static_cast<DWORD>(Read<IMAGE_DOS_HEADER>(base).e_lfanew);
  const uintptr_t nt = base + newHeader;
  if (nt < base || !CanAccess(nt, sizeof(DWORD))) return ERROR_EXE_MARKED_INVALID;
  if (Read<DWORD>(nt) != IMAGE_NT_SIGNATURE) return ERROR_INVALID_EXE_SIGNATURE;

  const uintptr_t fileHeaderAddress = nt + sizeof(DWORD);
  if (!CanAccess(fileHeaderAddress, sizeof(IMAGE_FILE_HEADER))) return ERROR_EXE_MARKED_INVALID;
  const auto fileHeader = Read<IMAGE_FILE_HEADER>(fileHeaderAddress);
  if (fileHeader.SizeOfOptionalHeader == 0) return ERROR_EXE_MARKED_INVALID;

  const uintptr_t sections = fileHeaderAddress + sizeof(IMAGE_FILE_HEADER) + fileHeader.SizeOfOptionalHeader;
  for (size_t i = 0; i < fileHeader.NumberOfSections; ++i) {
    const uintptr_t entry = sections + i * sizeof(IMAGE_SECTION_HEADER);
    if (!CanAccess(entry, sizeof(IMAGE_SECTION_HEADER))) return ERROR_EXE_MARKED_INVALID;
    const auto section = Read<IMAGE_SECTION_HEADER>(entry);
    if (std::memcmp(section.Name, kPayloadSectionName, IMAGE_SIZEOF_SHORT_NAME) != 0) continue;

    if (section.VirtualAddress == 0 || section.SizeOfRawData == 0) return ERROR_EXE_MARKED_INVALID;
    // The loader maps VirtualSize bytes; linkers that leave it 0 mean the raw size.
    const DWORD extent = section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
    const uintptr_t header = base + section.VirtualAddress;
    if (header < base || !CanAccess(header, extent)) return ERROR_EXE_MARKED_INVALID;
    if (extent < kPayloadHeaderMinSize) return ERROR_EXE_MARKED_INVALID;

    auto* payloadHeader = reinterpret_cast<PayloadSectionHeader*>(header);
    const auto fields = Read<PayloadSectionHeader>(header);
    if (fields.headerSize < kPayloadHeaderMinSize || fields.headerSize > extent ||
        fields.signature != kPayloadSignature)
      return ERROR_EXE_MARKED_INVALID;

    // A read-only section keeps its 0; the record walk reads it as the header size.
    if (fields.dataOffset == 0 &&
        CanAccess(header + offsetof(PayloadSectionHeader, dataOffset), sizeof(DWORD), true))
      payloadHeader->dataOffset = fields.headerSize;

    found = {payloadHeader, extent};
    return NO_ERROR;
  }
  return ERROR_EXE_MARKED_INVALID;
}

// True when the block at `info` (readable, per IsReadable) begins a PE image.
bool IsModuleImage(const MEMORY_BASIC_INFORMATION& info) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  if (info.RegionSize < sizeof(IMAGE_DOS_HEADER) || Read<WORD>(base) != IMAGE_DOS_SIGNATURE) return false;
  const auto newHeader = static_cast<DWORD>(Read<IMAGE_DOS_HEADER>(base).e_lfanew);
  if (newHeader < sizeof(IMAGE_DOS_HEADER) || newHeader > info.RegionSize - sizeof(DWORD)) return false;
  return Read<DWORD>(base + newHeader) == IMAGE_NT_SIGNATURE;
}

}  // namespace

HMODULE PatchNextModule(HMODULE previous) {
  uintptr_t address = reinterpret_cast<uintptr_t>(previous) + kModuleWalkStep;
  if (address < kModuleWalkStep) return nullptr;
  for (;;) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0) return nullptr;
    if (IsReadable(info) && IsModuleImage(info)) return static_cast<HMODULE>(info.BaseAddress);
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) return nullptr;
    address = next;
  }
}

PayloadSectionHeader* PatchFindPayloadSection(HMODULE module) {
  PayloadSection section = {};
  const DWORD error = LocateSection(module, section);
  SetLastError(error);
  return section.header;
}

void* PatchFindPayload(HMODULE module, const GUID& id, DWORD* size) {
  if (size != nullptr) *size = 0;
  PayloadSection section = {};
  const DWORD error = LocateSection(module, section);
  if (error != NO_ERROR) {
    SetLastError(error);
    return nullptr;
  }

  // Records are walked only inside the section: a data end beyond it is cut
  // back, and a record shorter than its head or running past the end stops
  // the walk (a size of 0 would never advance).
  const uintptr_t header = reinterpret_cast<uintptr_t>(section.header);
  const auto fields = Read<PayloadSectionHeader>(header);
  const DWORD end = fields.dataEnd < section.extent ? fields.dataEnd : section.extent;
  DWORD offset = fields.dataOffset != 0 ? fields.dataOffset : fields.headerSize;
  while (offset < end && end - offset >= sizeof(PayloadRecordHead)) {
    const auto record = Read<PayloadRecordHead>(header + offset);
    if (record.size < sizeof(PayloadRecordHead) || record.size > end - offset) break;
    if (IsEqualGUID(record.id, id)) {
      if (size != nullptr) *size = record.size - static_cast<DWORD>(sizeof(PayloadRecordHead));
      SetLastError(NO_ERROR);
      return reinterpret_cast<void*>(header + offset + sizeof(PayloadRecordHead));
    }
    offset += record.size;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

void* PatchFindPayloadAnywhere(const GUID& id, DWORD* size) {
  for (HMODULE module = PatchNextModule(nullptr); module != nullptr; module = PatchNextModule(module)) {
    if (void* data = PatchFindPayload(module, id, size)) return data;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}
