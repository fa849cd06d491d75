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
    "not a DDS file",
    "damaged header",
    "short data",
    "DX10 header",
    "cube map",
    "volume",
    "depth",
    "format",
    "format the device refuses",
    "DXT size not a multiple of 4",
    "zero size",
    "partial chain",
    "refused arguments",
};

// Formats of the direct path that the modelled device makes textures of
// (checked by creating them on Wine's Direct3D 9 device). It refuses A8R3G3B2,
// A4L4, CxV8U8 and the packed YUV and RGBG formats as it refuses R8G8B8.
constexpr uint32_t kDeviceFormats[] = {
    21,  22,  31,  32,  33,          34,          35,          23,          25,          24,
    26,  30,  50,  81,  51,          28,          36,          110,         111,         112,
    113, 114, 115, 116, kFormatDxt1, kFormatDxt2, kFormatDxt3, kFormatDxt4, kFormatDxt5,
};

bool DeviceTakes(uint32_t format) {
  for (uint32_t taken : kDeviceFormats) {
    if (taken == format) return true;
  }
  return false;
}

bool IsDefaultExtent(uint32_t value) { return value == 0 || value == kD3dxDefault; }

// The Ex call's own refusals, made before the file is looked at.
bool ArgumentsRefused(const DdsCall& call) {
  return call.ex &&
         (call.usage != 0 || call.palette || call.colorKey != 0 ||
          (call.pool != kPoolDefault && call.pool != kPoolManaged) || !IsDefaultExtent(call.mipLevels));
}

// Why ParseDdsHeader turned the file down.
DdsReason ParseRefusal(const uint8_t* data, uint32_t size) {
  if (size < 4 || std::memcmp(data, "DDS ", 4) != 0) return DdsNotDds;
  if (size < kDdsPixelsOffset) return DdsShortData;
  DdsHeader header;
  std::memcpy(&header, data + 4, sizeof header);
  if (header.size != kDdsHeaderSize || header.ddspf.size != kDdsPixelFormatSize) return DdsDamagedHeader;
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

DdsReason Served(DdsReason reason, uint32_t format, uint32_t levels, const DdsHeader& header,
                 DdsVerdict* verdict) {
  verdict->textureFormat = format;
  verdict->textureWidth = header.width;
  verdict->textureHeight = header.height;
  verdict->textureLevels = levels;
  verdict->textureBytes = ChainBytes(header.width, header.height, format);
  return reason;
}

// The load paths on a known 2D format, after the call's skipped levels.
DdsReason LevelsVerdict(const DdsFile& file, uint32_t format, DdsVerdict* verdict) {
  const DdsHeader& header = file.header;
  const uint32_t width = header.width, height = header.height;
  const uint32_t levels = StoredLevelCount(header);
  if (width == 0 || height == 0) return DdsZeroSize;
  if (!LevelsFit(width, height, format, levels, file.pixelBytes)) return DdsShortData;
  const bool chain = levels == FullChainLevelCount(width, height);
  // The device refuses 24-bit RGB: every stored level of a whole chain is
  // widened, else level 0 and the device generates the rest.
  if (format == kFormatR8G8B8)
    return Served(DdsServedWidened, kFormatA8R8G8B8, chain ? levels : 1, header, verdict);
  if (!chain) return DdsPartialChain;
  if (!DeviceTakes(format)) return DdsDeviceFormat;
  if (IsBlockCompressed(format) && (width % 4 != 0 || height % 4 != 0)) return DdsDxtSize;
  return Served(DdsServed, format, levels, header, verdict);
}

DdsReason Decide(DdsFile file, const DdsCall& call, DdsVerdict* verdict) {
  const DdsHeader& header = file.header;
  const uint32_t format = verdict->format;
  if (call.ex &&
      ((call.format != 0 && call.format != format) || !TakesSizeArgument(call.width, header.width) ||
       !TakesSizeArgument(call.height, header.height))) {
    return DdsRefusedArguments;
  }
  if ((header.caps2 & kCaps2CubeMap) != 0) return DdsCubeMap;
  if (header.caps2 != 0) return DdsVolume;
  if ((header.flags & kDdsDepthFlag) != 0) return DdsDepth;
  if (format == kFormatUnknown) return verdict->fourCc == kFourCcDx10 ? DdsDx10Header : DdsFormat;
  if (call.ex) {
    const uint32_t skip = SkippedLevels(call.mipFilter, verdict->storedLevels);
    if (!SkipLevels(&file, skip)) {
      return (header.width >> skip) == 0 || (header.height >> skip) == 0 ? DdsZeroSize : DdsShortData;
    }
  }
  return LevelsVerdict(file, format, verdict);
}

}  // namespace

bool IsServed(DdsReason reason) { return reason == DdsServed || reason == DdsServedWidened; }

const char* DdsReasonName(DdsReason reason) {
  return reason < DdsReasonCount ? kReasonNames[reason] : "unknown";
}

DdsVerdict JudgeDds(const void* data, uint32_t size, const DdsCall& call) {
  DdsVerdict verdict;
  DdsFile file;
  const bool parsed = ParseDdsHeader(data, size, &file);
  if (parsed) {
    const DdsHeader& header = file.header;
    verdict.format = FormatFromPixelFormat(header.ddspf);
    verdict.fourCc = (header.ddspf.flags & kDdpfFourCc) != 0 ? header.ddspf.fourCc : 0;
    verdict.width = header.width;
    verdict.height = header.height;
    verdict.storedLevels = StoredLevelCount(header);
    verdict.fullChainLevels = FullChainLevelCount(header.width, header.height);
  }
  if (ArgumentsRefused(call)) {
    verdict.reason = DdsRefusedArguments;
  } else if (!parsed) {
    verdict.reason = ParseRefusal(static_cast<const uint8_t*>(data), data == nullptr ? 0 : size);
  } else {
    verdict.reason = Decide(file, call, &verdict);
  }
  return verdict;
}
