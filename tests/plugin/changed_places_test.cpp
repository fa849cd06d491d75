// The table of changed places against the process: with every setting on,
// each row's place is changed as the row says once the plug-in is loaded,
// and after unloading the removable rows are as before and the others stay.

#include "standin/changed_places.h"

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

TEST(ChangedPlaces, EveryRowIsChangedAsListedAndRemovedAsListed) {
  std::set<std::string> names;
  for (const GamePlace& place : kGamePlaces) {
    EXPECT_TRUE(names.insert(place.name).second) << place.name << " listed twice";
    const bool jump = place.kind == PlaceKind::Jump;
    EXPECT_EQ(jump, place.continuation != 0) << place.name;
    EXPECT_TRUE(!jump || place.removal == Removal::Never) << place.name;
  }

  PlaceGameMath();
  PlaceGameCamera();
  PlaceGameMemory();
  PlaceGameSleepRoutine();
  WriteSettings(kEverySettingOn);
  std::vector<uintptr_t> addresses;
  std::vector<PlaceBytes> before;
  for (const GamePlace& place : kGamePlaces) {
    addresses.push_back(PlaceAddress(place));
    ASSERT_NE(addresses.back(), 0u) << place.name;
    before.push_back(BytesAt(addresses.back()));
  }

  Host host;
  ASSERT_TRUE(host.LoadPlugin());
  ASSERT_TRUE(host.Query());
  ASSERT_TRUE(host.Load());
  for (size_t i = 0; i < addresses.size(); ++i) {
    const GamePlace& place = kGamePlaces[i];
    EXPECT_TRUE(JumpsIntoPlugin(addresses[i], host.module())) << place.name;
    if (place.kind == PlaceKind::Jump && JumpsIntoPlugin(addresses[i], host.module())) {
      EXPECT_TRUE(StubNamesContinuation(JumpTarget(addresses[i]), place.continuation)) << place.name;
    }
  }

  host.Unload();
  for (size_t i = 0; i < addresses.size(); ++i) {
    const bool kept = kGamePlaces[i].removal == Removal::Never;
    EXPECT_EQ(BytesAt(addresses[i]) != before[i], kept) << kGamePlaces[i].name;
  }
}

}  // namespace
