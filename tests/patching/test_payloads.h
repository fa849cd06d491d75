#pragma once

// The records of the test program's own ".detour" section (detour_section.S).

#include <windows.h>

#include "patching/payload.h"

extern "C" PayloadSectionHeader test_payload_header;
extern "C" BYTE test_record_text[];
extern "C" BYTE test_record_empty[];
extern "C" BYTE test_restore_slot[];

constexpr GUID kTextRecordId = {0x6B1D7A10, 0x2C3E, 0x4F51, {0x9A, 0x0B, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
constexpr GUID kEmptyRecordId = {
    0x6B1D7A11, 0x2C3E, 0x4F51, {0x9A, 0x0B, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
constexpr char kTextRecordData[] = "payload text";  // without its NUL
constexpr DWORD kRecordHeadSize = sizeof(PayloadRecordHead);
static_assert(kRecordHeadSize == 24);
