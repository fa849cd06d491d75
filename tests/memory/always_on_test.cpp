// The always-on patches: the bounds-checked slot lookup with its shared empty
// object, and the rewritten release loop, run at the game's addresses.

#include <memory>

#include "memory_support.h"

namespace {

using namespace standin;

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

TEST(SlotLookup, IndicesBeyondTheSlotsShareOneEmptyObject) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t object[16] = {};
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(CallMember(game::kSlotLookup, object, {i}), AddressOf(object + 4 + i));
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectConstructions), 0u);

  // First use from several threads at once: one object, built once, by the
  // game, from the empty string.
  const uint32_t indices[] = {8, 0xFFFFFFFF, 0x80000000, 1000};
  uint32_t shared[4] = {};
  {
    std::vector<std::unique_ptr<GameThread>> threads;
    for (int t = 0; t < 4; ++t) {
      threads.push_back(std::make_unique<GameThread>(
          [&, t] { shared[t] = CallMember(game::kSlotLookup, object, {indices[t]}); }));
    }
  }
  const uint32_t empty = shared[0];
  for (uint32_t address : shared) EXPECT_EQ(address, empty);
  EXPECT_TRUE(empty < AddressOf(object) || empty >= AddressOf(object + 16));
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectConstructions), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(GameGlobal<uint32_t>(empty))), "");

  // The game's destructor runs when the plug-in goes.
  host.Unload();
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectDestroyed), empty);
}

TEST(SlotLookup, EmptyObjectClearedByTheGameIsNotDestroyed) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t object[16] = {};
  GameGlobal<uint32_t>(CallMember(game::kSlotLookup, object, {8})) = 0;
  host.Unload();
  EXPECT_EQ(GameGlobal<uint32_t>(kEmptyObjectDestroyed), 0u);
}

// A table entry: its field at 0x24 is to be cleared before its first virtual
// function (the release) is called with 1.
struct LoopEntry {
  virtual void Release(uint32_t argument) {
    releasedWith = argument;
    fieldAtRelease = field24;
    order = ++*releases;
  }
  uint32_t unused[8] = {};
  uint32_t field24 = 0xFFFF;
  uint32_t releasedWith = 0, fieldAtRelease = 0xDEAD;
  int order = 0;
  int* releases = nullptr;
};

// The release routine's object: its table {count, entries} at 0x20; the
// routine stores its end index (EBP) at 0x24 after the loop.
struct Table {
  uint32_t count;
  LoopEntry** entries;
};
struct LoopObject {
  uint32_t unused[8];
  Table* table;
  uint32_t endSeen;
};

TEST(ReleaseLoop, ClearsEachEntryBeforeReleasingItAndRunsToTheEnd) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  int releases = 0;
  LoopEntry entries[6];
  for (LoopEntry& entry : entries) entry.releases = &releases;
  ASSERT_EQ(AddressOf(&entries[0].field24) - AddressOf(&entries[0]), 0x24u);
  LoopEntry* slots[6] = {&entries[0], &entries[1], nullptr, &entries[3], &entries[4], &entries[5]};
  Table table = {6, slots};
  LoopObject object = {};
  object.table = &table;
  auto releaseRange = [&](uint32_t begin, uint32_t end) {
    EXPECT_EQ(CallMember(kGameReleaseRange, &object, {begin, end}), end);
    EXPECT_EQ(object.endSeen, end);
  };

  releaseRange(1, 5);
  const int expectedOrder[6] = {0, 1, 0, 2, 3, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(entries[i].order, expectedOrder[i]) << i;
    const bool released = expectedOrder[i] != 0;
    EXPECT_EQ(entries[i].field24, released ? 0 : 0xFFFFu) << i;
    EXPECT_EQ(entries[i].fieldAtRelease, released ? 0 : 0xDEADu) << i;
    EXPECT_EQ(entries[i].releasedWith, released ? 1u : 0u) << i;
  }
  // Past the table's end there are no entries; the index still runs on.
  releaseRange(5, 9);
  EXPECT_EQ(entries[5].order, 4);
  // Without a table nothing is looked up.
  object.table = nullptr;
  releaseRange(0, 3);
  EXPECT_EQ(releases, 4);
}

}  // namespace
