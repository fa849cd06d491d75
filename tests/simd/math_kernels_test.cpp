#include "simd/math_kernels.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "math_checks.h"
#include "simd/cpu_features.h"

namespace {

bool ProcessorHas(uint32_t feature) { return (DetectCpuFeatures(ExecuteCpuid).leaf1Ecx & feature) != 0; }

struct ProductKernel {
  const char* name;
  uint32_t feature;  // 0 when SSE2 is enough
  void (*kernel)(const float* a, const float* b, float* result);
};

struct BoxKernel {
  const char* name;
  uint32_t feature;
  bool (*kernel)(const float* box, const float* planes);
};

const ProductKernel kMatrixKernels[] = {{"MatrixProductSsse3", kCpuSsse3, MatrixProductSsse3},
                                        {"MatrixProductSse2", 0, MatrixProductSse2}};
const ProductKernel kTransformKernels[] = {{"TransformProductSsse3", kCpuSsse3, TransformProductSsse3},
                                           {"TransformProductSse2", 0, TransformProductSse2}};
const BoxKernel kBoxKernels[] = {{"BoxPlanesSse41", kCpuSse41, BoxPlanesSse41},
                                 {"BoxPlanesSse2", 0, BoxPlanesSse2}};

template <typename Check>
void ForEachProductKernel(const ProductKernel (&kernels)[2], Check check) {
  for (const auto& k : kernels) {
    if (k.feature != 0 && !ProcessorHas(k.feature)) {
      std::printf("%s not checked: this processor lacks its extension\n", k.name);
      continue;
    }
    SCOPED_TRACE(k.name);
    auto kernel = k.kernel;
    check([kernel](const float* a, float* result, const float* b) {
      kernel(a, b, result);
      return result;
    });
  }
}

template <typename Check>
void ForEachBoxKernel(Check check) {
  for (const auto& k : kBoxKernels) {
    if (k.feature != 0 && !ProcessorHas(k.feature)) {
      std::printf("%s not checked: this processor lacks its extension\n", k.name);
      continue;
    }
    SCOPED_TRACE(k.name);
    check(BoxCall(k.kernel));
  }
}

TEST(MatrixKernels, EdgeCases) { ForEachProductKernel(kMatrixKernels, CheckMatrixEdgeCases); }
TEST(MatrixKernels, AgreeWithScalarReference) {
  ForEachProductKernel(kMatrixKernels,
                       [](const ProductCall& call) { CheckMatrixAgainstReference(call, 20000); });
}
TEST(MatrixKernels, ResultOverlappingAnOperand) { ForEachProductKernel(kMatrixKernels, CheckMatrixOverlap); }
TEST(MatrixKernels, TouchOnlyTheirRecords) {
  ForEachProductKernel(kMatrixKernels, CheckMatrixStaysInRecords);
}

TEST(TransformKernels, EdgeCases) { ForEachProductKernel(kTransformKernels, CheckTransformEdgeCases); }
TEST(TransformKernels, AgreeWithScalarReference) {
  ForEachProductKernel(kTransformKernels,
                       [](const ProductCall& call) { CheckTransformAgainstReference(call, 20000); });
}
TEST(TransformKernels, ResultOverlappingAnOperand) {
  ForEachProductKernel(kTransformKernels, CheckTransformOverlap);
}
TEST(TransformKernels, TouchOnlyTheirRecords) {
  ForEachProductKernel(kTransformKernels, CheckTransformStaysInRecords);
}

TEST(BoxKernels, EdgeCases) { ForEachBoxKernel(CheckBoxEdgeCases); }
TEST(BoxKernels, AgreeWithScalarReference) {
  ForEachBoxKernel([](const BoxCall& call) { CheckBoxAgainstReference(call, 20000); });
}
TEST(BoxKernels, ReadOnlyTheirRecords) { ForEachBoxKernel(CheckBoxStaysInRecords); }

}  // namespace
