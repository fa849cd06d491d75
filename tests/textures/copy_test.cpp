// The byte copy, the row widening, the parallel loop and the split copies:
// byte-exact results at every alignment and at the split thresholds, no
// byte touched outside the ranges, every index run once before the join.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "guarded_buffer.h"
#include "textures/copy_bytes.h"
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

std::vector<uint8_t> WidenedReference(const uint8_t* source, uint32_t count) {
  std::vector<uint8_t> out;
  for (uint32_t k = 0; k < count; ++k) {
    out.insert(out.end(), source + 3 * k, source + 3 * k + 3);
    out.push_back(0xFF);
  }
  return out;
}

bool AllUntouched(const uint8_t* from, const uint8_t* to) {
  for (; from < to; ++from) {
    if (*from != kUntouched) return false;
  }
  return true;
}

TEST(CopyBytesSimd, MatchesAByteCopyAtEveryAlignmentAndLength) {
  const std::vector<uint8_t> source = Pattern(1200, 1);
  const uint32_t counts[] = {0, 1, 3, 12, 15, 16, 17, 31, 32, 63, 64, 127, 128, 129, 200, 255, 256, 1000};
  alignas(16) uint8_t destination[1100 + 64];
  for (uint32_t to = 0; to < 16; ++to) {
    for (uint32_t from = 0; from < 16; from += 4) {
      for (uint32_t count : counts) {
        std::memset(destination, kUntouched, sizeof destination);
        CopyBytesSimd(destination + 16 + to, source.data() + from, count);
        ASSERT_EQ(std::memcmp(destination + 16 + to, source.data() + from, count), 0)
            << to << " " << from << " " << count;
        ASSERT_TRUE(AllUntouched(destination, destination + 16 + to));
        ASSERT_TRUE(AllUntouched(destination + 16 + to + count, destination + sizeof destination));
      }
    }
  }
}

TEST(CopyBytesSimd, ReadsAndWritesNothingPastEitherEnd) {
  for (uint32_t count : {1u, 12u, 200u, 4096u + 13u}) {
    for (uint32_t shift : {0u, 4u, 8u}) {
      GuardedBuffer source(count + shift), destination(count);
      const std::vector<uint8_t> bytes = Pattern(count, count);
      std::memcpy(source.data(), bytes.data(), count);
      CopyBytesSimd(destination.data(), source.data(), count);
      EXPECT_EQ(std::memcmp(destination.data(), bytes.data(), count), 0) << count << " " << shift;
    }
  }
}

void ExpectWidens(ExpandRgbRowFunction expand, const char* name) {
  const std::vector<uint8_t> source = Pattern(3 * 120 + 16, 7);
  alignas(16) uint8_t destination[4 * 120 + 48];
  for (uint32_t count : {0u, 1u, 5u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 100u, 120u}) {
    for (uint32_t to : {0u, 4u, 7u}) {
      for (uint32_t from : {0u, 1u, 16u}) {
        std::memset(destination, kUntouched, sizeof destination);
        expand(destination + 16 + to, source.data() + from, count);
        const std::vector<uint8_t> expected = WidenedReference(source.data() + from, count);
        ASSERT_EQ(std::memcmp(destination + 16 + to, expected.data(), expected.size()), 0)
            << name << " count " << count << " offsets " << to << "/" << from;
        ASSERT_TRUE(AllUntouched(destination, destination + 16 + to)) << name;
        ASSERT_TRUE(AllUntouched(destination + 16 + to + 4 * count, destination + sizeof destination))
            << name;
      }
    }
  }
}

TEST(ExpandRgbRow, BothVariantsWidenEveryPixelWithOpaqueAlpha) {
  ExpectWidens(ExpandRgbRowSse2, "SSE2");
  if (__builtin_cpu_supports("ssse3")) {
    ExpectWidens(ExpandRgbRowSsse3, "SSSE3");
  }
  EXPECT_EQ(SelectExpandRgbRow(1u << 9), ExpandRgbRowSsse3);
  EXPECT_EQ(SelectExpandRgbRow(~(1u << 9)), ExpandRgbRowSse2);
}

TEST(ExpandRgbRow, ReadsNoSourceBytePastTheRow) {
  for (uint32_t count : {16u, 17u, 1365u}) {
    GuardedBuffer source(3 * count), destination(4 * count);
    std::memset(source.data(), 0x11, 3 * count);
    ExpandRgbRowSse2(destination.data(), source.data(), count);
    if (__builtin_cpu_supports("ssse3")) ExpandRgbRowSsse3(destination.data(), source.data(), count);
    EXPECT_EQ(destination.data()[4 * count - 1], 0xFF);
    EXPECT_EQ(destination.data()[4 * count - 2], 0x11);
  }
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
