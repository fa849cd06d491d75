#pragma once

#include <cstdint>

#include "patching/patching.h"
#include "simd/math_addresses.h"

extern PatchSite MatrixMultiplySite;
extern PatchSite TransformMultiplySite;
extern PatchSite BoxPlanesTestSite;
