#pragma once

// Builds DDS files in memory for the tests: a header for the given pixel
// format, size and stored level count, followed by the bytes of every stored
// level (a seeded pattern, so levels and files differ from one another).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "textures/dds_format.h"

// `size` bytes of a pattern that `seed` selects.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

DdsPixelFormat FourCcPixelFormat(uint32_t fourCc);
DdsPixelFormat RgbPixelFormat(uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a);

DdsPixelFormat Dxt1PixelFormat();
DdsPixelFormat Dxt5PixelFormat();
DdsPixelFormat A8R8G8B8PixelFormat();
DdsPixelFormat X8R8G8B8PixelFormat();
DdsPixelFormat R8G8B8PixelFormat();

struct DdsLayout {
  DdsPixelFormat pixelFormat;
  uint32_t width;
  uint32_t height;
  uint32_t mipMapCount;  // as stored; 0 means one level
  uint32_t caps2 = 0;
  uint32_t flags = 0x1007;  // caps, height, width, pixel format
  uint32_t seed = 1;
};

// The header and all stored levels.
std::vector<uint8_t> MakeDds(const DdsLayout& layout);
// The same layout with a full chain (every level down to 1x1).
std::vector<uint8_t> MakeDdsWithMips(DdsPixelFormat pixelFormat, uint32_t width, uint32_t height,
                                     uint32_t seed = 1);

// Offset and byte count of level `level` of a file made by MakeDds.
struct LevelSpan {
  size_t offset;
  SurfaceSize size;
};
LevelSpan LevelOf(const DdsLayout& layout, uint32_t level);
