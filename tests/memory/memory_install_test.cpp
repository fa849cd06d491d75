// Which of the game's sites the memory patches change, by settings, and
// which of them shut-down puts back; the installer's log line.

#include <algorithm>

#include "memory_support.h"
#include "standin/changed_sites.h"

namespace {

using namespace standin;

// Per site and settings: '-' untouched, 'r' changed and put back at
// shut-down, 'k' changed and kept.
struct Site {
  uint32_t address;
  const char* defaults;
  const char* allOn;
  const char* allOff;
};
const Site kSites[] = {
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

void CheckSites(const char* settings, const char* Site::*column) {
  Host host;
  PlaceGameMemory();
  std::vector<PlaceBytes> before;
  for (const Site& site : kSites) before.push_back(BytesAt(site.address));
  ASSERT_NO_FATAL_FAILURE(StartGame(host, settings));
  for (const Site& site : kSites) {
    const bool changed = *(site.*column) != '-';
    EXPECT_EQ(JumpsIntoPlugin(site.address, host.module()), changed) << std::hex << site.address;
  }
  host.Unload();
  for (size_t i = 0; i < before.size(); ++i) {
    const bool kept = *(kSites[i].*column) == 'k';
    EXPECT_EQ(BytesAt(kSites[i].address) != before[i], kept) << std::hex << kSites[i].address;
  }
}

TEST(MemoryInstall, DefaultsWithoutASettingsFile) {
  CheckSites(nullptr, &Site::defaults);
  // The installer's one line stands between the query and the end of the load.
  const std::vector<std::string> log = LogWithoutTimes();
  auto at = [&](const char* line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
  EXPECT_EQ(std::count(log.begin(), log.end(), "INFO: Memory Hooked"), 1);
  EXPECT_LT(at("INFO: Queue OK"), at("INFO: Memory Hooked"));
  EXPECT_LT(at("INFO: Memory Hooked"), at("INFO: SKSEPlugin_Load"));
}

TEST(MemoryInstall, EveryKeyOn) {
  CheckSites(
      "[Memory]\nRecordFormHeapAllocateFailed=1\nFormHeapAllocateFromLargerSpace=true\n"
      "FixInfiniteLoad=1\nReplaceDefaultHavokHeap=1\ndoNotReleaseHavokResource=1\n",
      &Site::allOn);
}

TEST(MemoryInstall, EveryKeyOff) {
  CheckSites(
      "[Memory]\nRecordFormHeapAllocateFailed=0\nFormHeapAllocateFromLargerSpace=false\n"
      "FixInfiniteLoad= FALSE\nReplaceDefaultHavokHeap=0\ndoNotReleaseHavokResource=0\n",
      &Site::allOff);
}

}  // namespace
