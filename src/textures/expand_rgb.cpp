#include "textures/expand_rgb.h"

#include <emmintrin.h>
#include <tmmintrin.h>

#include "simd/cpu_features.h"
#include "textures/vector_access.h"

namespace {

constexpr uint32_t kGroupPixels = 16;
constexpr uint32_t kGroupSourceBytes = 3 * kGroupPixels;

void ExpandSingle(uint8_t* destination, const uint8_t* source, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    destination[4 * k] = source[3 * k];
    destination[4 * k + 1] = source[3 * k + 1];
    destination[4 * k + 2] = source[3 * k + 2];
    destination[4 * k + 3] = 0xFF;
  }
}

// Four pixels from 12 source bytes in bytes 0..11 of `block`: bytes 12..15
// are set to 0xFF, then each pixel's three bytes are followed by one of them.
__attribute__((target("ssse3"))) inline __m128i WidenSsse3(__m128i block) {
  const __m128i alpha = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1);
  const __m128i order = _mm_setr_epi8(0, 1, 2, 12, 3, 4, 5, 13, 6, 7, 8, 14, 9, 10, 11, 15);
  return _mm_shuffle_epi8(_mm_or_si128(block, alpha), order);
}

// The same from bytes 4..15 of `block`, with bytes 0..3 giving the alpha.
__attribute__((target("ssse3"))) inline __m128i WidenHighSsse3(__m128i block) {
  const __m128i alpha = _mm_setr_epi8(-1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i order = _mm_setr_epi8(4, 5, 6, 0, 7, 8, 9, 1, 10, 11, 12, 2, 13, 14, 15, 3);
  return _mm_shuffle_epi8(_mm_or_si128(block, alpha), order);
}

// The same with SSE2 only: each pixel is shifted to its place (0, 1, 2 and 3
// bytes up), masked, and the alpha bytes are or-ed in.
inline __m128i WidenSse2(__m128i block) {
  const __m128i pixel0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
  const __m128i pixel1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
  const __m128i pixel2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
  const __m128i pixel3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i p0 = _mm_and_si128(block, pixel0);
  const __m128i p1 = _mm_and_si128(_mm_slli_si128(block, 1), pixel1);
  const __m128i p2 = _mm_and_si128(_mm_slli_si128(block, 2), pixel2);
  const __m128i p3 = _mm_and_si128(_mm_slli_si128(block, 3), pixel3);
  return _mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(_mm_or_si128(p2, p3), alpha));
}

// The middle blocks are read unaligned from source bytes 12 and 24: one
// load instead of a byte-align of two blocks, measured faster (by 6-13%
// natively, and far more where SSSE3 is emulated). The last block is read
// from byte 32, so no group reads past its 48 bytes.
template <bool kAligned>
__attribute__((target("ssse3"))) void GroupsSsse3(uint8_t*& destination, const uint8_t*& source,
                                                  uint32_t groups) {
  for (; groups != 0; --groups) {
    _mm_prefetch(reinterpret_cast<const char*>(source + kGroupSourceBytes), _MM_HINT_NTA);
    const __m128i s0 = LoadVector<kAligned>(source);
    const __m128i s1 = LoadVector<false>(source + 12);
    const __m128i s2 = LoadVector<false>(source + 24);
    const __m128i s3 = LoadVector<kAligned>(source + 32);
    StoreVector<kAligned>(destination, WidenSsse3(s0));
    StoreVector<kAligned>(destination + 16, WidenSsse3(s1));
    StoreVector<kAligned>(destination + 32, WidenSsse3(s2));
    StoreVector<kAligned>(destination + 48, WidenHighSsse3(s3));  // source bytes 36..47
    source += kGroupSourceBytes;
    destination += 4 * kGroupPixels;
  }
}

template <bool kAligned>
void GroupsSse2(uint8_t*& destination, const uint8_t*& source, uint32_t groups) {
  for (; groups != 0; --groups) {
    _mm_prefetch(reinterpret_cast<const char*>(source + kGroupSourceBytes), _MM_HINT_NTA);
    const __m128i s0 = LoadVector<kAligned>(source);
    const __m128i s1 = LoadVector<kAligned>(source + 16);
    const __m128i s2 = LoadVector<kAligned>(source + 32);
    // Source bytes 12..27: the high dword of s0 below the low 12 bytes of s1.
    const __m128i b1 = _mm_or_si128(_mm_srli_si128(s0, 12), _mm_slli_si128(s1, 4));
    // Source bytes 24..39: the high half of s1 below the low half of s2.
    const __m128i b2 = _mm_unpacklo_epi64(_mm_srli_si128(s1, 8), s2);
    StoreVector<kAligned>(destination, WidenSse2(s0));
    StoreVector<kAligned>(destination + 16, WidenSse2(b1));
    StoreVector<kAligned>(destination + 32, WidenSse2(b2));
    StoreVector<kAligned>(destination + 48, WidenSse2(_mm_srli_si128(s2, 4)));
    source += kGroupSourceBytes;
    destination += 4 * kGroupPixels;
  }
}

bool BothAligned(const void* a, const void* b) {
  return ((reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b)) & 15) == 0;
}

}  // namespace

void ExpandRgbRowSsse3(void* destination, const void* source, uint32_t count) {
  auto* to = static_cast<uint8_t*>(destination);
  const auto* from = static_cast<const uint8_t*>(source);
  _mm_prefetch(reinterpret_cast<const char*>(from), _MM_HINT_NTA);
  if (BothAligned(to, from)) {
    GroupsSsse3<true>(to, from, count / kGroupPixels);
  } else {
    GroupsSsse3<false>(to, from, count / kGroupPixels);
  }
  ExpandSingle(to, from, count % kGroupPixels);
}

void ExpandRgbRowSse2(void* destination, const void* source, uint32_t count) {
  auto* to = static_cast<uint8_t*>(destination);
  const auto* from = static_cast<const uint8_t*>(source);
  _mm_prefetch(reinterpret_cast<const char*>(from), _MM_HINT_NTA);
  if (BothAligned(to, from)) {
    GroupsSse2<true>(to, from, count / kGroupPixels);
  } else {
    GroupsSse2<false>(to, from, count / kGroupPixels);
  }
  ExpandSingle(to, from, count % kGroupPixels);
}

ExpandRgbRowFunction SelectExpandRgbRow(uint32_t leaf1Ecx) {
  return (leaf1Ecx & kCpuSsse3) != 0 ? ExpandRgbRowSsse3 : ExpandRgbRowSse2;
}

ExpandRgbRowFunction ExpandRgbRow = ExpandRgbRowSse2;
