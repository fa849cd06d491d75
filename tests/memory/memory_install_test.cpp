// Which of the game's places the memory patches change, by settings, and
// which of them shut-down puts back; the installer's log line.

#include <algorithm>

#include "memory_support.h"
#include "standin/changed_places.h"

namespace {

using namespace standin;

// Per place and settings: '-' untouched, 'r' changed and put back at
// shut-down, 'k' changed and kept.
struct Place {
  uint32_t address;
  const char* defaults;
  const char* allOn;
  const char* allOff;
};
const Place kPlaces[] = {
    {game::kFormHeapAllocate, "-", "r", "-"},
    {game::kFormHeapPassThrough, "-", "k", "-"},
    {game::kFormHeapLargerSpaceJump, "-", "k", "-"},
    {game::kEventWait, "r", "r", "-"},
    {game::kGatedCall, "r", "r", "-"},
    {game::kTrackedCall, "k", "k", "-"},
    {game::kSpinLockEnter, "k", "k", "-"},
    {game::kHavokHeapAllocate, "r", "r", "-"},
    {game::kHavokHeapFree, "r", "r", "-"},
    {game::kSlotLookup, "r", "r", "r"},
    {game::kReleaseLoopJump, "k", "k", "k"},
    {game::kHavokResourceLocked1, "r", "r", "r"},
    {game::kHavokResourceLocked2, "r", "r", "r"},
    {game::kHavokResourceRelease, "r", "r", "r"},
};

void CheckPlaces(const char* settings, const char* Place::*column) {
  Host host;
  PlaceGameMemory();
  std::vector<PlaceBytes> before;
  for (const Place& place : kPlaces) before.push_back(BytesAt(place.address));
  ASSERT_NO_FATAL_FAILURE(StartGame(host, settings));
  for (const Place& place : kPlaces) {
    const bool changed = *(place.*column) != '-';
    EXPECT_EQ(JumpsIntoPlugin(place.address, host.module()), changed) << std::hex << place.address;
  }
  host.Unload();
  for (size_t i = 0; i < before.size(); ++i) {
    const bool kept = *(kPlaces[i].*column) == 'k';
    EXPECT_EQ(BytesAt(kPlaces[i].address) != before[i], kept) << std::hex << kPlaces[i].address;
  }
}

TEST(MemoryInstall, DefaultsWithoutASettingsFile) {
  CheckPlaces(nullptr, &Place::defaults);
  // The installer's one line stands between the query and the end of the load.
  const std::vector<std::string> log = LogWithoutTimes();
  auto at = [&](const char* line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
  EXPECT_EQ(std::count(log.begin(), log.end(), "INFO: Memory Hooked"), 1);
  EXPECT_LT(at("INFO: Queue OK"), at("INFO: Memory Hooked"));
  EXPECT_LT(at("INFO: Memory Hooked"), at("INFO: SKSEPlugin_Load"));
}

TEST(MemoryInstall, EveryKeyOn) {
  CheckPlaces(
      "[Memory]\nRecordFormHeapAllocateFailed=1\nFormHeapAllocateFromLargerSpace=true\n"
      "FixInfiniteLoad=1\nReplaceDefaultHavokHeap=1\ndoNotReleaseHavokResource=1\n",
      &Place::allOn);
}

TEST(MemoryInstall, EveryKeyOff) {
  CheckPlaces(
      "[Memory]\nRecordFormHeapAllocateFailed=0\nFormHeapAllocateFromLargerSpace=false\n"
      "FixInfiniteLoad= FALSE\nReplaceDefaultHavokHeap=0\ndoNotReleaseHavokResource=0\n",
      &Place::allOff);
}

}  // namespace
