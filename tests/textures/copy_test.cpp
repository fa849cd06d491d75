// The byte copy and the row widening: byte-exact results at every alignment
// and length, no byte touched outside the ranges, no source byte read past
// the end (sources end at a guard page).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dds_builder.h"
#include "guarded_buffer.h"
#include "textures/copy_bytes.h"
#include "textures/expand_rgb.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;

std::vector<uint8_t> WidenedReference(const uint8_t* source, uint32_t count) {
  std::vector<uint8_t> out;
  for (uint32_t k = 0; k < count; ++k) {
    out.insert(out.end(), source + 3 * k, source + 3 * k + 3);
    out.push_back(0xFF);
  }
  return out;
}

// Runs `write` into the middle of a buffer of kUntouched bytes and returns
// what it wrote and whether everything around stayed untouched.
template <typename Write>
std::pair<std::vector<uint8_t>, bool> Written(uint32_t offset, size_t length, Write write) {
  alignas(16) uint8_t destination[2048];
  std::memset(destination, kUntouched, sizeof destination);
  write(destination + 16 + offset);
  bool around = true;
  for (size_t i = 0; i < sizeof destination; ++i) {
    if (i < 16 + offset || i >= 16 + offset + length) around = around && destination[i] == kUntouched;
  }
  return {{destination + 16 + offset, destination + 16 + offset + length}, around};
}

TEST(CopyBytesSimd, MatchesAByteCopyAtEveryAlignmentAndLength) {
  const uint32_t counts[] = {0, 1, 3, 12, 15, 16, 17, 31, 63, 64, 127, 128, 129, 200, 255, 1000};
  for (uint32_t count : counts) {
    const std::vector<uint8_t> bytes = PatternBytes(count, count);
    for (uint32_t from = 0; from < 16; from += 4) {
      GuardedBuffer source(count + from);  // ends at the guard page
      std::copy(bytes.begin(), bytes.end(), source.data() + from);
      for (uint32_t to = 0; to < 16; ++to) {
        const auto [written, around] =
            Written(to, count, [&](uint8_t* at) { CopyBytesSimd(at, source.data() + from, count); });
        ASSERT_EQ(written, bytes) << "to " << to << " from " << from << " count " << count;
        ASSERT_TRUE(around) << "to " << to << " from " << from << " count " << count;
      }
    }
  }
}

TEST(ExpandRgbRow, BothVariantsWidenEveryPixelWithOpaqueAlpha) {
  EXPECT_EQ(SelectExpandRgbRow(1u << 9), ExpandRgbRowSsse3);
  EXPECT_EQ(SelectExpandRgbRow(~(1u << 9)), ExpandRgbRowSse2);
  std::vector<ExpandRgbRowFunction> variants = {ExpandRgbRowSse2};
  if (__builtin_cpu_supports("ssse3")) variants.push_back(ExpandRgbRowSsse3);
  for (uint32_t count : {0u, 1u, 5u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 100u, 341u}) {
    const std::vector<uint8_t> bytes = PatternBytes(3 * count, count);
    for (uint32_t from : {0u, 1u, 16u}) {
      GuardedBuffer source(3 * count + from);
      std::copy(bytes.begin(), bytes.end(), source.data() + from);
      for (ExpandRgbRowFunction expand : variants) {
        for (uint32_t to : {0u, 4u, 7u}) {
          const auto [written, around] =
              Written(to, 4 * count, [&](uint8_t* at) { expand(at, source.data() + from, count); });
          ASSERT_EQ(written, WidenedReference(bytes.data(), count)) << count << " " << from << "/" << to;
          ASSERT_TRUE(around) << count << " " << from << "/" << to;
        }
      }
    }
  }
}

}  // namespace
