// DDS header checks, the format and size tables, and a fuzz loop over
// truncated and bit-flipped files placed against a guard page.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>

#include "dds_builder.h"
#include "guarded_buffer.h"
#include "textures/dds_format.h"

namespace {

void PutWord(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
  std::memcpy(file.data() + offset, &value, 4);
}

TEST(ParseDdsHeader, RefusesShortOrForeignFilesAndFindsThePixels) {
  std::vector<uint8_t> file = MakeDds({A8R8G8B8PixelFormat(), 4, 4, 1});
  DdsFile parsed;
  ASSERT_TRUE(ParseDdsHeader(file.data(), static_cast<uint32_t>(file.size()), &parsed));
  EXPECT_EQ(parsed.pixels, file.data() + 128);
  EXPECT_EQ(parsed.pixelBytes, 64u);
  EXPECT_EQ(parsed.header.width, 4u);
  EXPECT_TRUE(ParseDdsHeader(file.data(), 128, &parsed));
  EXPECT_FALSE(ParseDdsHeader(file.data(), 127, &parsed));
  EXPECT_FALSE(ParseDdsHeader(nullptr, 1000, &parsed));
  const std::pair<size_t, uint32_t> damages[] = {{0, 0x20534445}, {4, 123}, {76, 31}};
  for (const auto& [offset, value] : damages) {
    std::vector<uint8_t> damaged = file;
    PutWord(damaged, offset, value);
    EXPECT_FALSE(ParseDdsHeader(damaged.data(), static_cast<uint32_t>(damaged.size()), &parsed)) << offset;
  }

  // The "DX10" header needs 148 bytes, and its format maps to none.
  file = MakeDds({FourCcPixelFormat(kFourCcDx10), 4, 4, 1});
  file.resize(160);
  EXPECT_FALSE(ParseDdsHeader(file.data(), 147, &parsed));
  ASSERT_TRUE(ParseDdsHeader(file.data(), 148, &parsed));
  EXPECT_EQ(parsed.pixels, file.data() + 148);
  EXPECT_EQ(FormatFromPixelFormat(parsed.header.ddspf), kFormatUnknown);
  PutWord(file, 80, kDdpfRgb);  // without the FourCC flag the code is not looked at
  ASSERT_TRUE(ParseDdsHeader(file.data(), 140, &parsed));
  EXPECT_EQ(parsed.pixels, file.data() + 128);
}

TEST(FormatFromPixelFormat, MatchesMasksExactlyAndOnlyUnderTheFirstFlagSet) {
  EXPECT_EQ(FormatFromPixelFormat(A8R8G8B8PixelFormat()), 21u);
  EXPECT_EQ(FormatFromPixelFormat(X8R8G8B8PixelFormat()), 22u);
  EXPECT_EQ(FormatFromPixelFormat(R8G8B8PixelFormat()), 20u);
  EXPECT_EQ(FormatFromPixelFormat(RgbPixelFormat(32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)), 35u);
  EXPECT_EQ(FormatFromPixelFormat(RgbPixelFormat(16, 0x7C00, 0x3E0, 0x1F, 0x8000)), 25u);
  EXPECT_EQ(FormatFromPixelFormat(RgbPixelFormat(16, 0x7C00, 0x3E0, 0x1F, 0)), 24u);
  EXPECT_EQ(FormatFromPixelFormat(RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 1)), 0u);  // alpha mask 1
  DdsPixelFormat luminance = {32, kDdpfLuminance, 0, 16, 0xFF, 0, 0, 0xFF00};
  EXPECT_EQ(FormatFromPixelFormat(luminance), 51u);
  luminance.flags |= kDdpfRgb;  // the RGB rows are tried instead, and none matches
  EXPECT_EQ(FormatFromPixelFormat(luminance), 0u);
  DdsPixelFormat alpha = {32, kDdpfAlpha | kDdpfFourCc, kFormatDxt1, 8, 0x12, 0x34, 0x56, 0xFF};
  EXPECT_EQ(FormatFromPixelFormat(alpha), 28u);
  alpha.rgbBitCount = 16;
  EXPECT_EQ(FormatFromPixelFormat(alpha), 0u);
  for (uint32_t code : {kFormatDxt1, kFormatDxt5, MakeFourCc('Y', 'U', 'Y', '2'), 36u, 110u, 117u}) {
    EXPECT_EQ(FormatFromPixelFormat(FourCcPixelFormat(code)), code);
  }
  for (uint32_t code : {kFourCcDx10, MakeFourCc('A', 'T', 'I', '2'), 21u, 109u, 118u}) {
    EXPECT_EQ(FormatFromPixelFormat(FourCcPixelFormat(code)), 0u) << code;
  }
}

std::tuple<uint32_t, uint32_t, uint32_t> Size(uint32_t width, uint32_t height, uint32_t format) {
  SurfaceSize size = {7, 7, 7};
  if (!SurfaceInfo(width, height, format, &size)) return {0xDEAD, 0, 0};
  return {size.bytes, size.rowBytes, size.rows};
}

TEST(LevelSizes, CountBlocksOrWholeBytesAndNeverWrap) {
  using T = std::tuple<uint32_t, uint32_t, uint32_t>;
  EXPECT_EQ(Size(6, 6, kFormatDxt1), T(32, 16, 2));  // level 1 of a 12x12 file
  EXPECT_EQ(Size(1, 2, kFormatDxt5), T(16, 16, 1));
  EXPECT_EQ(Size(0, 8, kFormatDxt5), T(0, 0, 2));
  EXPECT_EQ(Size(5, 3, kFormatR8G8B8), T(45, 15, 3));
  EXPECT_EQ(Size(9, 2, 118), T(4, 2, 2));  // 1 bit per pixel: partial bytes count whole
  EXPECT_EQ(Size(3, 3, MakeFourCc('Y', 'V', '1', '2')), T(15, 5, 3));
  EXPECT_EQ(Size(4, 1, 116), T(64, 64, 1));
  EXPECT_EQ(Size(4, 1, 119), T(0, 0, 1));  // unknown format
  EXPECT_EQ(Size(0x7FFFFFF8, 1, kFormatDxt1), T(0xFFFFFFF0u, 0xFFFFFFF0u, 1));
  EXPECT_EQ(Size(0x10000, 0x10000, kFormatA8R8G8B8), T(0xDEAD, 0, 0));
  EXPECT_EQ(Size(0xFFFFFFFF, 1, 116), T(0xDEAD, 0, 0));
  EXPECT_EQ(Size(0xFFFFFFFF, 0xFFFFFFFF, kFormatDxt5), T(0xDEAD, 0, 0));

  // 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8 bytes
  EXPECT_EQ(FullChainLevelCount(256, 256), 9u);
  EXPECT_TRUE(LevelsFit(256, 256, kFormatDxt1, 9, 43704));
  EXPECT_FALSE(LevelsFit(256, 256, kFormatDxt1, 9, 43703));
  EXPECT_FALSE(LevelsFit(1, 1, kFormatA8R8G8B8, 33, 0xFFFFFFFF));
  EXPECT_FALSE(LevelsFit(0x8000, 0x8000, kFormatA8R8G8B8, 2, 0xFFFFFFFF));
  EXPECT_EQ(FullChainLevelCount(3, 5), 3u);
  EXPECT_EQ(FullChainLevelCount(0xFFFFFFFF, 1), 32u);
  EXPECT_EQ(LevelExtent(5, 1), 2u);
  EXPECT_EQ(LevelExtent(0xFFFFFFFF, 40), 1u);
}

// Every truncation and many bit flips of valid files, each placed so that
// its last byte touches a page that faults: parsing and the level arithmetic
// must stay inside the file and agree with each other.
// D3DX_SKIP_DDS_MIP_LEVELS(n, filter) puts n in bits 26 to 30 of MipFilter.
TEST(SkipLevels, StartsAtTheNamedStoredLevelOrLeavesTheFileAlone) {
  EXPECT_EQ(SkippedLevels(0xFFFFFFFF, 9), 0u);
  EXPECT_EQ(SkippedLevels(2u << 26 | 5, 9), 2u);
  EXPECT_EQ(SkippedLevels(9u << 26 | 5, 9), 0u);
  const DdsLayout layout = {Dxt1PixelFormat(), 256, 8, 9};
  const std::vector<uint8_t> file = MakeDds(layout);
  DdsFile parsed;
  ASSERT_TRUE(ParseDdsHeader(file.data(), static_cast<uint32_t>(file.size()), &parsed));
  DdsFile skipped = parsed;
  ASSERT_TRUE(SkipLevels(&skipped, 2));
  EXPECT_EQ(std::make_tuple(skipped.header.width, skipped.header.height, skipped.header.mipMapCount),
            std::make_tuple(64u, 2u, 7u));
  EXPECT_EQ(skipped.pixels, file.data() + LevelOf(layout, 2).offset);
  EXPECT_EQ(skipped.pixels + skipped.pixelBytes, file.data() + file.size());
  skipped = parsed;
  EXPECT_FALSE(SkipLevels(&skipped, 4));  // 8 rows shrink to none
  parsed.pixelBytes = static_cast<uint32_t>(LevelOf(layout, 2).offset - 129);
  skipped = parsed;
  EXPECT_FALSE(SkipLevels(&skipped, 2));  // level 1 not all there
  EXPECT_EQ(std::make_tuple(skipped.pixels, skipped.header.width), std::make_tuple(parsed.pixels, 256u));
}

TEST(DdsFuzz, DamagedFilesStayInsideTheirBytes) {
  const std::vector<std::vector<uint8_t>> files = {
      MakeDdsWithMips(Dxt1PixelFormat(), 64, 32),         MakeDdsWithMips(Dxt5PixelFormat(), 16, 16),
      MakeDdsWithMips(A8R8G8B8PixelFormat(), 8, 8),       MakeDds({R8G8B8PixelFormat(), 5, 3, 0}),
      MakeDds({FourCcPixelFormat(kFourCcDx10), 4, 4, 1}),
  };
  std::mt19937 random(7);
  int parsed = 0, served = 0;
  for (const auto& original : files) {
    std::vector<std::vector<uint8_t>> variants;
    for (size_t length = 0; length < original.size(); length += 1 + length / 16) {
      variants.emplace_back(original.begin(), original.begin() + static_cast<ptrdiff_t>(length));
    }
    for (int flips = 0; flips < 600; ++flips) {
      std::vector<uint8_t> damaged = original;
      // Mostly the header, where a flip changes the arithmetic.
      const size_t span = flips % 3 == 0 ? damaged.size() : 128;
      damaged[random() % span] ^= static_cast<uint8_t>(1u << (random() % 8));
      variants.push_back(std::move(damaged));
    }
    for (const auto& bytes : variants) {
      GuardedBuffer buffer(bytes.size());
      std::copy(bytes.begin(), bytes.end(), buffer.data());
      const uint8_t* end = buffer.data() + bytes.size();
      DdsFile file;
      if (!ParseDdsHeader(buffer.data(), static_cast<uint32_t>(bytes.size()), &file)) continue;
      ++parsed;
      ASSERT_EQ(file.pixels + file.pixelBytes, end);
      const DdsHeader& h = file.header;
      const uint32_t format = FormatFromPixelFormat(h.ddspf);
      const uint32_t levels = StoredLevelCount(h);
      if (format == kFormatUnknown || !LevelsFit(h.width, h.height, format, levels, file.pixelBytes))
        continue;
      ++served;
      const uint8_t* level = file.pixels;
      for (uint32_t i = 0; i < levels; ++i) {
        SurfaceSize size;
        ASSERT_TRUE(SurfaceInfo(LevelExtent(h.width, i), LevelExtent(h.height, i), format, &size));
        ASSERT_LE(size.bytes, static_cast<size_t>(end - level));
        if (size.bytes != 0) {
          volatile uint8_t touch = level[size.bytes - 1];
          (void)touch;
        }
        level += size.bytes;
      }
    }
  }
  // The loop must have exercised both outcomes.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(served, 50);
  EXPECT_LT(served, parsed);
}

}  // namespace
