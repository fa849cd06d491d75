#pragma once

// What a texture creation call does with a DDS file, judged from the file's
// bytes and the call alone, with the same header, format, level and size
// checks the direct texture path makes. Where the path asks the device, the
// verdict assumes a typical Direct3D 9 device (the one Wine provides): it
// makes textures of the formats listed in dds_verdict.cpp and of no other,
// block-compressed ones only when level 0 is a multiple of 4 in both
// directions, and it refuses 24-bit RGB, which the path therefore widens.

#include <cstdint>

enum DdsReason : uint32_t {
  DdsServed,            // in the file's own format, every level copied
  DdsServedWidened,     // 24-bit RGB widened to 32-bit ARGB
  DdsNotDds,            // no "DDS " magic
  DdsDamagedHeader,     // a header or pixel format record of the wrong size
  DdsShortData,         // fewer bytes than the header's levels need
  DdsDx10Header,        // the extended header: formats only D3DX reads
  DdsCubeMap,           //
  DdsVolume,            // a volume, or other dwCaps2 flags
  DdsDepth,             // DDSD_DEPTH in dwFlags
  DdsFormat,            // a pixel format the direct path does not know
  DdsDeviceFormat,      // a format the device makes no textures of
  DdsDxtSize,           // block-compressed, level 0 not a multiple of 4
  DdsZeroSize,          // a width or height of 0 (also after skipped levels)
  DdsPartialChain,      // stored levels other than the full chain down to 1x1
  DdsRefusedArguments,  // the call asks for something the direct path does not do
  DdsReasonCount
};

// A texture creation call. The plain call takes the file as it is into the
// managed pool; the Ex call's arguments are those of
// D3DXCreateTextureFromFileInMemoryEx (0xFFFFFFFF is D3DX_DEFAULT).
struct DdsCall {
  bool ex = false;
  uint32_t width = 0xFFFFFFFF;
  uint32_t height = 0xFFFFFFFF;
  uint32_t mipLevels = 0xFFFFFFFF;
  uint32_t usage = 0;
  uint32_t format = 0;              // D3DFMT_UNKNOWN: the file's own
  uint32_t pool = 1;                // D3DPOOL_MANAGED
  uint32_t mipFilter = 0xFFFFFFFF;  // bits 26-30: stored levels to skip
  uint32_t colorKey = 0;
  bool palette = false;
};

struct DdsVerdict {
  DdsReason reason = DdsNotDds;
  uint32_t format = 0;  // the file's D3DFORMAT, 0 when unknown
  uint32_t fourCc = 0;  // the pixel format's four-character code, when it has one
  uint32_t width = 0, height = 0;
  uint32_t storedLevels = 0;
  uint32_t fullChainLevels = 0;
  // The texture when served: format, size of level 0, the level count it
  // reports (1 when the device generates the smaller levels) and the bytes
  // of all its levels.
  uint32_t textureFormat = 0;
  uint32_t textureWidth = 0, textureHeight = 0;
  uint32_t textureLevels = 0;
  uint64_t textureBytes = 0;
};

DdsVerdict JudgeDds(const void* data, uint32_t size, const DdsCall& call);

bool IsServed(DdsReason reason);

// Short lower-case text for reports ("partial chain").
const char* DdsReasonName(DdsReason reason);
