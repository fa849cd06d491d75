// SHA-256 blocks with the SHA extensions. The state travels as the two
// registers that SHA256RNDS2 works on: ABEF and CDGH (A in the high lane).

#include <immintrin.h>

#include "shadercache/sha256.h"
#include "shadercache/sha256_constants.h"

__attribute__((target("sha,ssse3,sse4.1"))) void Sha256BlocksExtensions(uint32_t state[8],
                                                                        const unsigned char* blocks,
                                                                        size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count != 0; --count, blocks += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    // w[g % 4] holds message words 4g..4g+3.
    __m128i w[4];
    for (int group = 0; group < 16; ++group) {
      __m128i& words = w[group & 3];
      if (group < 4) {
        words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * group)),
                                 byteSwap);
      } else {
        const __m128i& previous = w[(group + 3) & 3];
        const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(words, w[(group + 1) & 3]),
                                              _mm_alignr_epi8(previous, w[(group + 2) & 3], 4));
        words = _mm_sha256msg2_epu32(partial, previous);
      }
      const __m128i sum = _mm_add_epi32(
          words, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sum);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sum, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
