#include "simd/math_replacements.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "math_checks.h"
#include "simd/cpu_features.h"
#include "thiscall_calls.h"

namespace {

bool ProcessorHas(uint32_t feature) { return (CpuFeatures.leaf1Ecx & feature) != 0; }

struct Variant {
  const char* name;
  uint32_t feature;  // 0 when SSE2 is enough
  const void* function;
};

const void* Address(MatrixMultiplyFunction f) { return reinterpret_cast<const void*>(f); }
const void* Address(BoxPlanesTestFunction f) { return reinterpret_cast<const void*>(f); }

const Variant kMatrixVariants[] = {{"MatrixMultiplySsse3", kCpuSsse3, Address(MatrixMultiplySsse3)},
                                   {"MatrixMultiplySse2", 0, Address(MatrixMultiplySse2)}};
const Variant kTransformVariants[] = {{"TransformMultiplySsse3", kCpuSsse3, Address(TransformMultiplySsse3)},
                                      {"TransformMultiplySse2", 0, Address(TransformMultiplySse2)}};
const Variant kBoxVariants[] = {{"BoxPlanesTestSse41", kCpuSse41, Address(BoxPlanesTestSse41)},
                                {"BoxPlanesTestSse3", 0, Address(BoxPlanesTestSse3)}};

template <typename Make, typename Check>
void ForEach(const Variant (&variants)[2], Make make, Check check) {
  for (const auto& v : variants) {
    if (v.feature != 0 && !ProcessorHas(v.feature)) {
      std::printf("%s not checked: this processor lacks its extension\n", v.name);
      continue;
    }
    SCOPED_TRACE(v.name);
    check(make(v.function));
  }
}

template <typename Check>
void ForEachProduct(const Variant (&variants)[2], Check check) {
  ForEach(variants, ThiscallProduct, check);
}

template <typename Check>
void ForEachBox(Check check) {
  ForEach(kBoxVariants, ThiscallBox, check);
}

TEST(MatrixMultiply, EdgeCases) { ForEachProduct(kMatrixVariants, CheckMatrixEdgeCases); }
TEST(MatrixMultiply, AgreesWithScalarReference) {
  ForEachProduct(kMatrixVariants, [](const ProductCall& call) { CheckMatrixAgainstReference(call, 20000); });
}
TEST(MatrixMultiply, ResultOverlappingAnOperand) { ForEachProduct(kMatrixVariants, CheckMatrixOverlap); }
TEST(MatrixMultiply, TouchesOnlyItsRecords) { ForEachProduct(kMatrixVariants, CheckMatrixStaysInRecords); }

TEST(TransformMultiply, EdgeCases) { ForEachProduct(kTransformVariants, CheckTransformEdgeCases); }
TEST(TransformMultiply, AgreesWithScalarReference) {
  ForEachProduct(kTransformVariants,
                 [](const ProductCall& call) { CheckTransformAgainstReference(call, 20000); });
}
TEST(TransformMultiply, ResultOverlappingAnOperand) {
  ForEachProduct(kTransformVariants, CheckTransformOverlap);
}
TEST(TransformMultiply, TouchesOnlyItsRecords) {
  ForEachProduct(kTransformVariants, CheckTransformStaysInRecords);
}

TEST(BoxPlanesTest, EdgeCases) { ForEachBox(CheckBoxEdgeCases); }
TEST(BoxPlanesTest, AgreesWithScalarReference) {
  ForEachBox([](const BoxCall& call) { CheckBoxAgainstReference(call, 20000); });
}
TEST(BoxPlanesTest, ReadsOnlyItsRecords) { ForEachBox(CheckBoxStaysInRecords); }

// Bit 9 (SSSE3) picks both products, bit 19 (SSE4.1) the box test; no other
// bit counts.
TEST(MathSelection, FeatureBitsPickTheVariants) {
  const struct {
    uint32_t word;
    bool ssse3;
    bool sse41;
  } cases[] = {
      {0, false, false},
      {kCpuSsse3, true, false},
      {kCpuSse41, false, true},
      {kCpuSsse3 | kCpuSse41, true, true},
      {0xFFFFFFFFu, true, true},
      {0xFFFFFFFFu & ~kCpuSsse3, false, true},
      {0xFFFFFFFFu & ~kCpuSse41, true, false},
      {0xFFFFFFFFu & ~(kCpuSsse3 | kCpuSse41), false, false},
      {kCpuSsse3 >> 1 | kCpuSsse3 << 1 | kCpuSse41 >> 1 | kCpuSse41 << 1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "leaf-1 ECX 0x" << std::hex << c.word);
    const MathReplacements chosen = SelectMathReplacements(c.word);
    EXPECT_EQ(chosen.matrixMultiply, c.ssse3 ? MatrixMultiplySsse3 : MatrixMultiplySse2);
    EXPECT_EQ(chosen.transformMultiply, c.ssse3 ? TransformMultiplySsse3 : TransformMultiplySse2);
    EXPECT_EQ(chosen.boxPlanesTest, c.sse41 ? BoxPlanesTestSse41 : BoxPlanesTestSse3);
  }
}

}  // namespace
