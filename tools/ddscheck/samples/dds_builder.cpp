#include "dds_builder.h"

#include <algorithm>
#include <cstring>

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 12345u;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

DdsPixelFormat FourCcPixelFormat(uint32_t fourCc) { return {32, kDdpfFourCc, fourCc, 0, 0, 0, 0, 0}; }

DdsPixelFormat RgbPixelFormat(uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return {32, kDdpfRgb | (a != 0 ? 0x1u : 0u), 0, bits, r, g, b, a};
}

DdsPixelFormat Dxt1PixelFormat() { return FourCcPixelFormat(kFormatDxt1); }
DdsPixelFormat Dxt5PixelFormat() { return FourCcPixelFormat(kFormatDxt5); }
DdsPixelFormat A8R8G8B8PixelFormat() { return RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000); }
DdsPixelFormat X8R8G8B8PixelFormat() { return RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 0); }
DdsPixelFormat R8G8B8PixelFormat() { return RgbPixelFormat(24, 0xFF0000, 0xFF00, 0xFF, 0); }

LevelSpan LevelOf(const DdsLayout& layout, uint32_t level) {
  const uint32_t format = FormatFromPixelFormat(layout.pixelFormat);
  const bool dx10 = (layout.pixelFormat.flags & kDdpfFourCc) != 0 && layout.pixelFormat.fourCc == kFourCcDx10;
  size_t offset = dx10 ? kDdsExtendedPixelsOffset : kDdsPixelsOffset;
  SurfaceSize size = {};
  for (uint32_t i = 0; i <= level; ++i) {
    offset += size.bytes;
    SurfaceInfo(LevelExtent(layout.width, i), LevelExtent(layout.height, i), format, &size);
  }
  return {offset, size};
}

std::vector<uint8_t> MakeDds(const DdsLayout& layout) {
  DdsHeader header = {};
  header.size = kDdsHeaderSize;
  header.flags = layout.flags | (layout.mipMapCount != 0 ? 0x20000u : 0u);
  header.height = layout.height;
  header.width = layout.width;
  header.mipMapCount = layout.mipMapCount;
  header.ddspf = layout.pixelFormat;
  header.caps = 0x1000 | (layout.mipMapCount > 1 ? 0x400008u : 0u);
  header.caps2 = layout.caps2;

  const uint32_t levels = StoredLevelCount(header);
  const LevelSpan last = LevelOf(layout, levels - 1);
  std::vector<uint8_t> file(last.offset + last.size.bytes);
  std::memcpy(file.data(), &kDdsMagic, 4);
  std::memcpy(file.data() + 4, &header, sizeof header);
  const size_t pixels = LevelOf(layout, 0).offset;
  const std::vector<uint8_t> pattern = PatternBytes(file.size() - pixels, layout.seed);
  std::copy(pattern.begin(), pattern.end(), file.begin() + static_cast<ptrdiff_t>(pixels));
  return file;
}

std::vector<uint8_t> MakeDdsWithMips(DdsPixelFormat pixelFormat, uint32_t width, uint32_t height,
                                     uint32_t seed) {
  return MakeDds({pixelFormat, width, height, FullChainLevelCount(width, height), 0, 0x1007, seed});
}
