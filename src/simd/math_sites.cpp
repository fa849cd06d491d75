#include "simd/math_sites.h"

PatchSite MatrixMultiplySite = reinterpret_cast<PatchSite>(kGameMatrixMultiply);
PatchSite TransformMultiplySite = reinterpret_cast<PatchSite>(kGameTransformMultiply);
PatchSite BoxPlanesTestSite = reinterpret_cast<PatchSite>(kGameBoxPlanesTest);
