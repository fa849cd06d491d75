#pragma once

// The DDS file as held in memory: header checks, the pixel format's
// D3DFORMAT number and the byte size of each level. Format numbers are those
// of D3DFORMAT; four-character codes have their first character in the
// lowest byte.

#include <cstdint>

constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kDdsMagic = MakeFourCc('D', 'D', 'S', ' ');
constexpr uint32_t kDdsHeaderSize = 124;
constexpr uint32_t kDdsPixelFormatSize = 32;
constexpr uint32_t kDdsPixelsOffset = 128;
constexpr uint32_t kDdsExtendedPixelsOffset = 148;  // behind the 20-byte "DX10" header
constexpr uint32_t kDdsDepthFlag = 0x800000;        // DDSD_DEPTH: a volume

// Pixel format flags.
constexpr uint32_t kDdpfAlpha = 0x2;
constexpr uint32_t kDdpfFourCc = 0x4;
constexpr uint32_t kDdpfRgb = 0x40;
constexpr uint32_t kDdpfLuminance = 0x20000;

// The D3DFORMAT numbers that the load paths name.
constexpr uint32_t kFormatUnknown = 0;
constexpr uint32_t kFormatR8G8B8 = 20;
constexpr uint32_t kFormatA8R8G8B8 = 21;
constexpr uint32_t kFormatDxt1 = MakeFourCc('D', 'X', 'T', '1');
constexpr uint32_t kFormatDxt2 = MakeFourCc('D', 'X', 'T', '2');
constexpr uint32_t kFormatDxt3 = MakeFourCc('D', 'X', 'T', '3');
constexpr uint32_t kFormatDxt4 = MakeFourCc('D', 'X', 'T', '4');
constexpr uint32_t kFormatDxt5 = MakeFourCc('D', 'X', 'T', '5');
constexpr uint32_t kFourCcDx10 = MakeFourCc('D', 'X', '1', '0');

struct DdsPixelFormat {
  uint32_t size;
  uint32_t flags;
  uint32_t fourCc;
  uint32_t rgbBitCount;
  uint32_t rBitMask;
  uint32_t gBitMask;
  uint32_t bBitMask;
  uint32_t aBitMask;
};

// DDS_HEADER, the 124 bytes behind the magic.
struct DdsHeader {
  uint32_t size;
  uint32_t flags;
  uint32_t height;
  uint32_t width;
  uint32_t pitchOrLinearSize;
  uint32_t depth;
  uint32_t mipMapCount;
  uint32_t reserved1[11];
  DdsPixelFormat ddspf;
  uint32_t caps;
  uint32_t caps2;
  uint32_t caps3;
  uint32_t caps4;
  uint32_t reserved2;
};
static_assert(sizeof(DdsHeader) == kDdsHeaderSize, "DDS_HEADER is 124 bytes");

// A parsed file: a copy of its header (the file's bytes need no alignment)
// and where its pixel data lies.
struct DdsFile {
  DdsHeader header;
  const uint8_t* pixels;
  uint32_t pixelBytes;  // from `pixels` to the end of the file
};

// Checks the magic and the two record sizes and finds the pixel data; false
// when the file is too short or not a DDS file. Reads no byte at or beyond
// data + size.
bool ParseDdsHeader(const void* data, uint32_t size, DdsFile* file);

// The D3DFORMAT of a pixel format record, or kFormatUnknown.
uint32_t FormatFromPixelFormat(const DdsPixelFormat& pixelFormat);

// Bits per pixel of a format; 0 for a value it does not know.
uint32_t BitsPerPixel(uint32_t format);

bool IsBlockCompressed(uint32_t format);

// Bytes of one level: rows of 4x4 blocks for block-compressed formats, pixel
// rows (partial bytes counted whole) otherwise.
struct SurfaceSize {
  uint32_t bytes;
  uint32_t rowBytes;
  uint32_t rows;
};

// False when the level's byte count does not fit in 32 bits; `size` is then
// left as it was.
bool SurfaceInfo(uint32_t width, uint32_t height, uint32_t format, SurfaceSize* size);

// Width or height of mip level `level`: never below 1.
uint32_t LevelExtent(uint32_t extent, uint32_t level);

// Levels stored in the file: dwMipMapCount, with 0 counting as 1.
uint32_t StoredLevelCount(const DdsHeader& header);

// Levels of a full mip chain down to 1x1.
uint32_t FullChainLevelCount(uint32_t width, uint32_t height);

// No texture has more levels: a 32-bit extent halves to 1 in 31 steps.
constexpr uint32_t kMaxLevels = 32;

// D3DX_DEFAULT_NONPOW2: as a width or height, the file's own side.
constexpr uint32_t kD3dxDefaultNonPow2 = 0xFFFFFFFE;

// Whether a width or height argument of the Ex call asks for the file's own
// `side`, which the direct path makes: 0 or D3DX_DEFAULT (the direct path
// keeps a file's size where D3DX would round it up to a power of two), or
// D3DX_DEFAULT_NONPOW2 on a side that is a power of two (the same texture as
// D3DX_DEFAULT gives).
bool TakesSizeArgument(uint32_t argument, uint32_t side);

// Levels that a D3DX MipFilter asks to leave out at the top of a DDS file
// (D3DX_SKIP_DDS_MIP_LEVELS): none for D3DX_DEFAULT, and none unless the
// file stores more levels than that.
uint32_t SkippedLevels(uint32_t mipFilter, uint32_t storedLevels);

// Makes stored level `skip` the file's level 0: the header's size and level
// count and the pixel data are moved on. False, with `file` unchanged, when
// the file lacks the bytes of the skipped levels or a side would shrink to 0.
bool SkipLevels(DdsFile* file, uint32_t skip);

// True when `available` bytes hold `levels` levels of the given level-0 size
// and format, one behind the other; false for more than kMaxLevels levels.
bool LevelsFit(uint32_t width, uint32_t height, uint32_t format, uint32_t levels, uint32_t available);
