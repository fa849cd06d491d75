#pragma once

#include <emmintrin.h>

#include <cstdint>

// 16-byte loads and stores, aligned or not as the caller has checked.
template <bool kAligned>
inline __m128i LoadVector(const uint8_t* at) {
  const auto* p = reinterpret_cast<const __m128i*>(at);
  return kAligned ? _mm_load_si128(p) : _mm_loadu_si128(p);
}

template <bool kAligned>
inline void StoreVector(uint8_t* at, __m128i value) {
  auto* p = reinterpret_cast<__m128i*>(at);
  if (kAligned) {
    _mm_store_si128(p, value);
  } else {
    _mm_storeu_si128(p, value);
  }
}
