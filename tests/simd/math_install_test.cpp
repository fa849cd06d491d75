// The math installer and remover against a recording stand-in of the
// patching engine: the three sites in order, the variants this processor
// gets, and the remover naming exactly what the installer attached.

#include "simd/math_install.h"

#include <gtest/gtest.h>

#include <vector>

#include "patching/patching.h"
#include "simd/cpu_features.h"
#include "simd/math_replacements.h"
#include "simd/math_sites.h"

namespace {

struct PatchCall {
  bool attach;
  PatchSite* site;
  void* replacement;
  bool operator==(const PatchCall& other) const {
    return attach == other.attach && site == other.site && replacement == other.replacement;
  }
};

std::vector<PatchCall> calls;

void* Address(MatrixMultiplyFunction f) { return reinterpret_cast<void*>(f); }
void* Address(BoxPlanesTestFunction f) { return reinterpret_cast<void*>(f); }

std::vector<PatchCall> Expected(bool attach) {
  const MathReplacements chosen = SelectMathReplacements(CpuFeatures.leaf1Ecx);
  return {{attach, &MatrixMultiplySite, Address(chosen.matrixMultiply)},
          {attach, &TransformMultiplySite, Address(chosen.transformMultiply)},
          {attach, &BoxPlanesTestSite, Address(chosen.boxPlanesTest)}};
}

TEST(MathInstall, AttachesThenDetachesTheSameVariants) {
  calls.clear();
  InstallMathReplacements();
  EXPECT_EQ(calls, Expected(true));
  calls.clear();
  RemoveMathReplacements();
  EXPECT_EQ(calls, Expected(false));
  // The sites still name the game's routines: the engine, not the
  // installer, changes them.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(MatrixMultiplySite), game::kMatrixMultiply);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TransformMultiplySite), game::kTransformMultiply);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(BoxPlanesTestSite), game::kBoxPlanesTest);
}

}  // namespace

// Refusals are ignored by the installer; these report one to prove it.
LONG PatchAttach(PatchSite* site, void* replacement) {
  calls.push_back({true, site, replacement});
  return ERROR_INVALID_OPERATION;
}

LONG PatchDetach(PatchSite* site, void* replacement) {
  calls.push_back({false, site, replacement});
  return ERROR_INVALID_OPERATION;
}
