// The Havok heap served by the aligned heap and handing foreign blocks back, and the form heap's failure log,
// pass-through and larger-space jump, through the game's addresses.

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "memory_support.h"

namespace {

using namespace standin;

constexpr char kFormHeapKeys[] =
    "[Memory]\nRecordFormHeapAllocateFailed=1\nFormHeapAllocateFromLargerSpace=1\n";

bool InStandinArena(uint32_t block) { return block >= kHavokArena && block < kGameAreaEnd; }

TEST(HavokHeap, BlocksComeFromTheAlignedHeapUntilShutDown) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t allocator[4] = {};
  for (int32_t size : {0, 1, 15, 16, 17, 100, 4096, 1 << 20}) {
    const uint32_t block = CallMember(game::kHavokHeapAllocate, allocator, {static_cast<uint32_t>(size)});
    ASSERT_NE(block, 0u) << size;
    EXPECT_EQ(block % 16, 0u) << size;
    EXPECT_FALSE(InStandinArena(block)) << size;
    std::memset(reinterpret_cast<void*>(static_cast<uintptr_t>(block)), 0xAB, static_cast<size_t>(size));
    CallMember(game::kHavokHeapFree, allocator, {block, static_cast<uint32_t>(size)});
  }
  CallMember(game::kHavokHeapFree, allocator, {0, 0});
  // No block starts a page, where it would pass for a foreign one.
  std::vector<uint32_t> held;
  for (int i = 0; i < 4000; ++i) held.push_back(CallMember(game::kHavokHeapAllocate, allocator, {48}));
  for (uint32_t block : held) {
    EXPECT_NE(block % 0x1000, 0u);
    CallMember(game::kHavokHeapFree, allocator, {block, 48});
  }
  EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameAllocations), 0u);
  EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameFrees), 0u);
  // A block freed twice reaches the aligned heap once, then the game.
  const uint32_t twice = CallMember(game::kHavokHeapAllocate, allocator, {32});
  for (uint32_t frees : {0u, 1u}) {
    CallMember(game::kHavokHeapFree, allocator, {twice, 32});
    EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameFrees), frees);
  }

  // Refusals answer null and log the size, the text's own newline leaving an
  // empty line.
  EXPECT_EQ(CallMember(game::kHavokHeapAllocate, allocator, {0x7FFFFFF0}), 0u);
  EXPECT_EQ(CallMember(game::kHavokHeapAllocate, allocator, {0xFFFFFFFF}), 0u);
  std::vector<std::string> log = LogWithoutTimes();
  ASSERT_GE(log.size(), 6u);
  const std::vector<std::string> tail(log.end() - 6, log.end());
  const std::vector<std::string> expected = {
      "ERROR: Havok memory allocate failed", "Allocate 2147483632 bytes failed", "",
      "ERROR: Havok memory allocate failed", "Allocate -1 bytes failed",         ""};
  EXPECT_EQ(tail, expected);

  // After shut-down the game's allocator serves again.
  host.Unload();
  EXPECT_TRUE(InStandinArena(CallMember(game::kHavokHeapAllocate, allocator, {64})));
  CallMember(game::kHavokHeapFree, allocator, {kHavokArena, 64});
  EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameAllocations), 1u);
  EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameFrees), 2u);
}

// {allocator, block, size} of the game's last free.
std::vector<uint32_t> LastGameFree() {
  const auto* record = &GameGlobal<uint32_t>(kHavokGameLastFree);
  return {record, record + 3};
}

// Game blocks from before the redirection, freed after it, go back to the
// game's free routine with the caller's allocator and size, whatever lies
// before them: a live heap block's address, the mark that fixed keys once
// gave, or a page that cannot be read. The hook's own blocks never reach
// it. The case runs under Wine's heap checks (CMakeLists.txt), which flag a
// live block freed behind its owner.
TEST(HavokHeap, EveryBlockGoesBackToTheAllocatorThatHandedItOut) {
  PlaceGameMemory();
  const uint32_t allocator[4] = {};
  const auto allocatorAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(allocator));
  void* live = std::malloc(48);
  uint32_t game[3];
  for (uint32_t& block : game) block = CallMember(game::kHavokHeapAllocate, allocator, {32});
  GameGlobal<void*>(game[1] - 4) = live;
  GameGlobal<uint32_t>(game[2] - 8) = game[2] ^ 0x5A17C0DEu;
  GameGlobal<uint32_t>(game[2] - 4) = _rotl(game[2], 16) ^ 0xB10C4EADu;
  auto* pages =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old;
  ASSERT_TRUE(VirtualProtect(pages, 0x1000, PAGE_NOACCESS, &old));
  const auto pageStart = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pages + 0x1000));

  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t own = CallMember(game::kHavokHeapAllocate, allocator, {32});
  uint32_t gameFrees = 0;
  for (uint32_t block : {game[1], own, pageStart, game[0], pageStart + 4, game[2]}) {
    const bool toGame = block != own;
    CallMember(game::kHavokHeapFree, allocator, {block, 24});
    EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameFrees), gameFrees += toGame) << std::hex << block;
    if (toGame) {
      EXPECT_EQ(LastGameFree(), (std::vector<uint32_t>{allocatorAddress, block, 24})) << std::hex << block;
    }
  }
  EXPECT_TRUE(HeapValidate(reinterpret_cast<HANDLE>(_get_heap_handle()), 0, live));
  std::free(live);
  VirtualFree(pages, 0, MEM_RELEASE);
}

constexpr uintptr_t kTwoGigabytes = 0x80000000u;

// Reserves every free range below 2 GiB, so that large blocks come from above
// (the test program is large-address aware); gives the reservations.
std::vector<void*> TakeLowMemory() {
  std::vector<void*> taken;
  MEMORY_BASIC_INFORMATION region;
  for (uintptr_t at = 0x10000;
       at < kTwoGigabytes && VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region);
       at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize) {
    const uintptr_t begin = (at + 0xFFFF) & ~uintptr_t{0xFFFF};
    const uintptr_t end = std::min<uintptr_t>(at + region.RegionSize, kTwoGigabytes);
    if (region.State == MEM_FREE && end > begin)
      taken.push_back(VirtualAlloc(reinterpret_cast<void*>(begin), end - begin, MEM_RESERVE, PAGE_NOACCESS));
  }
  return taken;
}

TEST(HavokHeap, BlocksAboveTwoGigabytesAreKeptAndWarnedAboutSparingly) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, nullptr));
  const uint32_t allocator[4] = {};
  const std::vector<void*> taken = TakeLowMemory();
  for (int i = 0; i < 300; ++i) {
    const uint32_t block = CallMember(game::kHavokHeapAllocate, allocator, {1 << 20});
    ASSERT_GE(block, kTwoGigabytes);
    EXPECT_EQ(block % 16, 0u);
    CallMember(game::kHavokHeapFree, allocator, {block, 1 << 20});
  }
  for (void* reservation : taken) VirtualFree(reservation, 0, MEM_RELEASE);
  std::vector<std::string> warnings;
  for (const std::string& line : LogWithoutTimes())
    if (line.find("> 2gb") != std::string::npos) warnings.push_back(line);
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings[0], "WARNING: havok in skyrim doesn't support address > 2gb");
  EXPECT_LE(warnings.size(), 3u);
  EXPECT_EQ(GameGlobal<uint32_t>(kHavokGameFrees), 0u);
}

// The stand-in form heap: {next, end, last flag}.
struct FormHeap {
  uint32_t next;
  uint32_t end;
  uint32_t lastFlag;
};

TEST(FormHeap, FailuresAreLoggedAndEverythingElsePassesThrough) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, kFormHeapKeys));
  alignas(64) static uint8_t space[240];
  const auto begin = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(space));
  FormHeap heap = {begin + 1, begin + sizeof space, 0};
  const size_t linesBefore = LogWithoutTimes().size();

  // Successes: the game's block, its arguments forwarded, nothing logged.
  EXPECT_EQ(CallMember(game::kFormHeapAllocate, &heap, {100, 16, 1}), begin + 16);
  EXPECT_EQ(heap.lastFlag, 1u);
  EXPECT_EQ(CallMember(game::kFormHeapAllocate, &heap, {64, 64, 0}), begin + 128);
  EXPECT_EQ(heap.lastFlag, 0u);
  EXPECT_EQ(LogWithoutTimes().size(), linesBefore);

  // 64 more bytes no longer fit: the game's null, and one line.
  EXPECT_EQ(CallMember(game::kFormHeapAllocate, &heap, {64, 16, 1}), 0u);
  std::vector<std::string> log = LogWithoutTimes();
  ASSERT_EQ(log.size(), linesBefore + 1);
  EXPECT_EQ(log.back(), "ERROR: Allocate 64 bytes with alignment 16 bytes failed");
  EXPECT_EQ(CallMember(game::kFormHeapAllocate, &heap, {0xFFFFFFF0, 16, 0}), 0u);
  EXPECT_EQ(LogWithoutTimes().back(), "ERROR: Allocate 4294967280 bytes with alignment 16 bytes failed");

  // The pass-through reaches the game's routine with EDX and the stack as
  // the caller left them.
  const uint32_t object = 1000;
  EXPECT_EQ(CallMember(game::kFormHeapPassThrough, &object, {50, 8}, 7), 1049u);
}

TEST(FormHeap, LargerSpaceJumpPushesTheLargerSize) {
  PlaceGameMemory();
  uint32_t out[2] = {};
  auto reserve = [&](uint32_t value) {
    CallMember(kGameFormHeapReserve, nullptr,
               {value, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out))}, 0, 0);
  };
  reserve(0x1234);
  EXPECT_EQ(out[0], 0x2000u);
  EXPECT_EQ(out[1], 0x1234u);

  Host host;
  ASSERT_NO_FATAL_FAILURE(StartGame(host, kFormHeapKeys));
  reserve(0xCAFE);
  EXPECT_EQ(out[0], 0x102000u);
  EXPECT_EQ(out[1], 0xCAFEu);
}

}  // namespace
