// The parallel loop on the helper threads and the split copies: every index
// run once before the join, loops from several threads at once, helpers
// ending when idle, byte-exact copies at the split thresholds.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "guarded_buffer.h"
#include "textures/expand_rgb.h"
#include "textures/level_copy.h"
#include "textures/parallel_for.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

bool AllUntouched(const uint8_t* from, const uint8_t* to) {
  for (; from < to; ++from) {
    if (*from != kUntouched) return false;
  }
  return true;
}

std::vector<uint8_t> WidenedReference(const uint8_t* source, uint32_t count) {
  std::vector<uint8_t> out;
  for (uint32_t k = 0; k < count; ++k) {
    out.insert(out.end(), source + 3 * k, source + 3 * k + 3);
    out.push_back(0xFF);
  }
  return out;
}

TEST(ParallelFor, RunsEveryIndexExactlyOnceBeforeReturning) {
  struct Counts {
    std::vector<std::atomic<int>> hits;
  };
  for (uint32_t count : {0u, 1u, 2u, 17u, 1000u, 100000u}) {
    Counts counts{std::vector<std::atomic<int>>(count)};
    ParallelFor(
        count,
        [](const void* record, uint32_t i) noexcept {
          static_cast<Counts*>(const_cast<void*>(record))->hits[i].fetch_add(1);
        },
        &counts);
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(counts.hits[i].load(), 1) << count << " " << i;
  }
}

TEST(ParallelFor, SharesTheWorkWithAnotherThreadWhenThereIsAProcessor) {
  if (ParallelThreadLimit() < 2) GTEST_SKIP() << "one processor";
  struct Seen {
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::atomic<bool> otherThreadRan{false};
    std::thread::id caller = std::this_thread::get_id();
  } seen;
  // Index 0 runs on the calling thread first and waits (bounded) until some
  // other thread has taken an index, so a loop that never starts a helper
  // is caught without depending on timing.
  ParallelFor(
      64,
      [](const void* record, uint32_t i) noexcept {
        auto& s = *static_cast<Seen*>(const_cast<void*>(record));
        const auto self = std::this_thread::get_id();
        {
          std::lock_guard<std::mutex> hold(s.lock);
          s.threads.insert(self);
        }
        if (self != s.caller) s.otherThreadRan = true;
        if (i == 0 && self == s.caller) {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
          while (!s.otherThreadRan && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        }
      },
      &seen);
  EXPECT_TRUE(seen.otherThreadRan);
  EXPECT_GE(seen.threads.size(), 2u);
  EXPECT_LE(seen.threads.size(), ParallelThreadLimit());
}

TEST(ParallelFor, LoopsFromSeveralThreadsAtOnceEachRunEveryIndexOnce) {
  constexpr uint32_t kCount = 3000;
  std::atomic<bool> wrong{false};
  std::vector<std::thread> callers;
  for (int caller = 0; caller < 4; ++caller) {
    callers.emplace_back([&wrong] {
      for (int round = 0; round < 40; ++round) {
        std::vector<std::atomic<int>> hits(kCount);
        ParallelFor(
            kCount,
            [](const void* record, uint32_t i) noexcept {
              (*static_cast<std::vector<std::atomic<int>>*>(const_cast<void*>(record)))[i].fetch_add(1);
            },
            &hits);
        for (const auto& hit : hits) {
          if (hit.load() != 1) wrong = true;
        }
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_FALSE(wrong);
  EXPECT_LE(ParallelHelperCount(), ParallelThreadLimit() - 1);
}

uint32_t ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  uint32_t threads = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
  }
  CloseHandle(snapshot);
  return threads;
}

TEST(ParallelFor, IdleHelpersEndThemselves) {
  if (ParallelThreadLimit() < 2) GTEST_SKIP() << "one processor";
  const auto deadline = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(10); };
  for (auto until = deadline(); ParallelHelperCount() != 0 && std::chrono::steady_clock::now() < until;) {
    Sleep(20);
  }
  const uint32_t before = ThreadsOfThisProcess();
  std::vector<uint8_t> from(1 << 20, 1), to(1 << 20);
  CopyLevel(to.data(), from.data(), static_cast<uint32_t>(from.size()));
  EXPECT_GE(ParallelHelperCount(), 1u);
  EXPECT_GT(ThreadsOfThisProcess(), before);
  // Ended after the idle time: gone from the count and from the process.
  auto until = deadline();
  while ((ParallelHelperCount() != 0 || ThreadsOfThisProcess() > before) &&
         std::chrono::steady_clock::now() < until) {
    Sleep(20);
  }
  EXPECT_EQ(ParallelHelperCount(), 0u);
  EXPECT_EQ(ThreadsOfThisProcess(), before);
}

TEST(CopyLevel, SplitsFromTheThresholdIntoPiecesWithAShortLastOne) {
  EXPECT_EQ(CopyLevelPieces(0), 0u);
  EXPECT_EQ(CopyLevelPieces(262143), 0u);
  EXPECT_EQ(CopyLevelPieces(262144), 4u);
  EXPECT_EQ(CopyLevelPieces(262145), 5u);
  EXPECT_EQ(CopyLevelPieces(0xFFFFFFFFu), 65536u);

  for (uint32_t count : {262143u, 262144u, 262145u, 1048576u + 4099u}) {
    const std::vector<uint8_t> bytes = Pattern(count, count);
    GuardedBuffer source(count), destination(count + 3);
    std::memcpy(source.data(), bytes.data(), count);
    std::memset(destination.data(), kUntouched, count + 3);
    CopyLevel(destination.data(), source.data(), count);
    EXPECT_EQ(std::memcmp(destination.data(), bytes.data(), count), 0) << count;
    EXPECT_TRUE(AllUntouched(destination.data() + count, destination.data() + count + 3)) << count;
  }
}

TEST(CopyRows, CopiesEachRowAndLeavesThePitchPaddingBelowAndAboveTheSplit) {
  for (uint32_t rows : {0u, 1u, 127u, 128u, 1000u}) {
    const uint32_t rowBytes = 40, pitch = 64;
    const std::vector<uint8_t> bytes = Pattern(rowBytes * rows, rows);
    GuardedBuffer source(rowBytes * rows);
    std::memcpy(source.data(), bytes.data(), bytes.size());
    std::vector<uint8_t> destination(pitch * rows + 1, kUntouched);
    CopyRows(destination.data(), pitch, source.data(), rowBytes, rows);
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* row = destination.data() + y * pitch;
      ASSERT_EQ(std::memcmp(row, bytes.data() + y * rowBytes, rowBytes), 0) << rows << " " << y;
      ASSERT_TRUE(AllUntouched(row + rowBytes, row + pitch)) << rows << " " << y;
    }
    EXPECT_EQ(destination.back(), kUntouched);
  }
}

TEST(ExpandRows, WidensEachRowBelowAndAboveTheSplit) {
  for (uint32_t rows : {1u, 127u, 128u, 300u}) {
    const uint32_t width = 5, sourceRowBytes = 15, pitch = 32;
    const std::vector<uint8_t> bytes = Pattern(sourceRowBytes * rows, rows);
    GuardedBuffer source(bytes.size());
    std::memcpy(source.data(), bytes.data(), bytes.size());
    std::vector<uint8_t> destination(pitch * rows, kUntouched);
    ExpandRows(destination.data(), pitch, source.data(), sourceRowBytes, rows, width);
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* row = destination.data() + y * pitch;
      const std::vector<uint8_t> expected = WidenedReference(bytes.data() + y * sourceRowBytes, width);
      ASSERT_EQ(std::memcmp(row, expected.data(), expected.size()), 0) << rows << " " << y;
      ASSERT_TRUE(AllUntouched(row + 4 * width, row + pitch)) << rows << " " << y;
    }
  }
}

}  // namespace
