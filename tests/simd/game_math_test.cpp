// The stand-in game's scalar routines, called at the game's addresses
// through the sites the math installer redirects: they must answer exactly
// what the scalar formulas (and so the replacements) answer.

#include "standin/game_math.h"

#include <gtest/gtest.h>

#include "math_checks.h"
#include "simd/math_sites.h"
#include "thiscall_calls.h"

namespace {

const void* PlacedAt(PatchSite site) {
  standin::PlaceGameMath();
  return site;
}

TEST(GameMath, SitesNameTheGameRoutines) {
  EXPECT_EQ(reinterpret_cast<uintptr_t>(MatrixMultiplySite), game::kMatrixMultiply);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TransformMultiplySite), game::kTransformMultiply);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(BoxPlanesTestSite), game::kBoxPlanesTest);
}

TEST(GameMatrixMultiply, EdgeCases) { CheckMatrixEdgeCases(ThiscallProduct(PlacedAt(MatrixMultiplySite))); }
TEST(GameMatrixMultiply, AgreesWithScalarReference) {
  CheckMatrixAgainstReference(ThiscallProduct(PlacedAt(MatrixMultiplySite)), 20000);
}
TEST(GameMatrixMultiply, ResultOverlappingAnOperand) {
  CheckMatrixOverlap(ThiscallProduct(PlacedAt(MatrixMultiplySite)));
}
TEST(GameMatrixMultiply, TouchesOnlyItsRecords) {
  CheckMatrixStaysInRecords(ThiscallProduct(PlacedAt(MatrixMultiplySite)));
}

TEST(GameTransformMultiply, EdgeCases) {
  CheckTransformEdgeCases(ThiscallProduct(PlacedAt(TransformMultiplySite)));
}
TEST(GameTransformMultiply, AgreesWithScalarReference) {
  CheckTransformAgainstReference(ThiscallProduct(PlacedAt(TransformMultiplySite)), 20000);
}
TEST(GameTransformMultiply, ResultOverlappingAnOperand) {
  CheckTransformOverlap(ThiscallProduct(PlacedAt(TransformMultiplySite)));
}
TEST(GameTransformMultiply, TouchesOnlyItsRecords) {
  CheckTransformStaysInRecords(ThiscallProduct(PlacedAt(TransformMultiplySite)));
}

TEST(GameBoxPlanesTest, EdgeCases) { CheckBoxEdgeCases(ThiscallBox(PlacedAt(BoxPlanesTestSite))); }
TEST(GameBoxPlanesTest, AgreesWithScalarReference) {
  CheckBoxAgainstReference(ThiscallBox(PlacedAt(BoxPlanesTestSite)), 20000);
}
TEST(GameBoxPlanesTest, ReadsOnlyItsRecords) {
  CheckBoxStaysInRecords(ThiscallBox(PlacedAt(BoxPlanesTestSite)));
}

}  // namespace
