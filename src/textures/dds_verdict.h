#pragma once

// What the direct texture path does with a DDS file, judged from the file's
// bytes and the creation call alone, with the same header, format, level and
// size checks the load paths make. The device has the last word on formats
// and sizes it cannot create; 24-bit RGB is taken to be refused by it, as
// Direct3D 9 devices do, and so is widened.

#include <cstdint>

enum DdsReason : uint32_t {
  DdsServed,           // in the file's own format, every level copied
  DdsServedWidened,    // 24-bit RGB widened to 32-bit ARGB
  DdsServedConverted,  // block-compressed, converted by the device, levels generated
  DdsNotDds,           // no "DDS " magic or damaged header records
  DdsShortData,        // fewer bytes than the header's levels need
  DdsDx10Header,       // the extended header: formats only D3DX reads
  DdsCubeMap,
  DdsVolume,            // a volume, or other dwCaps2 flags
  DdsDepth,             // DDSD_DEPTH in dwFlags
  DdsFormat,            // a pixel format the fast path does not know
  DdsZeroSize,          // a width or height of 0
  DdsPartialChain,      // stored levels other than the full chain down to 1x1
  DdsRefusedArguments,  // the call asks for something the fast path does not do
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
  uint32_t format = 0;  // D3DFMT_UNKNOWN: the file's own
  uint32_t pool = 1;    // D3DPOOL_MANAGED
  bool palette = false;
};

struct DdsVerdict {
  DdsReason reason = DdsNotDds;
  uint32_t format = 0;  // the file's D3DFORMAT, 0 when unknown
  uint32_t width = 0, height = 0;
  uint32_t storedLevels = 0;
  uint32_t fullChainLevels = 0;
  uint32_t textureFormat = 0;  // what the texture is created in when served
  uint64_t textureBytes = 0;   // bytes of all its levels when served
};

DdsVerdict JudgeDds(const void* data, uint32_t size, const DdsCall& call);

bool IsServed(DdsReason reason);

// Short lower-case text for reports ("partial chain").
const char* DdsReasonName(DdsReason reason);
