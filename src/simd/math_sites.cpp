#include "simd/math_sites.h"

PatchSite MatrixMultiplySite = reinterpret_cast<PatchSite>(game::kMatrixMultiply);
PatchSite TransformMultiplySite = reinterpret_cast<PatchSite>(game::kTransformMultiply);
PatchSite BoxPlanesTestSite = reinterpret_cast<PatchSite>(game::kBoxPlanesTest);
