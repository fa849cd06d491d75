#include "dds_samples.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "dds_builder.h"

namespace {

struct FormatSample {
  const char* name;
  DdsPixelFormat pixelFormat;
};

DdsPixelFormat Luminance(uint32_t bits, uint32_t l, uint32_t a) {
  return {32, kDdpfLuminance | (a != 0 ? 0x1u : 0u), 0, bits, l, 0, 0, a};
}

const FormatSample kServedFormats[] = {
    {"a8r8g8b8", RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)},
    {"x8r8g8b8", RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 0)},
    {"a8b8g8r8", RgbPixelFormat(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)},
    {"x8b8g8r8", RgbPixelFormat(32, 0xFF, 0xFF00, 0xFF0000, 0)},
    {"a2r10g10b10", RgbPixelFormat(32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)},
    {"a2b10g10r10", RgbPixelFormat(32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000)},
    {"g16r16", RgbPixelFormat(32, 0xFFFF, 0xFFFF0000, 0, 0)},
    {"r32f-rgb", RgbPixelFormat(32, 0xFFFFFFFF, 0, 0, 0)},
    {"r5g6b5", RgbPixelFormat(16, 0xF800, 0x7E0, 0x1F, 0)},
    {"a1r5g5b5", RgbPixelFormat(16, 0x7C00, 0x3E0, 0x1F, 0x8000)},
    {"x1r5g5b5", RgbPixelFormat(16, 0x7C00, 0x3E0, 0x1F, 0)},
    {"a4r4g4b4", RgbPixelFormat(16, 0xF00, 0xF0, 0xF, 0xF000)},
    {"x4r4g4b4", RgbPixelFormat(16, 0xF00, 0xF0, 0xF, 0)},
    {"l8", Luminance(8, 0xFF, 0)},
    {"l16", Luminance(16, 0xFFFF, 0)},
    {"a8l8", Luminance(16, 0xFF, 0xFF00)},
    {"a8", {32, kDdpfAlpha, 0, 8, 0, 0, 0, 0xFF}},
    {"dxt1", FourCcPixelFormat(kFormatDxt1)},
    {"dxt2", FourCcPixelFormat(kFormatDxt2)},
    {"dxt3", FourCcPixelFormat(kFormatDxt3)},
    {"dxt4", FourCcPixelFormat(kFormatDxt4)},
    {"dxt5", FourCcPixelFormat(kFormatDxt5)},
    {"a16b16g16r16", FourCcPixelFormat(36)},
    {"q16w16v16u16", FourCcPixelFormat(110)},
    {"r16f", FourCcPixelFormat(111)},
    {"g16r16f", FourCcPixelFormat(112)},
    {"a16b16g16r16f", FourCcPixelFormat(113)},
    {"r32f", FourCcPixelFormat(114)},
    {"g32r32f", FourCcPixelFormat(115)},
    {"a32b32g32r32f", FourCcPixelFormat(116)},
};

// Known to the direct path, refused by the device.
const FormatSample kDeviceRefusedFormats[] = {
    {"a8r3g3b2", RgbPixelFormat(16, 0xE0, 0x1C, 0x3, 0xFF00)},
    {"a4l4", Luminance(8, 0xF, 0xF0)},
    {"rgbg", FourCcPixelFormat(MakeFourCc('R', 'G', 'B', 'G'))},
    {"grgb", FourCcPixelFormat(MakeFourCc('G', 'R', 'G', 'B'))},
    {"uyvy", FourCcPixelFormat(MakeFourCc('U', 'Y', 'V', 'Y'))},
    {"yuy2", FourCcPixelFormat(MakeFourCc('Y', 'U', 'Y', '2'))},
    {"cxv8u8", FourCcPixelFormat(117)},
};

DdsLayout Layout(DdsPixelFormat pixelFormat, uint32_t width, uint32_t height, uint32_t levels) {
  return {pixelFormat, width, height, levels};
}

DdsCall ExCall(uint32_t pool) {
  DdsCall call;
  call.ex = true;
  call.pool = pool;
  return call;
}

}  // namespace

std::vector<DdsSample> DdsSamples() {
  const DdsCall plain;
  std::vector<DdsSample> samples;
  for (const FormatSample& format : kServedFormats) {
    samples.push_back({format.name, MakeDdsWithMips(format.pixelFormat, 16, 8), plain, DdsServed});
  }
  for (const FormatSample& format : kDeviceRefusedFormats) {
    samples.push_back({format.name, MakeDdsWithMips(format.pixelFormat, 16, 8), plain, DdsDeviceFormat});
  }
  const std::vector<uint8_t> dxt1 = MakeDdsWithMips(Dxt1PixelFormat(), 64, 32);
  const std::vector<uint8_t> dxt1Top = MakeDds(Layout(Dxt1PixelFormat(), 64, 32, 1));
  samples.push_back({"dxt1-default-pool", dxt1, ExCall(0), DdsServed});
  samples.push_back({"r8g8b8", MakeDdsWithMips(R8G8B8PixelFormat(), 20, 12), plain, DdsServedWidened});
  samples.push_back(
      {"r8g8b8-top-level", MakeDds(Layout(R8G8B8PixelFormat(), 20, 12, 1)), plain, DdsServedWidened});
  samples.push_back({"dxt1-top-level-default-pool", dxt1Top, ExCall(0), DdsPartialChain});
  DdsCall skipOne = ExCall(0);
  skipOne.mipFilter = 1u << 26;
  samples.push_back({"dxt1-skip-one-level", dxt1, skipOne, DdsServed});
  for (auto [width, height] : {std::pair{1u, 1u}, {3u, 5u}, {6u, 6u}}) {
    samples.push_back({"dxt5-" + std::to_string(width) + "x" + std::to_string(height),
                       MakeDdsWithMips(Dxt5PixelFormat(), width, height), ExCall(width % 2), DdsDxtSize});
  }

  samples.push_back({"text", {'h', 'e', 'l', 'l', 'o'}, plain, DdsNotDds});
  std::vector<uint8_t> badMagic = dxt1;
  badMagic[3] = 'X';
  samples.push_back({"bad-magic", badMagic, plain, DdsNotDds});
  std::vector<uint8_t> badSize = dxt1;
  badSize[4] = 123;
  samples.push_back({"bad-header-size", badSize, plain, DdsDamagedHeader});
  samples.push_back({"header-cut", {dxt1.begin(), dxt1.begin() + 100}, plain, DdsShortData});
  samples.push_back({"last-level-cut", {dxt1.begin(), dxt1.end() - 1}, plain, DdsShortData});
  samples.push_back({"r8g8b8-cut", MakeDds(Layout(R8G8B8PixelFormat(), 20, 12, 1)), plain, DdsShortData});
  samples.back().bytes.pop_back();
  std::vector<uint8_t> rgbChainCut = MakeDdsWithMips(R8G8B8PixelFormat(), 64, 32);
  rgbChainCut.resize(rgbChainCut.size() - 21);
  samples.push_back({"r8g8b8-chain-cut", rgbChainCut, ExCall(0), DdsShortData});

  std::vector<uint8_t> dx10 = MakeDds(Layout(FourCcPixelFormat(kFourCcDx10), 8, 8, 1));
  samples.push_back({"dx10", dx10, plain, DdsDx10Header});
  samples.push_back({"dx10-cut", {dx10.begin(), dx10.begin() + 140}, plain, DdsDx10Header});

  DdsLayout cube = Layout(Dxt1PixelFormat(), 16, 16, 5);
  cube.caps2 = 0xFE00;
  samples.push_back({"cube-map", MakeDds(cube), plain, DdsCubeMap});
  DdsLayout volume = cube;
  volume.caps2 = 0x200000;
  samples.push_back({"volume", MakeDds(volume), plain, DdsVolume});
  DdsLayout depth = Layout(Dxt1PixelFormat(), 16, 16, 5);
  depth.flags |= kDdsDepthFlag;
  samples.push_back({"depth", MakeDds(depth), plain, DdsDepth});

  samples.push_back(
      {"ati2", MakeDdsWithMips(FourCcPixelFormat(MakeFourCc('A', 'T', 'I', '2')), 8, 8), plain, DdsFormat});
  samples.push_back({"unknown-masks", MakeDdsWithMips(RgbPixelFormat(32, 0xFF0000, 0xFF00, 0xFF, 1), 8, 8),
                     plain, DdsFormat});
  samples.push_back({"zero-width", MakeDds(Layout(Dxt1PixelFormat(), 0, 8, 1)), plain, DdsZeroSize});
  samples.push_back({"top-level-only", dxt1Top, plain, DdsPartialChain});
  samples.push_back({"top-level-only-ex", dxt1Top, ExCall(1), DdsPartialChain});
  std::vector<uint8_t> extraLevel = MakeDds(Layout(Dxt1PixelFormat(), 4, 4, 4));
  samples.push_back({"more-levels-than-chain", extraLevel, plain, DdsPartialChain});

  DdsCall usage = ExCall(1), systemMemory = ExCall(2), size = ExCall(1), levels = ExCall(0),
          format = ExCall(1), palette = ExCall(1), colorKey = ExCall(1);
  usage.usage = 0x200;  // D3DUSAGE_DYNAMIC
  palette.palette = true;
  size.width = 32;
  levels.mipLevels = 1;
  format.format = kFormatA8R8G8B8;
  colorKey.colorKey = 0xFF000000;
  for (const DdsCall& call : {usage, systemMemory, size, levels, format, palette, colorKey}) {
    samples.push_back({"refused-call-" + std::to_string(samples.size()), dxt1, call, DdsRefusedArguments});
  }
  return samples;
}
