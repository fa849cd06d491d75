#include <gtest/gtest.h>

#include "engine_support.h"
#include "patching/patching.h"
#include "standin/standin.h"

namespace {

using enginetest::Code;
using enginetest::OverlapsSystemArea;
using enginetest::Place;
using enginetest::ProtectionOf;
using enginetest::RegionOf;
using enginetest::StateOf;

constexpr uint32_t kSignature = 0x52727464;
constexpr size_t kFirstSlotOffset = 216;
constexpr size_t kSlot = 72;

int __cdecl Hook() { return 0; }
void* HookAddress() { return reinterpret_cast<void*>(Hook); }

// push ebp; mov ebp,esp; sub esp,16; mov eax,42; leave; ret
const Code kPrologue = Code().Put({0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0xB8, 42, 0, 0, 0, 0xC9, 0xC3});

// Hand-made functions at fixed addresses of the stand-in game's image.
uint8_t* InGame(uint32_t address) {
  standin::PlaceInGame(address, kPrologue.bytes.data(), kPrologue.size());
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
}

LONG Attach(std::initializer_list<PatchSite*> sites) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  for (PatchSite* site : sites) EXPECT_EQ(PatchAttach(site, HookAddress()), NO_ERROR);
  return PatchCommit();
}

LONG Detach(std::initializer_list<PatchSite*> sites) {
  EXPECT_EQ(PatchBegin(), NO_ERROR);
  for (PatchSite* site : sites) EXPECT_EQ(PatchDetach(site, HookAddress()), NO_ERROR);
  return PatchCommit();
}

TEST(TrampolineRegions, FreshRegionHandsOutSlotsFrom216BytesIn72ByteSteps) {
  PatchSite a = InGame(0x00401000);
  PatchSite b = InGame(0x00401100);
  PatchSite c = InGame(0x00401200);
  ASSERT_EQ(Attach({&a, &b, &c}), NO_ERROR);
  uintptr_t region = RegionOf(a);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a), region + kFirstSlotOffset);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b), region + kFirstSlotOffset + kSlot);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c), region + kFirstSlotOffset + 2 * kSlot);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(region), kSignature);
  // Within reach of the targets and outside the system libraries' area
  // (where exactly depends on the free address space, which Wine reserves
  // largely for itself).
  EXPECT_TRUE(InReach(ReachWindowFor(0x00401000), region + kFirstSlotOffset));
  EXPECT_FALSE(OverlapsSystemArea(region)) << std::hex << region;
  EXPECT_EQ(ProtectionOf(reinterpret_cast<void*>(region)), static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionOf(reinterpret_cast<void*>(region + 0xF000)), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

TEST(TrampolineRegions, RegionsAreWritableOnlyWhileATransactionIsOpen) {
  PatchSite a = InGame(0x00402000);
  ASSERT_EQ(Attach({&a}), NO_ERROR);
  void* region = reinterpret_cast<void*>(RegionOf(a));
  EXPECT_EQ(ProtectionOf(region), static_cast<DWORD>(PAGE_EXECUTE_READ));
  ASSERT_EQ(PatchBegin(), NO_ERROR);
  EXPECT_EQ(ProtectionOf(region), static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
  EXPECT_EQ(PatchAbort(), NO_ERROR);
  EXPECT_EQ(ProtectionOf(region), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

TEST(TrampolineRegions, TargetsInTheSystemAreaGetRegionsOutsideIt) {
  HMODULE d3dx = LoadLibraryA("d3dx9_43.dll");
  ASSERT_NE(d3dx, nullptr);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  void* functions[] = {reinterpret_cast<void*>(GetProcAddress(kernel32, "MulDiv")),
                       reinterpret_cast<void*>(GetProcAddress(d3dx, "D3DXCreateEffect"))};
  for (void* function : functions) {
    ASSERT_NE(function, nullptr);
    auto target = reinterpret_cast<uintptr_t>(function);
    // Wine keeps its system DLLs there, as Windows does.
    EXPECT_TRUE(OverlapsSystemArea(target)) << function;
    PatchSite site = function;
    ASSERT_EQ(Attach({&site}), NO_ERROR);
    uintptr_t region = RegionOf(site);
    EXPECT_FALSE(OverlapsSystemArea(region)) << std::hex << region;
    ReachWindow window = ReachWindowFor(static_cast<uint32_t>(target));
    EXPECT_TRUE(InReach(window, reinterpret_cast<uintptr_t>(site))) << std::hex << region;
    // Searched downward from 1 GiB below the target.
    EXPECT_LE(region, target - 0x40000000u);
    ASSERT_EQ(Detach({&site}), NO_ERROR);
    EXPECT_EQ(site, function);
  }
}

TEST(TrampolineRegions, NearbyTargetsShareTheCurrentRegion) {
  PatchSite game = InGame(0x00403000);
  PatchSite heap = Place(kPrologue);
  ASSERT_EQ(Attach({&game}), NO_ERROR);
  ASSERT_EQ(Attach({&heap}), NO_ERROR);
  EXPECT_EQ(static_cast<uint8_t*>(heap), static_cast<uint8_t*>(game) + kSlot);
}

TEST(TrampolineRegions, EmptiedRegionIsReleasedAndTheNextAttachCreatesOne) {
  PatchSite a = InGame(0x00404000);
  PatchSite b = InGame(0x00404100);
  ASSERT_EQ(Attach({&a, &b}), NO_ERROR);
  void* region = reinterpret_cast<void*>(RegionOf(a));

  ASSERT_EQ(Detach({&a}), NO_ERROR);
  EXPECT_EQ(StateOf(region), static_cast<DWORD>(MEM_COMMIT)) << "one slot still in use";
  ASSERT_EQ(Detach({&b}), NO_ERROR);
  EXPECT_EQ(StateOf(region), static_cast<DWORD>(MEM_FREE));
  EXPECT_EQ(a, reinterpret_cast<void*>(0x00404000));
  EXPECT_EQ(b, reinterpret_cast<void*>(0x00404100));

  PatchSite c = InGame(0x00404200);
  ASSERT_EQ(Attach({&c}), NO_ERROR);
  uintptr_t fresh = RegionOf(c);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c), fresh + kFirstSlotOffset);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(fresh), kSignature);
  EXPECT_EQ(reinterpret_cast<int(__cdecl*)()>(c)(), 42) << "the new trampoline runs";
}

TEST(TrampolineRegions, FreedSlotsAreReusedFirst) {
  PatchSite a = InGame(0x00405000);
  PatchSite b = InGame(0x00405100);
  PatchSite c = InGame(0x00405200);
  ASSERT_EQ(Attach({&a, &b, &c}), NO_ERROR);
  void* middle = b;
  ASSERT_EQ(Detach({&b}), NO_ERROR);
  PatchSite d = InGame(0x00405300);
  ASSERT_EQ(Attach({&d}), NO_ERROR);
  EXPECT_EQ(d, middle);
}

}  // namespace
