#pragma once

#include <windows.h>

// Tagged data blocks (payloads) that a launcher may place in a module's
// ".detour" section, and the walk over the modules that may hold them.

// Start of a ".detour" section. Offsets are relative to the header itself.
struct PayloadSectionHeader {
  DWORD headerSize;  // at least kPayloadHeaderMinSize
  DWORD signature;   // kPayloadSignature
  DWORD dataOffset;  // first record; 0 stands for headerSize
  DWORD dataEnd;     // end of the records
  // Further launcher fields up to headerSize.
};

// Head of each payload record; the record's data follows it.
struct PayloadRecordHead {
  DWORD size;  // whole record, head included
  DWORD reserved;
  GUID id;
};

constexpr char kPayloadSectionName[IMAGE_SIZEOF_SHORT_NAME] = {'.', 'd', 'e', 't', 'o', 'u', 'r', '\0'};
constexpr DWORD kPayloadSignature = 0x00727444;  // "Dtr\0"
constexpr DWORD kPayloadHeaderMinSize = 64;

// Base of the next module whose image lies above `previous` (the lowest one
// when `previous` is null), or null when there is none.
HMODULE PatchNextModule(HMODULE previous);

// The ".detour" section header of `module` (the executable when null), or null.
// Sets the thread's last error: NO_ERROR on success, ERROR_BAD_EXE_FORMAT
// without "MZ", ERROR_INVALID_EXE_SIGNATURE without the NT signature,
// ERROR_EXE_MARKED_INVALID without a sound section (or unreadable headers).
// A data offset of 0 is replaced in place by the header size.
PayloadSectionHeader* PatchFindPayloadSection(HMODULE module);

// Data of the first record tagged `id` in `module`'s section, or null. `size`
// (optional) receives the data's length, 0 on failure. Last error NO_ERROR
// on success, ERROR_INVALID_HANDLE when no sound record carries `id`, or the
// section lookup's error.
void* PatchFindPayload(HMODULE module, const GUID& id, DWORD* size);

// The first payload tagged `id` in any module (walked upwards from the
// lowest), or null with last error ERROR_MOD_NOT_FOUND.
void* PatchFindPayloadAnywhere(const GUID& id, DWORD* size);
