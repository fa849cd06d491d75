// Any bytes as a DDS file: the header parse, the format and level decisions
// and their size arithmetic must neither read outside the file nor overflow,
// and a file judged servable must hold every level the texture gets.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "textures/dds_format.h"
#include "textures/dds_verdict.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckSurface(uint32_t width, uint32_t height, uint32_t format) {
  SurfaceSize size = {7, 7, 7};
  if (SurfaceInfo(width, height, format, &size)) {
    Require(static_cast<uint64_t>(size.rowBytes) * size.rows == size.bytes);
  } else {
    Require(size.bytes == 7 && size.rowBytes == 7 && size.rows == 7);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const auto size32 = static_cast<uint32_t>(size);
  DdsFile file;
  if (ParseDdsHeader(data, size32, &file)) {
    Require(file.pixels >= data && file.pixels + file.pixelBytes == data + size);
    const DdsHeader& header = file.header;
    const uint32_t format = FormatFromPixelFormat(header.ddspf);
    CheckSurface(header.width, header.height, format);
    CheckSurface(header.width, header.height, header.ddspf.fourCc);
    LevelsFit(header.width, header.height, format, header.mipMapCount, file.pixelBytes);
  }
  DdsCall plain, exDefaultPool, skipping;
  exDefaultPool.ex = skipping.ex = true;
  exDefaultPool.pool = 0;
  skipping.mipFilter = 2u << 26;  // two stored levels skipped
  skipping.width = kD3dxDefaultNonPow2;
  for (const DdsCall& call : {plain, exDefaultPool, skipping}) {
    const DdsVerdict verdict = JudgeDds(data, size32, call);
    Require(verdict.reason < DdsReasonCount);
    if (verdict.reason == DdsServed) {
      Require(LevelsFit(verdict.width, verdict.height, verdict.format, verdict.fullChainLevels, size32));
    }
  }
  return 0;
}
