#pragma once

// Scalar reference of the game's math routines: one single-precision
// operation at a time, in the order of the game's formulas.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "simd/math_kernels.h"

namespace reference {

inline void MatrixProduct(const float* a, const float* b, float* result) {
  float out[kMatrixFloats];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const float first = a[3 * i] * b[j];
      const float second = a[3 * i + 1] * b[3 + j];
      const float third = a[3 * i + 2] * b[6 + j];
      const float sum = first + second;
      out[3 * i + j] = sum + third;
    }
  }
  std::memcpy(result, out, sizeof out);
}

inline void TransformProduct(const float* a, const float* b, float* result) {
  float out[kTransformFloats];
  MatrixProduct(a, b, out);
  const float* bt = b + kTransformTranslation;
  const float as = a[kTransformScale];
  for (int i = 0; i < 3; ++i) {
    const float first = a[3 * i] * bt[0];
    const float second = a[3 * i + 1] * bt[1];
    const float third = a[3 * i + 2] * bt[2];
    const float sum = first + second;
    const float rotated = sum + third;
    const float scaled = rotated * as;
    out[kTransformTranslation + i] = scaled + a[kTransformTranslation + i];
  }
  out[kTransformScale] = b[kTransformScale] * as;
  std::memcpy(result, out, sizeof out);
}

// s of plane i: (n.C) - (|n|.E), each dot product summed left to right.
inline float PlaneMinimum(const float* box, const float* plane) {
  const float* c = box + kBoxCentre;
  const float* e = box + kBoxExtent;
  const float a = (plane[0] * c[0] + plane[1] * c[1]) + plane[2] * c[2];
  const float b = (std::fabs(plane[0]) * e[0] + std::fabs(plane[1]) * e[1]) + std::fabs(plane[2]) * e[2];
  return a - b;
}

inline bool BoxPlanesTest(const float* box, const float* planes) {
  uint32_t mask;
  std::memcpy(&mask, planes + kPlanesMask, sizeof mask);
  for (size_t i = 0; i < kPlaneCount; ++i) {
    if ((mask >> i & 1) == 0) continue;
    const float* plane = planes + 4 * i;
    if (plane[3] > PlaneMinimum(box, plane)) return false;
  }
  return true;
}

}  // namespace reference
