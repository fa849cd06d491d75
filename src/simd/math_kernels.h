#pragma once

// SIMD kernels of the game's 3x3 matrix product, transform composition and
// box-against-planes test, on the game's records of single-precision floats.
// They are inline so that the game-facing entry points (math_replacements.h)
// compile into leaf routines; the SSSE3 and SSE4.1 kernels carry their own
// target attribute, everything else needs only SSE2.
//
// Every product and sum is rounded on its own, in the order of the game's
// formulas, so each kernel matches the scalar arithmetic bit for bit. Every
// input is read before the first store, so a result that overlaps an operand
// is still right. Records are not assumed to be aligned.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// Matrix: 9 floats, element (r, c) at index 3r + c.
constexpr size_t kMatrixFloats = 9;
// Transform: rotation matrix, translation (x, y, z), uniform scale.
constexpr size_t kTransformFloats = 13;
constexpr size_t kTransformTranslation = 9;
constexpr size_t kTransformScale = 12;
// Box record: centre C and half-sizes E as 4-float vectors; floats 0-3 unused.
constexpr size_t kBoxCentre = 4;
constexpr size_t kBoxExtent = 8;
constexpr size_t kBoxFloats = 12;
// Planes record: six planes (nx, ny, nz, d), then a 32-bit mask whose bit i
// selects plane i.
constexpr size_t kPlaneCount = 6;
constexpr size_t kPlanesMask = 24;
constexpr size_t kPlanesFloats = 25;

namespace simd_detail {

template <int lane>
inline __m128 Broadcast(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(lane, lane, lane, lane));
}

// (x0 * row0 + x1 * row1) + x2 * row2, lane by lane.
inline __m128 Combine(__m128 x0, __m128 row0, __m128 x1, __m128 row1, __m128 x2, __m128 row2) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(x0, row0), _mm_mul_ps(x1, row1)), _mm_mul_ps(x2, row2));
}

// B's rows as vectors (lane 3 is don't-care), built from its first 36 bytes.
struct MatrixRows {
  __m128 row0, row1, row2;
};

// Loads read floats 0-3, 4-7 and 8: exactly the 36 bytes of the matrix.
struct MatrixLoads {
  __m128i lo, hi, last;
};

inline MatrixLoads LoadMatrix(const float* b) {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4)), _mm_castps_si128(_mm_load_ss(b + 8))};
}

// Rows 1 and 2 start at floats 3 and 6: byte-align two loads in one go.
__attribute__((target("ssse3"))) inline MatrixRows RowsAligned(__m128i lo, __m128i hi, __m128i next) {
  return {_mm_castsi128_ps(lo), _mm_castsi128_ps(_mm_alignr_epi8(hi, lo, 12)),
          _mm_castsi128_ps(_mm_alignr_epi8(next, hi, 8))};
}

// The same rows with SSE2 shifts and ORs.
inline MatrixRows RowsShifted(__m128i lo, __m128i hi, __m128i next) {
  return {_mm_castsi128_ps(lo), _mm_castsi128_ps(_mm_or_si128(_mm_srli_si128(lo, 12), _mm_slli_si128(hi, 4))),
          _mm_castsi128_ps(_mm_or_si128(_mm_srli_si128(hi, 8), _mm_slli_si128(next, 8)))};
}

inline __m128 MatrixRow(const float* a, const MatrixRows& b) {
  return Combine(_mm_set1_ps(a[0]), b.row0, _mm_set1_ps(a[1]), b.row1, _mm_set1_ps(a[2]), b.row2);
}

inline void MatrixProduct(const float* a, const MatrixRows& b, float* result) {
  const __m128 row0 = MatrixRow(a, b);
  const __m128 row1 = MatrixRow(a + 3, b);
  const __m128 row2 = MatrixRow(a + 6, b);
  // Ordinary stores, exactly the 36 bytes of the result: rows 0 and 1 as 16
  // bytes each (row 1 overwrites row 0's spare lane), row 2 as 8 + 4 bytes.
  // Masked non-temporal stores would be weakly ordered against the game's
  // later stores and bypass the cache the caller reads the result from.
  _mm_storeu_ps(result, row0);
  _mm_storeu_ps(result + 3, row1);
  _mm_storel_pi(reinterpret_cast<__m64*>(result + 6), row2);
  _mm_store_ss(result + 8, _mm_movehl_ps(row2, row2));
}

struct TransformLoads {
  __m128i lo, hi, tail;  // floats 0-3, 4-7, 8-11
  __m128 scale;          // float 12
};

inline TransformLoads LoadTransform(const float* t) {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8)), _mm_load_ss(t + kTransformScale)};
}

inline void TransformProduct(const TransformLoads& a, const TransformLoads& b, const MatrixRows& bRows,
                             float* result) {
  const __m128 a0 = _mm_castsi128_ps(a.lo);    // R00 R01 R02 R10
  const __m128 a1 = _mm_castsi128_ps(a.hi);    // R11 R12 R20 R21
  const __m128 a2 = _mm_castsi128_ps(a.tail);  // R22 tx  ty  tz
  const __m128 bTail = _mm_castsi128_ps(b.tail);

  const __m128 rot0 =
      Combine(Broadcast<0>(a0), bRows.row0, Broadcast<1>(a0), bRows.row1, Broadcast<2>(a0), bRows.row2);
  const __m128 rot1 =
      Combine(Broadcast<3>(a0), bRows.row0, Broadcast<0>(a1), bRows.row1, Broadcast<1>(a1), bRows.row2);
  const __m128 rot2 =
      Combine(Broadcast<2>(a1), bRows.row0, Broadcast<3>(a1), bRows.row1, Broadcast<0>(a2), bRows.row2);

  // Columns of A's rotation: (R0k, R1k, R2k, don't-care).
  const __m128 col0 = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 2, 3, 0));
  const __m128 col1 =
      _mm_shuffle_ps(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(0, 0, 1, 1)), a1, _MM_SHUFFLE(3, 3, 2, 0));
  const __m128 col2 =
      _mm_shuffle_ps(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(1, 1, 2, 2)), a2, _MM_SHUFFLE(0, 0, 2, 0));
  const __m128 rotated =
      Combine(col0, Broadcast<1>(bTail), col1, Broadcast<2>(bTail), col2, Broadcast<3>(bTail));
  const __m128 aTranslation = _mm_shuffle_ps(a2, a2, _MM_SHUFFLE(3, 3, 2, 1));
  const __m128 translation = _mm_add_ps(_mm_mul_ps(rotated, Broadcast<0>(a.scale)), aTranslation);
  const __m128 scale = _mm_mul_ss(b.scale, a.scale);

  // Each 16-byte store's fourth lane is overwritten by the next store, so
  // exactly the 52 bytes of the result are written.
  _mm_storeu_ps(result, rot0);
  _mm_storeu_ps(result + 3, rot1);
  _mm_storeu_ps(result + 6, rot2);
  _mm_storeu_ps(result + kTransformTranslation, translation);
  _mm_store_ss(result + kTransformScale, scale);
}

inline uint32_t PlanesMask(const float* planes) {
  uint32_t mask;
  std::memcpy(&mask, planes + kPlanesMask, sizeof mask);
  return mask;
}

inline __m128 AbsoluteValues(__m128 v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff))); }

// Lane 0 of (p0 + p1) + p2 for p = x * y.
inline __m128 Dot3(__m128 x, __m128 y) {
  const __m128 p = _mm_mul_ps(x, y);
  return _mm_add_ss(_mm_add_ss(p, _mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1))), _mm_movehl_ps(p, p));
}

// The plane test: false when d > s. comiss orders NaN as "not greater".
inline bool PlaneFails(__m128 plane, __m128 a, __m128 b) {
  return _mm_comigt_ss(_mm_shuffle_ps(plane, plane, _MM_SHUFFLE(3, 3, 3, 3)), _mm_sub_ss(a, b)) != 0;
}

}  // namespace simd_detail

// result = a * b (3x3). B is read as two 16-byte loads and one 4-byte load.
__attribute__((target("ssse3"))) inline void MatrixProductSsse3(const float* a, const float* b,
                                                                float* result) {
  const simd_detail::MatrixLoads loads = simd_detail::LoadMatrix(b);
  simd_detail::MatrixProduct(a, simd_detail::RowsAligned(loads.lo, loads.hi, loads.last), result);
}

inline void MatrixProductSse2(const float* a, const float* b, float* result) {
  const simd_detail::MatrixLoads loads = simd_detail::LoadMatrix(b);
  simd_detail::MatrixProduct(a, simd_detail::RowsShifted(loads.lo, loads.hi, loads.last), result);
}

// result = a composed with b (b applied first): rotation a.R * b.R,
// translation (a.R * b.t) * a.s + a.t, scale b.s * a.s.
__attribute__((target("ssse3"))) inline void TransformProductSsse3(const float* a, const float* b,
                                                                   float* result) {
  const simd_detail::TransformLoads la = simd_detail::LoadTransform(a);
  const simd_detail::TransformLoads lb = simd_detail::LoadTransform(b);
  simd_detail::TransformProduct(la, lb, simd_detail::RowsAligned(lb.lo, lb.hi, lb.tail), result);
}

inline void TransformProductSse2(const float* a, const float* b, float* result) {
  const simd_detail::TransformLoads la = simd_detail::LoadTransform(a);
  const simd_detail::TransformLoads lb = simd_detail::LoadTransform(b);
  simd_detail::TransformProduct(la, lb, simd_detail::RowsShifted(lb.lo, lb.hi, lb.tail), result);
}

// True when the box lies on the side n.x >= d of every plane whose mask bit
// (0-5) is set; planes are read only when their bit is set.
__attribute__((target("sse4.1"))) inline bool BoxPlanesSse41(const float* box, const float* planes) {
  const __m128 centre = _mm_loadu_ps(box + kBoxCentre);
  const __m128 extent = _mm_loadu_ps(box + kBoxExtent);
  const uint32_t mask = simd_detail::PlanesMask(planes);
  for (size_t i = 0; i < kPlaneCount; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    const __m128 plane = _mm_loadu_ps(planes + 4 * i);
    // 0x71: multiply lanes 0-2, sum into lane 0.
    const __m128 a = _mm_dp_ps(plane, centre, 0x71);
    const __m128 b = _mm_dp_ps(simd_detail::AbsoluteValues(plane), extent, 0x71);
    if (simd_detail::PlaneFails(plane, a, b)) return false;
  }
  return true;
}

// The same test without SSE4.1 (and without SSE3: the odd lane is moved down
// with an SSE2 shuffle rather than movshdup).
inline bool BoxPlanesSse2(const float* box, const float* planes) {
  const __m128 centre = _mm_loadu_ps(box + kBoxCentre);
  const __m128 extent = _mm_loadu_ps(box + kBoxExtent);
  const uint32_t mask = simd_detail::PlanesMask(planes);
  for (size_t i = 0; i < kPlaneCount; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    const __m128 plane = _mm_loadu_ps(planes + 4 * i);
    const __m128 a = simd_detail::Dot3(plane, centre);
    const __m128 b = simd_detail::Dot3(simd_detail::AbsoluteValues(plane), extent);
    if (simd_detail::PlaneFails(plane, a, b)) return false;
  }
  return true;
}
