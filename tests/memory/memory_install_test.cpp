// Which of the game's places the memory patches change, by settings, and
// which of them shut-down puts back; the installer's log line.

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "memory_support.h"

namespace {

using standin::Host;
using namespace standin;

using Bytes = std::array<uint8_t, 5>;

// Every place the memory patches may change.
const uint32_t kPlaces[] = {
    kGameSpinLockEnter,       kGameGatedCall,        kGameReleaseLoop,         kGameSlotLookup,
    kGameFormHeapPassThrough, kGameFormHeapAllocate, kGameFormHeapLargerSpace, kGameEventWait,
    kGameTrackedCall,         kGameResourceRelease,  kGameResourceLocked2,     kGameResourceLocked1,
    kGameHavokAllocate,       kGameHavokFree,
};

enum Expect { Untouched, Removed, Kept };  // after load: changed unless Untouched; Kept stays after unload

Bytes BytesAt(uint32_t address) {
  Bytes bytes;
  std::memcpy(bytes.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), bytes.size());
  return bytes;
}

void CheckPlaces(const char* settings, const std::map<uint32_t, Expect>& expected) {
  Host host;
  PlaceGameMemory();
  std::map<uint32_t, Bytes> before;
  for (uint32_t address : kPlaces) before[address] = BytesAt(address);

  ASSERT_NO_FATAL_FAILURE(StartGame(host, settings));
  for (uint32_t address : kPlaces) {
    const Expect expect = expected.count(address) != 0 ? expected.at(address) : Untouched;
    if (expect == Untouched) {
      EXPECT_EQ(BytesAt(address), before[address]) << std::hex << address << " changed";
    } else {
      EXPECT_TRUE(JumpsIntoPlugin(address, host.module())) << std::hex << address << " not changed";
    }
  }
  host.Unload();
  for (uint32_t address : kPlaces) {
    const Expect expect = expected.count(address) != 0 ? expected.at(address) : Untouched;
    EXPECT_EQ(BytesAt(address) == before[address], expect != Kept) << std::hex << address;
  }
}

TEST(MemoryInstall, DefaultsWithoutASettingsFile) {
  CheckPlaces(nullptr, {{kGameSpinLockEnter, Kept},
                        {kGameGatedCall, Removed},
                        {kGameEventWait, Removed},
                        {kGameTrackedCall, Kept},
                        {kGameHavokAllocate, Removed},
                        {kGameHavokFree, Removed},
                        {kGameSlotLookup, Removed},
                        {kGameReleaseLoop, Kept},
                        {kGameResourceRelease, Removed},
                        {kGameResourceLocked1, Removed},
                        {kGameResourceLocked2, Removed}});

  // The installer's line stands between the query and the end of the load,
  // once.
  const std::vector<std::string> log = LogWithoutTimes();
  auto at = [&](const char* line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
  EXPECT_EQ(std::count(log.begin(), log.end(), "INFO: Memory Hooked"), 1);
  EXPECT_LT(at("INFO: Queue OK"), at("INFO: Memory Hooked"));
  EXPECT_LT(at("INFO: Memory Hooked"), at("INFO: SKSEPlugin_Load"));
  EXPECT_LT(at("INFO: SKSEPlugin_Load"), at("INFO: Detach"));
  EXPECT_LT(at("INFO: Detach"), static_cast<std::ptrdiff_t>(log.size()));
}

TEST(MemoryInstall, EveryKeyOn) {
  CheckPlaces(
      "[Memory]\nRecordFormHeapAllocateFailed=1\nFormHeapAllocateFromLargerSpace=true\nFixInfiniteLoad=1\n"
      "ReplaceDefaultHavokHeap=1\ndoNotReleaseHavokResource=1\n",
      {{kGameFormHeapAllocate, Removed},
       {kGameFormHeapPassThrough, Kept},
       {kGameFormHeapLargerSpace, Kept},
       {kGameSpinLockEnter, Kept},
       {kGameGatedCall, Removed},
       {kGameEventWait, Removed},
       {kGameTrackedCall, Kept},
       {kGameHavokAllocate, Removed},
       {kGameHavokFree, Removed},
       {kGameSlotLookup, Removed},
       {kGameReleaseLoop, Kept},
       {kGameResourceRelease, Removed},
       {kGameResourceLocked1, Removed},
       {kGameResourceLocked2, Removed}});
}

TEST(MemoryInstall, EveryKeyOff) {
  CheckPlaces(
      "[Memory]\nRecordFormHeapAllocateFailed=0\nFormHeapAllocateFromLargerSpace=false\nFixInfiniteLoad= "
      "FALSE\n"
      "ReplaceDefaultHavokHeap=0\ndoNotReleaseHavokResource=0\n",
      {{kGameSlotLookup, Removed},
       {kGameReleaseLoop, Kept},
       {kGameResourceRelease, Removed},
       {kGameResourceLocked1, Removed},
       {kGameResourceLocked2, Removed}});
}

}  // namespace
