#include "textures/copy_bytes.h"

#include <emmintrin.h>

#include <cstring>

#include "textures/vector_access.h"

namespace {

constexpr uint32_t kStepBytes = 128;

// Moves `blocks` 16-byte blocks: all loads first, then all stores.
template <bool kAligned, int kBlocks>
inline void MoveBlocks(uint8_t* destination, const uint8_t* source) {
  __m128i r[kBlocks];
  for (int i = 0; i < kBlocks; ++i) r[i] = LoadVector<kAligned>(source + 16 * i);
  for (int i = 0; i < kBlocks; ++i) StoreVector<kAligned>(destination + 16 * i, r[i]);
}

template <bool kAligned>
void CopyVector(uint8_t* destination, const uint8_t* source, uint32_t count) {
  // Prefetching past the end of the source is harmless: it never faults.
  _mm_prefetch(reinterpret_cast<const char*>(source), _MM_HINT_NTA);
  while (count >= kStepBytes) {
    _mm_prefetch(reinterpret_cast<const char*>(source + kStepBytes), _MM_HINT_NTA);
    MoveBlocks<kAligned, 8>(destination, source);
    destination += kStepBytes;
    source += kStepBytes;
    count -= kStepBytes;
  }
  if (count & 64) {
    MoveBlocks<kAligned, 4>(destination, source);
    destination += 64;
    source += 64;
  }
  if (count & 32) {
    MoveBlocks<kAligned, 2>(destination, source);
    destination += 32;
    source += 32;
  }
  if (count & 16) {
    MoveBlocks<kAligned, 1>(destination, source);
    destination += 16;
    source += 16;
  }
  std::memcpy(destination, source, count & 15);
}

}  // namespace

void CopyBytesSimd(void* destination, const void* source, uint32_t count) {
  auto* to = static_cast<uint8_t*>(destination);
  const auto* from = static_cast<const uint8_t*>(source);
  const auto toAddress = reinterpret_cast<uintptr_t>(to);
  if (((toAddress ^ reinterpret_cast<uintptr_t>(from)) & 15) != 0) {
    CopyVector<false>(to, from, count);
    return;
  }
  uint32_t head = static_cast<uint32_t>((0 - toAddress) & 15);
  if (head > count) head = count;
  std::memcpy(to, from, head);
  CopyVector<true>(to + head, from + head, count - head);
}
