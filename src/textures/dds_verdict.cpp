#include "textures/dds_verdict.h"

#include <cstring>

#include "textures/dds_format.h"

namespace {

constexpr uint32_t kD3dxDefault = 0xFFFFFFFF;
constexpr uint32_t kPoolDefault = 0, kPoolManaged = 1;
constexpr uint32_t kCaps2CubeMap = 0x200;

const char* const kReasonNames[DdsReasonCount] = {
    "served",
    "served widened",
    "served converted",
    "not a DDS file",
    "short data",
    "DX10 header",
    "cube map",
    "volume",
    "depth",
    "format",
    "zero size",
    "partial chain",
    "refused arguments",
};

bool IsDefaultExtent(uint32_t value) { return value == 0 || value == kD3dxDefault; }

bool ArgumentsRefused(const DdsCall& call) {
  return call.ex &&
         (call.usage != 0 || call.palette || (call.pool != kPoolDefault && call.pool != kPoolManaged) ||
          !IsDefaultExtent(call.width) || !IsDefaultExtent(call.height) || !IsDefaultExtent(call.mipLevels));
}

// Why ParseDdsHeader turned the file down.
DdsReason ParseRefusal(const uint8_t* data, uint32_t size) {
  if (size < 4 || std::memcmp(data, "DDS ", 4) != 0) return DdsNotDds;
  if (size < kDdsPixelsOffset) return DdsShortData;
  DdsHeader header;
  std::memcpy(&header, data + 4, sizeof header);
  if (header.size != kDdsHeaderSize || header.ddspf.size != kDdsPixelFormatSize) return DdsNotDds;
  return DdsDx10Header;  // the only other refusal: too short for the extended header
}

// Bytes of every level of a full chain.
uint64_t ChainBytes(uint32_t width, uint32_t height, uint32_t format) {
  uint64_t total = 0;
  for (uint32_t level = 0; level < FullChainLevelCount(width, height); ++level) {
    SurfaceSize size;
    if (SurfaceInfo(LevelExtent(width, level), LevelExtent(height, level), format, &size))
      total += size.bytes;
  }
  return total;
}

bool LevelZeroFits(uint32_t width, uint32_t height, uint32_t format, uint32_t available) {
  SurfaceSize size;
  return SurfaceInfo(width, height, format, &size) && size.bytes <= available;
}

// LoadAllLevels, with 24-bit RGB going to the widening path.
DdsReason LevelsRefusal(const DdsFile& file, uint32_t format) {
  const uint32_t width = file.header.width, height = file.header.height;
  if (width == 0 || height == 0) return DdsZeroSize;
  if (format == kFormatR8G8B8) {
    return LevelZeroFits(width, height, format, file.pixelBytes) ? DdsServedWidened : DdsShortData;
  }
  const uint32_t levels = StoredLevelCount(file.header);
  if (!LevelsFit(width, height, format, levels, file.pixelBytes)) return DdsShortData;
  if (levels != FullChainLevelCount(width, height)) return DdsPartialChain;
  return DdsServed;
}

}  // namespace

bool IsServed(DdsReason reason) {
  return reason == DdsServed || reason == DdsServedWidened || reason == DdsServedConverted;
}

const char* DdsReasonName(DdsReason reason) {
  return reason < DdsReasonCount ? kReasonNames[reason] : "unknown";
}

DdsVerdict JudgeDds(const void* data, uint32_t size, const DdsCall& call) {
  DdsVerdict verdict;
  if (ArgumentsRefused(call)) {
    verdict.reason = DdsRefusedArguments;
    return verdict;
  }
  DdsFile file;
  if (!ParseDdsHeader(data, size, &file)) {
    verdict.reason = ParseRefusal(static_cast<const uint8_t*>(data), data == nullptr ? 0 : size);
    return verdict;
  }
  const DdsHeader& header = file.header;
  const uint32_t format = FormatFromPixelFormat(header.ddspf);
  verdict.format = format;
  verdict.width = header.width;
  verdict.height = header.height;
  verdict.storedLevels = StoredLevelCount(header);
  verdict.fullChainLevels = FullChainLevelCount(header.width, header.height);

  if (call.ex && call.format != 0 && call.format != format) {
    verdict.reason = DdsRefusedArguments;
  } else if ((header.caps2 & kCaps2CubeMap) != 0) {
    verdict.reason = DdsCubeMap;
  } else if (header.caps2 != 0) {
    verdict.reason = DdsVolume;
  } else if ((header.flags & kDdsDepthFlag) != 0) {
    verdict.reason = DdsDepth;
  } else if (format == kFormatUnknown) {
    const bool dx10 = (header.ddspf.flags & kDdpfFourCc) != 0 && header.ddspf.fourCc == kFourCcDx10;
    verdict.reason = dx10 ? DdsDx10Header : DdsFormat;
  } else {
    verdict.reason = LevelsRefusal(file, format);
    // The Ex call in the default pool has the device convert level 0 of a
    // block-compressed file that the direct copy refused.
    if (!IsServed(verdict.reason) && verdict.reason != DdsZeroSize && call.ex && call.pool == kPoolDefault &&
        IsBlockCompressed(format) && LevelZeroFits(header.width, header.height, format, file.pixelBytes)) {
      verdict.reason = DdsServedConverted;
    }
  }
  if (IsServed(verdict.reason)) {
    verdict.textureFormat = verdict.reason == DdsServed ? format : kFormatA8R8G8B8;
    verdict.textureBytes = ChainBytes(header.width, header.height, verdict.textureFormat);
  }
  return verdict;
}
