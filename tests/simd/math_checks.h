#pragma once

// Checks shared by every implementation of the game's math routines: the
// pure kernels, the thiscall replacements and the stand-in game's own scalar
// routines. Each runs GoogleTest assertions against the scalar reference.

#include <functional>

// (left operand, result record, right operand) -> result pointer.
using ProductCall = std::function<float*(const float* a, float* result, const float* b)>;
// (box record, planes record) -> box lies on the inner side of every plane.
using BoxCall = std::function<bool(const float* box, const float* planes)>;

void CheckMatrixEdgeCases(const ProductCall& call);
void CheckMatrixAgainstReference(const ProductCall& call, int count);
void CheckMatrixOverlap(const ProductCall& call);
void CheckMatrixStaysInRecords(const ProductCall& call);

void CheckTransformEdgeCases(const ProductCall& call);
void CheckTransformAgainstReference(const ProductCall& call, int count);
void CheckTransformOverlap(const ProductCall& call);
void CheckTransformStaysInRecords(const ProductCall& call);

void CheckBoxEdgeCases(const BoxCall& call);
void CheckBoxAgainstReference(const BoxCall& call, int count);
void CheckBoxStaysInRecords(const BoxCall& call);
