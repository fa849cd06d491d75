// The byte copy and the row widening: byte-exact results at every alignment
// and length, no byte touched outside the ranges.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "guarded_buffer.h"
#include "textures/copy_bytes.h"
#include "textures/expand_rgb.h"

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

}  // namespace
