#pragma once

// Replacements of the game's matrix product, transform composition and
// box-against-planes test. They keep the game's member-function convention:
// the object (left operand, or the box) in ECX, the other arguments on the
// stack, removed by the callee (8, 8 and 4 bytes). The products return the
// result pointer in EAX, the box test its boolean in AL.

#include <cstdint>

// GCC gives free functions the thiscall convention exactly as asked, but
// warns that they are not class members.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"

using MatrixMultiplyFunction = float*(__thiscall*)(const float* a, float* result, const float* b);
using TransformMultiplyFunction = float*(__thiscall*)(const float* a, float* result, const float* b);
using BoxPlanesTestFunction = bool(__thiscall*)(const float* box, const float* planes);

__attribute__((target("ssse3"))) float* __thiscall MatrixMultiplySsse3(const float* a, float* result,
                                                                       const float* b);
float* __thiscall MatrixMultiplySse2(const float* a, float* result, const float* b);
__attribute__((target("ssse3"))) float* __thiscall TransformMultiplySsse3(const float* a, float* result,
                                                                          const float* b);
float* __thiscall TransformMultiplySse2(const float* a, float* result, const float* b);
__attribute__((target("sse4.1"))) bool __thiscall BoxPlanesTestSse41(const float* box, const float* planes);
// Written with SSE2 only, so it runs on every processor the plug-in runs on.
bool __thiscall BoxPlanesTestSse3(const float* box, const float* planes);

#pragma GCC diagnostic pop

// The variant of each routine for a processor, from the CPUID leaf-1 ECX
// word: SSSE3 (bit 9) for both products, SSE4.1 (bit 19) for the box test.
struct MathReplacements {
  MatrixMultiplyFunction matrixMultiply;
  TransformMultiplyFunction transformMultiply;
  BoxPlanesTestFunction boxPlanesTest;
};

MathReplacements SelectMathReplacements(uint32_t leaf1Ecx);
