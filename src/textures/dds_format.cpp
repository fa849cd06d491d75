#include "textures/dds_format.h"

#include <cstring>

namespace {

struct MaskRow {
  uint32_t bitCount, r, g, b, a;
  uint32_t format;
};

// Uncompressed RGB layouts, tested in this order; masks compare exactly.
constexpr MaskRow kRgbRows[] = {
    {32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 21},  // A8R8G8B8
    {32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0, 22},           // X8R8G8B8
    {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000, 32},  // A8B8G8R8
    {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0, 33},           // X8B8G8R8
    {32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000, 35},  // A2R10G10B10
    {32, 0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000, 31},  // A2B10G10R10
    {32, 0x0000FFFF, 0xFFFF0000, 0, 0, 34},                    // G16R16
    {32, 0xFFFFFFFF, 0, 0, 0, 114},                            // R32F
    {24, 0x00FF0000, 0x0000FF00, 0x000000FF, 0, 20},           // R8G8B8
    {16, 0xF800, 0x07E0, 0x001F, 0, 23},                       // R5G6B5
    {16, 0x7C00, 0x03E0, 0x001F, 0x8000, 25},                  // A1R5G5B5
    {16, 0x7C00, 0x03E0, 0x001F, 0, 24},                       // X1R5G5B5
    {16, 0x0F00, 0x00F0, 0x000F, 0xF000, 26},                  // A4R4G4B4
    {16, 0x0F00, 0x00F0, 0x000F, 0, 30},                       // X4R4G4B4
    {16, 0x00E0, 0x001C, 0x0003, 0xFF00, 29},                  // A8R3G3B2
};

constexpr MaskRow kLuminanceRows[] = {
    {8, 0x0F, 0, 0, 0xF0, 52},       // A4L4
    {8, 0xFF, 0, 0, 0, 50},          // L8
    {16, 0xFFFF, 0, 0, 0, 81},       // L16
    {16, 0x00FF, 0, 0, 0xFF00, 51},  // A8L8
};

constexpr uint32_t kFormatA8 = 28;

// Four-character codes and format numbers that a FourCC record may carry.
constexpr uint32_t kFourCcFormats[] = {
    kFormatDxt1,
    kFormatDxt2,
    kFormatDxt3,
    kFormatDxt4,
    kFormatDxt5,
    MakeFourCc('R', 'G', 'B', 'G'),
    MakeFourCc('G', 'R', 'G', 'B'),
    MakeFourCc('U', 'Y', 'V', 'Y'),
    MakeFourCc('Y', 'U', 'Y', '2'),
    36,  // A16B16G16R16
    110,
    111,
    112,
    113,
    114,
    115,
    116,
    117,
};

template <size_t N>
uint32_t MatchMasks(const MaskRow (&rows)[N], const DdsPixelFormat& pf) {
  for (const MaskRow& row : rows) {
    if (pf.rgbBitCount == row.bitCount && pf.rBitMask == row.r && pf.gBitMask == row.g &&
        pf.bBitMask == row.b && pf.aBitMask == row.a) {
      return row.format;
    }
  }
  return kFormatUnknown;
}

struct BitsRow {
  uint32_t bits;
  uint32_t format;
};

constexpr BitsRow kBitsRows[] = {
    {128, 116},
    {64, 36},
    {64, 110},
    {64, 113},
    {64, 115},
    {32, 21},
    {32, 22},
    {32, 31},
    {32, 32},
    {32, 33},
    {32, 34},
    {32, 35},
    {32, 62},
    {32, 63},
    {32, 64},
    {32, 67},
    {32, 71},
    {32, 75},
    {32, 77},
    {32, 79},
    {32, 82},
    {32, 83},
    {32, 84},
    {32, 102},
    {32, 112},
    {32, 114},
    {24, 20},
    {16, 23},
    {16, 24},
    {16, 25},
    {16, 26},
    {16, 29},
    {16, 30},
    {16, 51},
    {16, 60},
    {16, 61},
    {16, 70},
    {16, 73},
    {16, 80},
    {16, 81},
    {16, 101},
    {16, 111},
    {16, 117},
    {8, 27},
    {8, 28},
    {8, 40},
    {8, 41},
    {8, 50},
    {8, 52},
    {8, 85},
    {1, 118},
    {16, MakeFourCc('Y', 'U', 'Y', '2')},
    {16, MakeFourCc('U', 'Y', 'V', 'Y')},
    {16, MakeFourCc('R', 'G', 'B', 'G')},
    {16, MakeFourCc('G', 'R', 'G', 'B')},
    {12, MakeFourCc('Y', 'V', '1', '2')},
    {8, kFormatDxt2},
    {8, kFormatDxt3},
    {8, kFormatDxt4},
    {8, kFormatDxt5},
    {8, MakeFourCc('A', 'I', '4', '4')},
    {8, MakeFourCc('I', 'A', '4', '4')},
    {4, kFormatDxt1},
};

uint32_t Blocks(uint32_t extent) {
  if (extent == 0) return 0;
  return extent / 4 + (extent % 4 != 0 ? 1 : 0);  // (extent + 3) / 4 without wrapping
}

}  // namespace

bool ParseDdsHeader(const void* data, uint32_t size, DdsFile* file) {
  if (data == nullptr || size < kDdsPixelsOffset) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t magic;
  std::memcpy(&magic, bytes, sizeof magic);
  DdsHeader header;
  std::memcpy(&header, bytes + sizeof magic, sizeof header);
  if (magic != kDdsMagic || header.size != kDdsHeaderSize || header.ddspf.size != kDdsPixelFormatSize) {
    return false;
  }
  uint32_t start = kDdsPixelsOffset;
  if ((header.ddspf.flags & kDdpfFourCc) != 0 && header.ddspf.fourCc == kFourCcDx10) {
    if (size < kDdsExtendedPixelsOffset) return false;
    start = kDdsExtendedPixelsOffset;
  }
  file->header = header;
  file->pixels = bytes + start;
  file->pixelBytes = size - start;
  return true;
}

uint32_t FormatFromPixelFormat(const DdsPixelFormat& pf) {
  if ((pf.flags & kDdpfRgb) != 0) return MatchMasks(kRgbRows, pf);
  if ((pf.flags & kDdpfLuminance) != 0) return MatchMasks(kLuminanceRows, pf);
  if ((pf.flags & kDdpfAlpha) != 0) return pf.rgbBitCount == 8 ? kFormatA8 : kFormatUnknown;
  if ((pf.flags & kDdpfFourCc) != 0) {
    for (uint32_t format : kFourCcFormats) {
      if (pf.fourCc == format) return format;
    }
  }
  return kFormatUnknown;
}

uint32_t BitsPerPixel(uint32_t format) {
  for (const BitsRow& row : kBitsRows) {
    if (row.format == format) return row.bits;
  }
  return 0;
}

bool IsBlockCompressed(uint32_t format) {
  return format == kFormatDxt1 || format == kFormatDxt2 || format == kFormatDxt3 || format == kFormatDxt4 ||
         format == kFormatDxt5;
}

bool SurfaceInfo(uint32_t width, uint32_t height, uint32_t format, SurfaceSize* size) {
  uint64_t rowBytes, rows;
  if (IsBlockCompressed(format)) {
    rowBytes = static_cast<uint64_t>(Blocks(width)) * (format == kFormatDxt1 ? 8 : 16);
    rows = Blocks(height);
  } else {
    rowBytes = (static_cast<uint64_t>(width) * BitsPerPixel(format) + 7) / 8;
    rows = height;
  }
  const uint64_t bytes = rowBytes * rows;
  if (bytes > UINT32_MAX || rowBytes > UINT32_MAX) return false;
  *size = {static_cast<uint32_t>(bytes), static_cast<uint32_t>(rowBytes), static_cast<uint32_t>(rows)};
  return true;
}

uint32_t LevelExtent(uint32_t extent, uint32_t level) {
  const uint32_t shifted = level < 32 ? extent >> level : 0;
  return shifted > 1 ? shifted : 1;
}

uint32_t StoredLevelCount(const DdsHeader& header) {
  return header.mipMapCount == 0 ? 1 : header.mipMapCount;
}

uint32_t FullChainLevelCount(uint32_t width, uint32_t height) {
  uint32_t largest = width > height ? width : height;
  uint32_t levels = 1;
  while (largest > 1) {
    largest >>= 1;
    ++levels;
  }
  return levels;
}

bool LevelsFit(uint32_t width, uint32_t height, uint32_t format, uint32_t levels, uint32_t available) {
  if (levels > kMaxLevels) return false;
  uint64_t total = 0;
  for (uint32_t level = 0; level < levels; ++level) {
    SurfaceSize size;
    if (!SurfaceInfo(LevelExtent(width, level), LevelExtent(height, level), format, &size)) return false;
    total += size.bytes;
    if (total > available) return false;
  }
  return true;
}

bool TakesSizeArgument(uint32_t argument, uint32_t side) {
  constexpr uint32_t kD3dxDefault = 0xFFFFFFFF;
  const bool powerOfTwo = side != 0 && (side & (side - 1)) == 0;
  return argument == 0 || argument == kD3dxDefault || (argument == kD3dxDefaultNonPow2 && powerOfTwo);
}

uint32_t SkippedLevels(uint32_t mipFilter, uint32_t storedLevels) {
  constexpr uint32_t kD3dxDefault = 0xFFFFFFFF;
  constexpr uint32_t kSkipShift = 26, kSkipMask = 0x1F;
  const uint32_t skip = mipFilter == kD3dxDefault ? 0 : (mipFilter >> kSkipShift) & kSkipMask;
  return skip < storedLevels ? skip : 0;
}

bool SkipLevels(DdsFile* file, uint32_t skip) {
  if (skip == 0) return true;
  DdsHeader& header = file->header;
  const uint32_t format = FormatFromPixelFormat(header.ddspf);
  if (skip >= StoredLevelCount(header) || (header.width >> skip) == 0 || (header.height >> skip) == 0) {
    return false;
  }
  uint64_t skipped = 0;
  for (uint32_t level = 0; level < skip; ++level) {
    SurfaceSize size;
    if (!SurfaceInfo(LevelExtent(header.width, level), LevelExtent(header.height, level), format, &size)) {
      return false;
    }
    skipped += size.bytes;
  }
  if (skipped > file->pixelBytes) return false;
  file->pixels += skipped;
  file->pixelBytes -= static_cast<uint32_t>(skipped);
  header.mipMapCount = StoredLevelCount(header) - skip;
  header.width >>= skip;
  header.height >>= skip;
  return true;
}
