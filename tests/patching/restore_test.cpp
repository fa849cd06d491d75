#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "patching/patching.h"
#include "test_payloads.h"

namespace {

// The header restore record as a launcher writes it.
struct SavedHeaders {
  DWORD size;
  DWORD dosHeaderLength;
  DWORD ntHeadersLength;
  DWORD runtimeHeaderLength;
  DWORD dosHeaderAddress;
  DWORD ntHeadersAddress;
  DWORD runtimeHeaderAddress;
  BYTE dosHeader[64];
  BYTE ntHeaders[1544];
  BYTE runtimeHeader[20];
};
static_assert(sizeof(SavedHeaders) == 1656);

constexpr GUID kRestoreId = {0x2ED7A3FF, 0x3339, 0x4A8D, {0x80, 0x5C, 0xD4, 0x98, 0x15, 0x3F, 0xC2, 0x8F}};

DWORD AddressOf(const void* p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

// Room in the slot for a payload a little longer than the record.
constexpr DWORD kRestoreSlotSize = 1664;

// Puts `record` into the test program's restore slot under the restore
// identifier; `payloadSize` is the size its record head declares for it.
void ArmRestoreSlot(const SavedHeaders& record, DWORD payloadSize = sizeof(SavedHeaders)) {
  PayloadRecordHead head = {kRecordHeadSize + payloadSize, 0, kRestoreId};
  std::memcpy(test_restore_slot, &head, sizeof head);
  std::memcpy(test_restore_slot + sizeof head, &record, sizeof record);
}

DWORD ProtectionOf(const void* address) {
  MEMORY_BASIC_INFORMATION info = {};
  VirtualQuery(address, &info, sizeof info);
  return info.Protect;
}

// Scratch headers: a read-only page holding a DOS header at 0 and NT headers
// at 0x80, and an execute-read page holding a runtime header at 0x1008.
// Everything starts as 0xCC; the saved copies are distinct patterns.
struct Scratch {
  static constexpr DWORD kNt = 0x80;
  static constexpr DWORD kRuntime = 0x1008;
  BYTE* base;
  SavedHeaders record = {};

  Scratch() {
    base = static_cast<BYTE*>(VirtualAlloc(nullptr, 0x2000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    std::memset(base, 0xCC, 0x2000);
    DWORD previous;
    VirtualProtect(base, 0x1000, PAGE_READONLY, &previous);
    VirtualProtect(base + 0x1000, 0x1000, PAGE_EXECUTE_READ, &previous);

    record.size = sizeof record;
    record.dosHeaderLength = 64;
    record.ntHeadersLength = 248;
    record.runtimeHeaderLength = 20;
    record.dosHeaderAddress = AddressOf(base);
    record.ntHeadersAddress = AddressOf(base + kNt);
    record.runtimeHeaderAddress = AddressOf(base + kRuntime);
    for (size_t i = 0; i < sizeof record.dosHeader; ++i) record.dosHeader[i] = static_cast<BYTE>(i);
    for (size_t i = 0; i < sizeof record.ntHeaders; ++i)
      record.ntHeaders[i] = static_cast<BYTE>(0x40 + i * 7);
    for (size_t i = 0; i < sizeof record.runtimeHeader; ++i)
      record.runtimeHeader[i] = static_cast<BYTE>(0xA0 + i);
  }
  ~Scratch() { VirtualFree(base, 0, MEM_RELEASE); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  bool Untouched() const {
    for (DWORD i = 0; i < 0x2000; ++i)
      if (base[i] != 0xCC) return false;
    return ProtectionOf(base) == PAGE_READONLY && ProtectionOf(base + 0x1000) == PAGE_EXECUTE_READ;
  }
  bool Filled(BYTE value, DWORD from, DWORD to) const {
    for (DWORD i = from; i < to; ++i)
      if (base[i] != value) return false;
    return true;
  }
};

// An address that is reserved but not committed: its protection cannot change.
struct Reserved {
  void* address = VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS);
  ~Reserved() { VirtualFree(address, 0, MEM_RELEASE); }
};

TEST(Restore, WithoutARestorePayloadNothingHappens) {
  SetLastError(NO_ERROR);
  EXPECT_FALSE(PatchRestoreAfterLaunch());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Restore, EmptyRestorePayloadCountsAsNone) {
  Scratch scratch;
  ArmRestoreSlot(scratch.record, 0);
  SetLastError(NO_ERROR);
  EXPECT_FALSE(PatchRestoreAfterLaunch());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(scratch.Untouched());
}

TEST(Restore, SavedHeadersGoBackAndProtectionsToo) {
  Scratch scratch;
  ArmRestoreSlot(scratch.record);
  ASSERT_TRUE(PatchRestoreAfterLaunch());

  EXPECT_EQ(std::memcmp(scratch.base, scratch.record.dosHeader, 64), 0);
  EXPECT_TRUE(scratch.Filled(0xCC, 64, Scratch::kNt));
  EXPECT_EQ(std::memcmp(scratch.base + Scratch::kNt, scratch.record.ntHeaders, 248), 0);
  EXPECT_TRUE(scratch.Filled(0xCC, Scratch::kNt + 248, Scratch::kRuntime));
  EXPECT_EQ(std::memcmp(scratch.base + Scratch::kRuntime, scratch.record.runtimeHeader, 20), 0);
  EXPECT_TRUE(scratch.Filled(0xCC, Scratch::kRuntime + 20, 0x2000));
  // The DOS and NT ranges share a page: it must end read-only again.
  EXPECT_EQ(ProtectionOf(scratch.base), static_cast<DWORD>(PAGE_READONLY));
  EXPECT_EQ(ProtectionOf(scratch.base + 0x1000), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

TEST(Restore, ProgramsOwnAlteredHeaderIsPutBack) {
  BYTE* image = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(image + dos->e_lfanew);
  const DWORD ntLength = offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader;
  ASSERT_LE(ntLength, 1544u);

  SavedHeaders record = {};
  record.size = sizeof record;
  record.dosHeaderLength = sizeof(IMAGE_DOS_HEADER);
  record.ntHeadersLength = ntLength;
  record.dosHeaderAddress = AddressOf(dos);
  record.ntHeadersAddress = AddressOf(nt);
  std::memcpy(record.dosHeader, dos, sizeof(IMAGE_DOS_HEADER));
  std::memcpy(record.ntHeaders, nt, ntLength);
  const std::vector<BYTE> original(image, image + 0x1000);
  const DWORD protection = ProtectionOf(image);

  // What a launcher does to a program's header before it starts it.
  DWORD previous;
  ASSERT_TRUE(VirtualProtect(image, 0x1000, PAGE_READWRITE, &previous));
  dos->e_cblp ^= 0x5555;
  nt->FileHeader.TimeDateStamp ^= 0x12345678;
  nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress ^= 0x1000;
  nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].Size = 0x48;
  ASSERT_TRUE(VirtualProtect(image, 0x1000, previous, &previous));
  ASSERT_NE(std::memcmp(image, original.data(), original.size()), 0);

  ArmRestoreSlot(record);
  ASSERT_TRUE(PatchRestoreAfterLaunch());
  EXPECT_EQ(std::memcmp(image, original.data(), original.size()), 0);
  EXPECT_EQ(ProtectionOf(image), protection);
}

TEST(Restore, UnsoundRecordsAreRefusedAndChangeNothing) {
  struct Case {
    const char* what;
    std::function<void(SavedHeaders&)> spoil;
    DWORD payloadSize;
  };
  const Case cases[] = {
      {"record size 1655", [](SavedHeaders& r) { r.size = 1655; }, sizeof(SavedHeaders)},
      {"record size 1657", [](SavedHeaders& r) { r.size = 1657; }, sizeof(SavedHeaders)},
      {"record size 1660 in a payload that holds it", [](SavedHeaders& r) { r.size = 1660; },
       kRestoreSlotSize},
      {"record size 0", [](SavedHeaders& r) { r.size = 0; }, sizeof(SavedHeaders)},
      {"payload of 1655 bytes", [](SavedHeaders&) {}, 1655},
      {"payload of 4 bytes", [](SavedHeaders&) {}, 4},
      {"DOS length past its field", [](SavedHeaders& r) { r.dosHeaderLength = 65; }, sizeof(SavedHeaders)},
      {"NT length past its field", [](SavedHeaders& r) { r.ntHeadersLength = 1545; }, sizeof(SavedHeaders)},
      {"runtime length past its field", [](SavedHeaders& r) { r.runtimeHeaderLength = 21; },
       sizeof(SavedHeaders)},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    c.spoil(scratch.record);
    ArmRestoreSlot(scratch.record, c.payloadSize);
    SetLastError(NO_ERROR);
    EXPECT_FALSE(PatchRestoreAfterLaunch()) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << c.what;
    EXPECT_TRUE(scratch.Untouched()) << c.what;
  }
}

TEST(Restore, RangesThatCannotBeMadeWritableFail) {
  Reserved reserved;
  {
    Scratch scratch;
    scratch.record.dosHeaderAddress = AddressOf(reserved.address);
    ArmRestoreSlot(scratch.record);
    EXPECT_FALSE(PatchRestoreAfterLaunch());
    EXPECT_TRUE(scratch.Untouched());
  }
  {
    Scratch scratch;
    scratch.record.ntHeadersAddress = AddressOf(reserved.address);
    ArmRestoreSlot(scratch.record);
    EXPECT_FALSE(PatchRestoreAfterLaunch());
    EXPECT_TRUE(scratch.Untouched());
  }
  {
    // The DOS and NT headers still go back; the runtime header cannot.
    Scratch scratch;
    scratch.record.runtimeHeaderAddress = AddressOf(reserved.address);
    ArmRestoreSlot(scratch.record);
    EXPECT_FALSE(PatchRestoreAfterLaunch());
    EXPECT_EQ(std::memcmp(scratch.base, scratch.record.dosHeader, 64), 0);
    EXPECT_EQ(std::memcmp(scratch.base + Scratch::kNt, scratch.record.ntHeaders, 248), 0);
    EXPECT_TRUE(scratch.Filled(0xCC, 0x1000, 0x2000));
    EXPECT_EQ(ProtectionOf(scratch.base), static_cast<DWORD>(PAGE_READONLY));
  }
}

}  // namespace
