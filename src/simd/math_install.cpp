#include "simd/math_install.h"

#include "base/feature_status.h"
#include "patching/patching.h"
#include "simd/cpu_features.h"
#include "simd/math_replacements.h"
#include "simd/math_sites.h"

// The engine's results are not checked: a refused redirection leaves the
// game's own routine in place, which computes the same values.
void InstallMathReplacements() {
  const MathReplacements chosen = SelectMathReplacements(CpuFeatures.leaf1Ecx);
  const bool ssse3 = chosen.matrixMultiply == MatrixMultiplySsse3;
  SetFeatureState(Feature::Math, FeatureState::Queued,
                  chosen.boxPlanesTest == BoxPlanesTestSse41
                      ? (ssse3 ? "MatrixMultiplySsse3, TransformMultiplySsse3, BoxPlanesTestSse41"
                               : "MatrixMultiplySse2, TransformMultiplySse2, BoxPlanesTestSse41")
                      : (ssse3 ? "MatrixMultiplySsse3, TransformMultiplySsse3, BoxPlanesTestSse3"
                               : "MatrixMultiplySse2, TransformMultiplySse2, BoxPlanesTestSse3"));
  PatchAttach(&MatrixMultiplySite, reinterpret_cast<void*>(chosen.matrixMultiply));
  PatchAttach(&TransformMultiplySite, reinterpret_cast<void*>(chosen.transformMultiply));
  PatchAttach(&BoxPlanesTestSite, reinterpret_cast<void*>(chosen.boxPlanesTest));
}

void RemoveMathReplacements() {
  const MathReplacements chosen = SelectMathReplacements(CpuFeatures.leaf1Ecx);
  PatchDetach(&MatrixMultiplySite, reinterpret_cast<void*>(chosen.matrixMultiply));
  PatchDetach(&TransformMultiplySite, reinterpret_cast<void*>(chosen.transformMultiply));
  PatchDetach(&BoxPlanesTestSite, reinterpret_cast<void*>(chosen.boxPlanesTest));
}
