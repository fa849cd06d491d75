#include "simd/math_replacements.h"

#include "simd/cpu_features.h"
#include "simd/math_kernels.h"

// flatten keeps each entry point a leaf routine: the kernels are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"

__attribute__((target("ssse3"), flatten)) float* __thiscall MatrixMultiplySsse3(const float* a, float* result,
                                                                                const float* b) {
  MatrixProductSsse3(a, b, result);
  return result;
}

__attribute__((flatten)) float* __thiscall MatrixMultiplySse2(const float* a, float* result, const float* b) {
  MatrixProductSse2(a, b, result);
  return result;
}

__attribute__((target("ssse3"), flatten)) float* __thiscall TransformMultiplySsse3(const float* a,
                                                                                   float* result,
                                                                                   const float* b) {
  TransformProductSsse3(a, b, result);
  return result;
}

__attribute__((flatten)) float* __thiscall TransformMultiplySse2(const float* a, float* result,
                                                                 const float* b) {
  TransformProductSse2(a, b, result);
  return result;
}

__attribute__((target("sse4.1"), flatten)) bool __thiscall BoxPlanesTestSse41(const float* box,
                                                                              const float* planes) {
  return BoxPlanesSse41(box, planes);
}

__attribute__((flatten)) bool __thiscall BoxPlanesTestSse3(const float* box, const float* planes) {
  return BoxPlanesSse2(box, planes);
}

#pragma GCC diagnostic pop

MathReplacements SelectMathReplacements(uint32_t leaf1Ecx) {
  const bool ssse3 = (leaf1Ecx & kCpuSsse3) != 0;
  const bool sse41 = (leaf1Ecx & kCpuSse41) != 0;
  return {ssse3 ? MatrixMultiplySsse3 : MatrixMultiplySse2,
          ssse3 ? TransformMultiplySsse3 : TransformMultiplySse2,
          sse41 ? BoxPlanesTestSse41 : BoxPlanesTestSse3};
}
