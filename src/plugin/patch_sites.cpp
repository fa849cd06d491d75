#include "plugin/patch_sites.h"

namespace {

PatchSite GameCode(uint32_t address) { return reinterpret_cast<PatchSite>(static_cast<uintptr_t>(address)); }

}  // namespace

PatchSite MatrixMultiplySite = GameCode(kMatrixMultiplyAddress);
PatchSite TransformMultiplySite = GameCode(kTransformMultiplyAddress);
PatchSite BoxPlanesTestSite = GameCode(kBoxPlanesTestAddress);
