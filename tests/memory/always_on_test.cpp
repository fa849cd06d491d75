// The always-on patches: the bounds-checked slot lookup with its shared empty
// object, and the rewritten release loop, run at the game's addresses.

#include "memory_support.h"

namespace {

using namespace standin;

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

TEST(SlotLookup, IndicesBeyondTheSlotsShareOneEmptyObject) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t object[16] = {};
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(CallMember(kGameSlotLookup, object, {i}), AddressOf(object) + 0x10 + 4 * i) << i;
  }
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectConstructions), 0u);

  // First use from several threads at once: one object, built once.
  const uint32_t indices[] = {8, 0xFFFFFFFF, 0x80000000, 1000};
  uint32_t shared[4] = {};
  {
    std::vector<std::unique_ptr<GameThread>> threads;
    for (int t = 0; t < 4; ++t) {
      threads.push_back(std::make_unique<GameThread>(
          [&, t] { shared[t] = CallMember(kGameSlotLookup, object, {indices[t]}); }));
    }
  }
  const uint32_t empty = shared[0];
  for (uint32_t address : shared) EXPECT_EQ(address, empty);
  EXPECT_TRUE(empty < AddressOf(object) || empty >= AddressOf(object + 16));
  EXPECT_EQ(CallMember(kGameSlotLookup, object, {9}), empty);
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectConstructions), 1u);
  // The game built it from the empty string.
  EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(GameGlobal<uint32_t>(empty))), "");

  // It is destroyed by the game's routine when the plug-in goes.
  host.Unload();
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectDestroyed), empty);
}

TEST(SlotLookup, EmptyObjectClearedByTheGameIsNotDestroyed) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t object[16] = {};
  GameGlobal<uint32_t>(CallMember(kGameSlotLookup, object, {8})) = 0;
  host.Unload();
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectDestroyed), 0u);
}

// A table entry: its first virtual function is the release, its field at
// offset 0x24 is cleared before it.
struct LoopEntry {
  virtual void Release(uint32_t argument) {
    releasedWith = argument;
    fieldAtRelease = field24;
    order = ++*releases;
  }
  uint32_t unused[8] = {};
  uint32_t field24 = 0xFFFF;
  uint32_t releasedWith = 0;
  uint32_t fieldAtRelease = 0xDEAD;
  int order = 0;
  int* releases = nullptr;
};

struct Table {
  uint32_t count;
  LoopEntry** entries;
};

// The release routine's object: its table at 0x20; the routine stores its
// end index (EBP) at 0x24 once the loop is done.
struct LoopObject {
  uint32_t unused[8];
  Table* table;
  uint32_t endSeen;
};

uint32_t ReleaseRange(LoopObject& object, uint32_t begin, uint32_t end) {
  return CallMember(kGameReleaseRange, &object, {begin, end});
}

TEST(ReleaseLoop, ClearsEachEntryBeforeReleasingItAndRunsToTheEnd) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  int releases = 0;
  LoopEntry entries[6];
  for (LoopEntry& entry : entries) entry.releases = &releases;
  ASSERT_EQ(reinterpret_cast<uintptr_t>(&entries[0].field24) - reinterpret_cast<uintptr_t>(&entries[0]),
            0x24u);
  LoopEntry* slots[6] = {&entries[0], &entries[1], nullptr, &entries[3], &entries[4], &entries[5]};
  Table table = {6, slots};
  LoopObject object = {};
  object.table = &table;

  EXPECT_EQ(ReleaseRange(object, 1, 5), 5u);
  EXPECT_EQ(object.endSeen, 5u);
  const int expectedOrder[6] = {0, 1, 0, 2, 3, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(entries[i].order, expectedOrder[i]) << i;
    if (expectedOrder[i] == 0) {
      EXPECT_EQ(entries[i].field24, 0xFFFFu) << i;
    } else {
      EXPECT_EQ(entries[i].fieldAtRelease, 0u) << i;
      EXPECT_EQ(entries[i].releasedWith, 1u) << i;
    }
  }

  // Past the table's end the game finds no entries; the index still runs on.
  EXPECT_EQ(ReleaseRange(object, 5, 9), 9u);
  EXPECT_EQ(entries[5].order, 4);
  EXPECT_EQ(releases, 4);

  // Without a table nothing is looked up, and the loop still ends at the end.
  object.table = nullptr;
  EXPECT_EQ(ReleaseRange(object, 0, 3), 3u);
  EXPECT_EQ(object.endSeen, 3u);
  EXPECT_EQ(releases, 4);
}

}  // namespace
