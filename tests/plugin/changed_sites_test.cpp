// The table of changed sites against the process: with every setting on,
// each row's site is changed as the row says once the plug-in is loaded,
// and after unloading the removable rows are as before and the others stay.

#include "standin/changed_sites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "standin/game_camera.h"
#include "standin/game_math.h"
#include "standin/game_memory.h"
#include "standin/game_sleep.h"
#include "standin/standin.h"

namespace {

using namespace standin;

constexpr char kEverySettingOn[] =
    "[Memory]\nRecordFormHeapAllocateFailed=1\nFormHeapAllocateFromLargerSpace=1\nFixInfiniteLoad=1\n"
    "ReplaceDefaultHavokHeap=1\n[Optimize]\nFasterLoading=1\nUseShaderCache=1\n"
    "[Camera]\nfix3rdPersonCameraScale=1\n";

// A stub ends with an absolute jump to its continuation: the address is
// among its first bytes.
bool StubNamesContinuation(uintptr_t stub, uint32_t continuation) {
  constexpr size_t kStubBytes = 64;
  const auto* begin = reinterpret_cast<const uint8_t*>(stub);
  uint8_t wanted[sizeof continuation];
  std::memcpy(wanted, &continuation, sizeof wanted);
  return std::search(begin, begin + kStubBytes, wanted, wanted + sizeof wanted) != begin + kStubBytes;
}

TEST(ChangedSites, EveryRowIsChangedAsListedAndRemovedAsListed) {
  std::set<std::string> names;
  for (const GameSite& site : kGameSites) {
    EXPECT_TRUE(names.insert(site.name).second) << site.name << " listed twice";
    const bool jump = site.kind == SiteKind::Jump;
    EXPECT_EQ(jump, site.continuation != 0) << site.name;
    EXPECT_TRUE(!jump || site.removal == Removal::Never) << site.name;
  }

  PlaceGameMath();
  PlaceGameCamera();
  PlaceGameMemory();
  PlaceGameSleepRoutine();
  WriteSettings(kEverySettingOn);
  std::vector<uintptr_t> addresses;
  std::vector<PlaceBytes> before;
  for (const GameSite& site : kGameSites) {
    addresses.push_back(PlaceAddress(site));
    ASSERT_NE(addresses.back(), 0u) << site.name;
    before.push_back(BytesAt(addresses.back()));
  }

  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  for (size_t i = 0; i < addresses.size(); ++i) {
    const GameSite& site = kGameSites[i];
    EXPECT_TRUE(JumpsIntoPlugin(addresses[i], host.module())) << site.name;
    if (site.kind == SiteKind::Jump && JumpsIntoPlugin(addresses[i], host.module())) {
      EXPECT_TRUE(StubNamesContinuation(JumpTarget(addresses[i]), site.continuation)) << site.name;
    }
  }

  host.Unload();
  for (size_t i = 0; i < addresses.size(); ++i) {
    const bool kept = kGameSites[i].removal == Removal::Never;
    EXPECT_EQ(BytesAt(addresses[i]) != before[i], kept) << kGameSites[i].name;
  }
}

}  // namespace
