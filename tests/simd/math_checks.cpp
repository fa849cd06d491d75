#include "math_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "guarded_region.h"
#include "math_reference.h"

namespace {

uint32_t Bits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

float FromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Marks bytes that a routine must leave alone.
const float kSentinel = FromBits(0xDEADBEEF);
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

class RandomFloats {
 public:
  explicit RandomFloats(uint32_t seed) : engine_(seed) {}

  uint32_t Word() { return static_cast<uint32_t>(engine_()); }

  // Finite and non-zero, magnitudes 2^-30 to 2^31, either sign.
  float Finite() {
    const uint32_t bits = Word();
    const uint32_t exponent = 127 - 30 + (bits >> 24) % 62;
    return FromBits((bits & 0x80000000u) | exponent << 23 | (bits & 0x7fffff));
  }

  // Mostly finite; sometimes a signed zero, a subnormal, a value whose
  // products overflow, an infinity or a NaN.
  float Any() {
    const uint32_t bits = Word();
    const uint32_t sign = bits & 0x80000000u;
    switch (bits % 16) {
      case 0:
        return FromBits(sign);
      case 1:
        return FromBits(sign | (bits >> 4 & 0x7fffff) | 1);
      case 2:
        return FromBits(sign | (230 + bits % 25) << 23 | (bits >> 8 & 0x7fffff));
      case 3:
        return FromBits(sign | 0x7f800000u);
      case 4:
        return FromBits(sign | 0x7fc00000u | (bits >> 8 & 0x3fffff));
      default:
        return Finite();
    }
  }

 private:
  std::mt19937 engine_;
};

// Equal bit for bit; two NaNs count as equal (which operand's payload a NaN
// result carries is not part of the contract).
bool SameFloat(float x, float y) { return Bits(x) == Bits(y) || (std::isnan(x) && std::isnan(y)); }

void ExpectSameFloats(const float* actual, const float* expected, size_t count, const char* what) {
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(SameFloat(actual[i], expected[i]))
        << what << ": float " << i << " is " << actual[i] << " (0x" << std::hex << Bits(actual[i])
        << "), expected " << expected[i] << " (0x" << Bits(expected[i]) << ")" << std::dec;
  }
}

using Reference = void (*)(const float* a, const float* b, float* result);

// A result record inside a buffer of sentinels: the routine must fill
// exactly its floats and return its address.
void ExpectExactResult(const ProductCall& call, const float* a, const float* b, const float* expected,
                       size_t floats, const char* what) {
  std::vector<float> buffer(floats + 3, kSentinel);
  float* result = buffer.data() + 1;
  EXPECT_EQ(call(a, result, b), result) << what;
  ExpectSameFloats(result, expected, floats, what);
  EXPECT_EQ(Bits(buffer[0]), Bits(kSentinel)) << what << ": float before the result written";
  EXPECT_EQ(Bits(buffer[floats + 1]), Bits(kSentinel)) << what << ": float after the result written";
  EXPECT_EQ(Bits(buffer[floats + 2]), Bits(kSentinel)) << what << ": second float after the result written";
}

void CheckAgainstReference(const ProductCall& call, Reference reference, size_t floats, int count,
                           uint32_t seed) {
  RandomFloats random(seed);
  std::vector<float> a(floats), b(floats), expected(floats);
  for (int n = 0; n < count; ++n) {
    // Half the records are finite throughout, so that rounding differences
    // are not hidden behind infinities and NaNs.
    const bool special = n % 2 == 1;
    for (size_t i = 0; i < floats; ++i) {
      a[i] = special ? random.Any() : random.Finite();
      b[i] = special ? random.Any() : random.Finite();
    }
    reference(a.data(), b.data(), expected.data());
    ExpectExactResult(call, a.data(), b.data(), expected.data(), floats, "random operands");
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "first failing random case: " << n;
      return;
    }
  }
}

// The result placed over either operand, at every offset that overlaps it:
// the routine must give what a separate result record gets, and write
// nothing else.
void CheckOverlap(const ProductCall& call, Reference reference, size_t floats) {
  RandomFloats random(7);
  const long n = static_cast<long>(floats);
  for (int operand = 0; operand < 2; ++operand) {
    for (long shift = -(n - 1); shift <= n - 1; ++shift) {
      std::vector<float> buffer(3 * floats), other(floats);
      for (auto& f : buffer) f = random.Finite();
      for (auto& f : other) f = random.Finite();
      float* shared = buffer.data() + floats;
      const float* a = operand == 0 ? shared : other.data();
      const float* b = operand == 0 ? other.data() : shared;
      std::vector<float> expectedBuffer = buffer;
      std::vector<float> aCopy(a, a + floats), bCopy(b, b + floats);
      reference(aCopy.data(), bCopy.data(), expectedBuffer.data() + floats + shift);

      float* result = shared + shift;
      EXPECT_EQ(call(a, result, b), result);
      ExpectSameFloats(
          buffer.data(), expectedBuffer.data(), buffer.size(),
          operand == 0 ? "result overlapping the left operand" : "result overlapping the right operand");
      if (::testing::Test::HasFailure()) {
        ADD_FAILURE() << "operand " << operand << ", result shifted by " << shift << " floats";
        return;
      }
    }
  }
  // Both operands and the result are one record: an in-place square.
  std::vector<float> record(floats), copy(floats), expected(floats);
  for (auto& f : record) f = random.Finite();
  copy = record;
  reference(copy.data(), copy.data(), expected.data());
  call(record.data(), record.data(), record.data());
  ExpectSameFloats(record.data(), expected.data(), floats, "operands and result in one record");
}

// Operands and result against guard pages on either side: any access beyond
// a record faults.
void CheckStaysInRecords(const ProductCall& call, Reference reference, size_t floats) {
  GuardedRegion ra, rb, rr;
  const size_t bytes = floats * sizeof(float);
  RandomFloats random(11);
  for (int placement = 0; placement < 2; ++placement) {
    float* a = placement == 0 ? ra.EndingAtGuard(bytes) : ra.PageStart();
    float* b = placement == 0 ? rb.EndingAtGuard(bytes) : rb.PageStart();
    float* result = placement == 0 ? rr.EndingAtGuard(bytes) : rr.PageStart();
    for (size_t i = 0; i < floats; ++i) {
      a[i] = random.Finite();
      b[i] = random.Finite();
    }
    std::vector<float> expected(floats);
    reference(a, b, expected.data());
    EXPECT_EQ(call(a, result, b), result);
    ExpectSameFloats(
        result, expected.data(), floats,
        placement == 0 ? "records ending at a guard page" : "records starting after a guard page");
  }
}

// Box record: centre and half-sizes; the floats that the test must ignore
// (0-3 and the fourth of each vector) hold `junk`.
struct Box {
  float f[kBoxFloats];
  Box(float cx, float cy, float cz, float ex, float ey, float ez, float junk)
      : f{junk, junk, junk, junk, cx, cy, cz, junk, ex, ey, ez, junk} {}
};

struct Planes {
  float f[kPlanesFloats] = {};
  void Set(size_t i, float nx, float ny, float nz, float d) {
    f[4 * i] = nx;
    f[4 * i + 1] = ny;
    f[4 * i + 2] = nz;
    f[4 * i + 3] = d;
  }
  void SetMask(uint32_t mask) { std::memcpy(&f[kPlanesMask], &mask, sizeof mask); }
};

// The six inner sides of the cube [-10, 10]^3.
Planes CubeSides(uint32_t mask) {
  Planes planes;
  for (size_t axis = 0; axis < 3; ++axis) {
    float n[3] = {0, 0, 0};
    n[axis] = 1;
    planes.Set(2 * axis, n[0], n[1], n[2], -10);
    n[axis] = -1;
    planes.Set(2 * axis + 1, n[0], n[1], n[2], -10);
  }
  planes.SetMask(mask);
  return planes;
}

void CheckBoxEdgeCasesWithJunk(const BoxCall& call, float junk) {
  const Box inside(1, 2, 3, 1, 2, 3, junk);
  Planes cube = CubeSides(0x3f);
  EXPECT_TRUE(call(inside.f, cube.f)) << "box inside every plane";

  // A box touching a plane from the inside still passes; one reaching past
  // it by the smallest step fails.
  const Box touching(9, 0, 0, 1, 1, 1, junk);
  EXPECT_TRUE(call(touching.f, cube.f)) << "box touching x <= 10";
  const Box past(std::nextafter(9.0f, 10.0f), 0, 0, 1, 1, 1, junk);
  EXPECT_FALSE(call(past.f, cube.f)) << "box past x <= 10";

  // Straddling plane 2 (y >= 1): fails while its bit is set, passes without.
  Planes straddled = cube;
  straddled.Set(2, 0, 1, 0, 1);
  EXPECT_FALSE(call(inside.f, straddled.f)) << "box straddling plane 2";
  straddled.SetMask(0x3f & ~(1u << 2));
  EXPECT_TRUE(call(inside.f, straddled.f)) << "straddled plane not tested";
  straddled.SetMask(1u << 2);
  EXPECT_FALSE(call(inside.f, straddled.f)) << "only the straddled plane tested";

  // d equal to s passes, the next float above fails, for a slanted normal
  // whose s is rounded.
  const Box slanted(0.3f, -1.7f, 2.9f, 0.4f, 0.25f, 1.1f, junk);
  Planes edge;
  const float nx = 0.6f, ny = -0.64f, nz = 0.48f;
  edge.Set(4, nx, ny, nz, 0);
  const float s = reference::PlaneMinimum(slanted.f, edge.f + 16);
  edge.Set(4, nx, ny, nz, s);
  edge.SetMask(1u << 4);
  EXPECT_TRUE(call(slanted.f, edge.f)) << "d equal to s";
  edge.Set(4, nx, ny, nz, std::nextafter(s, kInf));
  EXPECT_FALSE(call(slanted.f, edge.f)) << "d one step above s";

  // NaN in d, in the normal or in the box: that plane passes.
  Planes nanPlane = straddled;
  nanPlane.SetMask(0x3f);
  nanPlane.Set(2, 0, 1, 0, kNaN);
  EXPECT_TRUE(call(inside.f, nanPlane.f)) << "NaN d";
  nanPlane.Set(2, 0, kNaN, 0, 1);
  EXPECT_TRUE(call(inside.f, nanPlane.f)) << "NaN normal";
  const Box nanBox(1, kNaN, 3, 1, 2, 3, junk);
  EXPECT_TRUE(call(nanBox.f, straddled.f)) << "NaN centre";
  Planes infinite = CubeSides(0x3f);
  infinite.Set(5, 0, 0, -1, kInf);
  EXPECT_FALSE(call(inside.f, infinite.f)) << "d = +inf";
  infinite.Set(5, 0, 0, -1, -kInf);
  EXPECT_TRUE(call(inside.f, infinite.f)) << "d = -inf";

  // Only bits 0-5 of the mask count.
  Planes failing;
  for (size_t i = 0; i < kPlaneCount; ++i) failing.Set(i, 1, 0, 0, 100);
  failing.SetMask(0);
  EXPECT_TRUE(call(inside.f, failing.f)) << "mask 0";
  failing.SetMask(0xFFFFFFC0u);
  EXPECT_TRUE(call(inside.f, failing.f)) << "mask 0xFFFFFFC0";
  for (uint32_t bit = 0; bit < kPlaneCount; ++bit) {
    failing.SetMask(0xFFFFFFC0u | 1u << bit);
    EXPECT_FALSE(call(inside.f, failing.f)) << "high bits and plane " << bit;
    Planes single = CubeSides(1u << bit | 0x80000000u);
    single.Set(bit, 1, 0, 0, 100);
    EXPECT_FALSE(call(inside.f, single.f)) << "only plane " << bit << " fails";
    single.SetMask(0x3f & ~(1u << bit));
    EXPECT_TRUE(call(inside.f, single.f)) << "every plane but the failing " << bit;
  }
}

}  // namespace

void CheckMatrixEdgeCases(const ProductCall& call) {
  RandomFloats random(1);
  const float identity[kMatrixFloats] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float b[kMatrixFloats];
  for (auto& f : b) f = random.Finite();
  ExpectExactResult(call, identity, b, b, kMatrixFloats, "identity times B");
  ExpectExactResult(call, b, identity, b, kMatrixFloats, "B times identity");

  const float a[kMatrixFloats] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const float c[kMatrixFloats] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  const float ac[kMatrixFloats] = {30, 24, 18, 84, 69, 54, 138, 114, 90};
  ExpectExactResult(call, a, c, ac, kMatrixFloats, "A times C");

  // Rounding order: with these magnitudes (1 + 2^24) - 2^24 is 0 in single
  // precision, 1 + (2^24 - 2^24) is 1.
  const float big = 16777216.0f;
  const float order[kMatrixFloats] = {1, big, -big, 0, 0, 0, 0, 0, 0};
  const float ones[kMatrixFloats] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  const float expected[kMatrixFloats] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  ExpectExactResult(call, order, ones, expected, kMatrixFloats, "sums left to right");
}

void CheckMatrixAgainstReference(const ProductCall& call, int count) {
  CheckAgainstReference(call, reference::MatrixProduct, kMatrixFloats, count, 2);
}

void CheckMatrixOverlap(const ProductCall& call) {
  CheckOverlap(call, reference::MatrixProduct, kMatrixFloats);
}

void CheckMatrixStaysInRecords(const ProductCall& call) {
  CheckStaysInRecords(call, reference::MatrixProduct, kMatrixFloats);
}

void CheckTransformEdgeCases(const ProductCall& call) {
  const float a[kTransformFloats] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 2, 3, 2};
  const float b[kTransformFloats] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 3};
  const float ab[kTransformFloats] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 3, 4, 5, 6};
  ExpectExactResult(call, a, b, ab, kTransformFloats, "translations and scales");

  // B applies first: its translation is turned by A's rotation (a quarter
  // turn about z) and scaled by A's scale.
  const float turn[kTransformFloats] = {0, -1, 0, 1, 0, 0, 0, 0, 1, 10, 0, 0, 2};
  const float shift[kTransformFloats] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 2, 3, 0.5f};
  const float turnShift[kTransformFloats] = {0, -1, 0, 1, 0, 0, 0, 0, 1, 6, 2, 6, 1};
  ExpectExactResult(call, turn, shift, turnShift, kTransformFloats, "B first, then A");
  const float shiftTurn[kTransformFloats] = {0, -1, 0, 1, 0, 0, 0, 0, 1, 6, 2, 3, 1};
  ExpectExactResult(call, shift, turn, shiftTurn, kTransformFloats, "A first, then B");
}

void CheckTransformAgainstReference(const ProductCall& call, int count) {
  CheckAgainstReference(call, reference::TransformProduct, kTransformFloats, count, 3);
}

void CheckTransformOverlap(const ProductCall& call) {
  CheckOverlap(call, reference::TransformProduct, kTransformFloats);
}

void CheckTransformStaysInRecords(const ProductCall& call) {
  CheckStaysInRecords(call, reference::TransformProduct, kTransformFloats);
}

void CheckBoxEdgeCases(const BoxCall& call) {
  for (float junk : {kNaN, 1e30f, -kInf}) {
    SCOPED_TRACE(::testing::Message() << "ignored floats hold " << junk);
    CheckBoxEdgeCasesWithJunk(call, junk);
  }
}

void CheckBoxAgainstReference(const BoxCall& call, int count) {
  RandomFloats random(5);
  for (int n = 0; n < count; ++n) {
    const bool special = n % 2 == 1;
    Box box(0, 0, 0, 0, 0, 0, random.Any());
    for (size_t i = 4; i < 7; ++i) box.f[i] = special ? random.Any() : random.Finite();
    // Half-sizes are mostly non-negative, as boxes have them.
    for (size_t i = 8; i < 11; ++i) {
      const float e = special ? random.Any() : random.Finite();
      box.f[i] = random.Word() % 8 == 0 ? e : std::fabs(e);
    }
    Planes planes;
    for (size_t i = 0; i < kPlaneCount; ++i) {
      for (size_t k = 0; k < 3; ++k) planes.f[4 * i + k] = special ? random.Any() : random.Finite();
      // d on, just above or anywhere around the plane's s, so the outcome
      // hangs on the exact rounding of s.
      const float s = reference::PlaneMinimum(box.f, planes.f + 4 * i);
      const uint32_t pick = random.Word() % 3;
      planes.f[4 * i + 3] = pick == 0 ? s : pick == 1 ? std::nextafter(s, kInf) : random.Any();
    }
    // Mostly low bits set, so that many planes are examined.
    const uint32_t high = random.Word() & 0xFFFFFFC0u;
    const uint32_t low = random.Word() % 4 == 0 ? random.Word() & 0x3f : 0x3f;
    planes.SetMask(high | low);
    const bool expected = reference::BoxPlanesTest(box.f, planes.f);
    EXPECT_EQ(call(box.f, planes.f), expected) << "random case " << n;
    planes.SetMask(low);
    EXPECT_EQ(call(box.f, planes.f), expected) << "random case " << n << " without high mask bits";
    if (::testing::Test::HasFailure()) return;
  }
}

void CheckBoxStaysInRecords(const BoxCall& call) {
  GuardedRegion boxes, planeRecords;
  const Box inside(1, 2, 3, 1, 2, 3, 0);
  const Planes cube = CubeSides(0x3f);
  Planes straddled = cube;
  straddled.Set(5, 0, 0, -1, 0);

  // Records ending at a guard page, then records starting after one.
  for (int placement = 0; placement < 2; ++placement) {
    float* box = placement == 0 ? boxes.EndingAtGuard(sizeof inside.f) : boxes.PageStart();
    float* planes = placement == 0 ? planeRecords.EndingAtGuard(sizeof cube.f) : planeRecords.PageStart();
    std::memcpy(box, inside.f, sizeof inside.f);
    std::memcpy(planes, cube.f, sizeof cube.f);
    EXPECT_TRUE(call(box, planes)) << "placement " << placement;
    std::memcpy(planes, straddled.f, sizeof straddled.f);
    EXPECT_FALSE(call(box, planes)) << "placement " << placement;
  }

  // The first 16 bytes of the box record are not read.
  float* box = boxes.StartingInGuard(4 * sizeof(float));
  std::memcpy(box + 4, inside.f + 4, sizeof inside.f - 4 * sizeof(float));
  float* planes = planeRecords.PageStart();
  std::memcpy(planes, straddled.f, sizeof straddled.f);
  EXPECT_FALSE(call(box, planes)) << "box record starting in a guard page";

  // With mask 0 no plane is read: the six planes lie in the guard page.
  planes = planeRecords.StartingInGuard(kPlanesMask * sizeof(float));
  const uint32_t zero = 0;
  std::memcpy(planes + kPlanesMask, &zero, sizeof zero);
  EXPECT_TRUE(call(box, planes)) << "mask 0 with unreadable planes";
}
