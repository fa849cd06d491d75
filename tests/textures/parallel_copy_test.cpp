// The parallel loop on the helper threads and the split copies: every index
// run once before the join, also with loops from several threads at once;
// helpers that really share the work; byte-exact copies on both sides of the
// split thresholds. (That idle helpers end, and hold the plug-in loaded
// until they do, is shown through the plug-in itself in texture_hooks_test.)

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "dds_builder.h"
#include "guarded_buffer.h"
#include "textures/expand_rgb.h"
#include "textures/level_copy.h"
#include "textures/parallel_for.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;

using Hits = std::vector<std::atomic<int>>;

void Hit(const void* record, uint32_t i) noexcept {
  (*static_cast<Hits*>(const_cast<void*>(record)))[i] += 1;
}

TEST(ParallelFor, RunsEveryIndexOnceBeforeReturningAlsoForSeveralCallersAtOnce) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int caller = 0; caller < 4; ++caller) {
    callers.emplace_back([&wrong] {
      for (int round = 0; round < 20; ++round) {
        for (uint32_t count : {0u, 1u, 2u, 17u, 3000u}) {
          Hits hits(count);
          ParallelFor(count, Hit, &hits);
          for (const auto& hit : hits) wrong += hit.load() != 1;
        }
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(ParallelHelperCount(), ParallelThreadLimit() - 1);
}

TEST(ParallelFor, SharesTheWorkWithAHelper) {
  if (ParallelThreadLimit() < 2) GTEST_SKIP() << "one processor";
  struct Seen {
    DWORD caller = GetCurrentThreadId();
    std::atomic<bool> helped{false};
  } seen;
  // Index 0 runs on the calling thread first and waits (bounded) until
  // another thread has taken an index: a loop that never gets a helper is
  // caught without depending on timing.
  ParallelFor(
      64,
      [](const void* record, uint32_t i) noexcept {
        auto& s = *static_cast<Seen*>(const_cast<void*>(record));
        if (GetCurrentThreadId() != s.caller) s.helped = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (i == 0 && !s.helped && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
      },
      &seen);
  EXPECT_TRUE(seen.helped);
}

TEST(SplitCopies, GiveTheSameBytesBelowAndAboveTheThresholds) {
  constexpr uint32_t split = kParallelCopyThreshold;
  EXPECT_EQ(CopyLevelPieces(split - 1), 0u);
  EXPECT_EQ(CopyLevelPieces(split), split / kCopyPieceBytes);
  EXPECT_EQ(CopyLevelPieces(split + 1), split / kCopyPieceBytes + 1);
  EXPECT_EQ(CopyLevelPieces(0xFFFFFFFFu), 65536u);
  for (uint32_t count : {split - 1, split, split + 1}) {
    const std::vector<uint8_t> bytes = PatternBytes(count, count);
    GuardedBuffer source(count), destination(count + 3);
    std::memcpy(source.data(), bytes.data(), count);
    std::memset(destination.data(), kUntouched, count + 3);
    CopyLevel(destination.data(), source.data(), count);
    EXPECT_EQ(std::memcmp(destination.data(), bytes.data(), count), 0) << count;
    EXPECT_EQ(std::vector<uint8_t>(destination.data() + count, destination.data() + count + 3),
              std::vector<uint8_t>(3, kUntouched));
  }

  // Rows of 5 pixels (15 source bytes widened to 20, or 20 bytes copied),
  // 32 bytes apart in the destination, and rows wide enough for the split
  // copy; the padding stays untouched.
  const std::tuple<uint32_t, uint32_t, uint32_t> shapes[] = {
      {5, 32, 1}, {5, 32, 127}, {5, 32, 128}, {5, 32, 300}, {16384, 65600, 130}};
  for (const auto& [width, pitch, rows] : shapes) {
    const std::vector<uint8_t> bytes = PatternBytes(4 * width * rows, rows);
    GuardedBuffer source(bytes.size());
    std::memcpy(source.data(), bytes.data(), bytes.size());
    for (bool widen : {false, true}) {
      std::vector<uint8_t> destination(pitch * rows, kUntouched);
      if (widen) {
        ExpandRows(destination.data(), pitch, source.data(), 3 * width, rows, width);
      } else {
        CopyRows(destination.data(), pitch, source.data(), 4 * width, rows);
      }
      for (uint32_t y = 0; y < rows; ++y) {
        std::vector<uint8_t> expected(pitch, kUntouched);
        if (widen) {
          ExpandRgbRowSse2(expected.data(), bytes.data() + 3 * width * y, width);
        } else {
          std::memcpy(expected.data(), bytes.data() + 4 * width * y, 4 * width);
        }
        ASSERT_EQ(
            std::vector<uint8_t>(destination.begin() + pitch * y, destination.begin() + pitch * (y + 1)),
            expected)
            << (widen ? "widened" : "copied") << " rows " << rows << " row " << y;
      }
    }
  }
}

}  // namespace
