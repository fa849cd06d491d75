#include "shadercache/sha256.h"

#include <cstring>

#include "shadercache/sha256_constants.h"
#include "simd/cpu_features.h"

namespace {

constexpr size_t kBlockBytes = 64;
constexpr size_t kLengthBytes = 8;

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t RotateRight(uint32_t value, int count) { return (value >> count) | (value << (32 - count)); }

inline uint32_t LoadBigEndian(const unsigned char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return __builtin_bswap32(word);
}

inline uint32_t SmallSigma0(uint32_t x) { return RotateRight(x, 7) ^ RotateRight(x, 18) ^ (x >> 3); }
inline uint32_t SmallSigma1(uint32_t x) { return RotateRight(x, 17) ^ RotateRight(x, 19) ^ (x >> 10); }

// One round with the working variables named in place: the callers rotate
// the names instead of moving eight values each round. `word` already holds
// the round constant added to the message word. The majority is taken as
// b ^ ((a ^ b) & (b ^ c)): this round's a ^ b is the next round's b ^ c, so
// the callers alternate two slots for it, and c is not needed.
inline void Round(uint32_t a, uint32_t b, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                  uint32_t word, uint32_t& bc, uint32_t& ab) {
  h += word + (g ^ (e & (f ^ g))) + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25));
  d += h;
  ab = a ^ b;
  h += (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + (b ^ (ab & bc));
}

// Message word `i` of a group of sixteen, plus its round constant. The ring
// holds the last sixteen words; from the second group on each word is first
// advanced by the message schedule.
template <int i, bool kSchedule>
inline uint32_t Word(uint32_t w[16], const uint32_t* k) {
  if (kSchedule) w[i] += SmallSigma1(w[(i + 14) & 15]) + w[(i + 9) & 15] + SmallSigma0(w[(i + 1) & 15]);
  return w[i] + k[i];
}

template <bool kSchedule>
inline void SixteenRounds(uint32_t v[8], uint32_t w[16], const uint32_t* k) {
  uint32_t a = v[0], b = v[1], c = v[2], d = v[3], e = v[4], f = v[5], g = v[6], h = v[7];
  uint32_t x = b ^ c, y;
  Round(a, b, d, e, f, g, h, Word<0, kSchedule>(w, k), x, y);
  Round(h, a, c, d, e, f, g, Word<1, kSchedule>(w, k), y, x);
  Round(g, h, b, c, d, e, f, Word<2, kSchedule>(w, k), x, y);
  Round(f, g, a, b, c, d, e, Word<3, kSchedule>(w, k), y, x);
  Round(e, f, h, a, b, c, d, Word<4, kSchedule>(w, k), x, y);
  Round(d, e, g, h, a, b, c, Word<5, kSchedule>(w, k), y, x);
  Round(c, d, f, g, h, a, b, Word<6, kSchedule>(w, k), x, y);
  Round(b, c, e, f, g, h, a, Word<7, kSchedule>(w, k), y, x);
  Round(a, b, d, e, f, g, h, Word<8, kSchedule>(w, k), x, y);
  Round(h, a, c, d, e, f, g, Word<9, kSchedule>(w, k), y, x);
  Round(g, h, b, c, d, e, f, Word<10, kSchedule>(w, k), x, y);
  Round(f, g, a, b, c, d, e, Word<11, kSchedule>(w, k), y, x);
  Round(e, f, h, a, b, c, d, Word<12, kSchedule>(w, k), x, y);
  Round(d, e, g, h, a, b, c, Word<13, kSchedule>(w, k), y, x);
  Round(c, d, f, g, h, a, b, Word<14, kSchedule>(w, k), x, y);
  Round(b, c, e, f, g, h, a, Word<15, kSchedule>(w, k), y, x);
  v[0] = a, v[1] = b, v[2] = c, v[3] = d, v[4] = e, v[5] = f, v[6] = g, v[7] = h;
}

Sha256BlockFunction ChosenBlockFunction() {
  const CpuFeatureRecord features = DetectCpuFeatures(ExecuteCpuid);
  return Sha256ExtensionsUsable(features.leaf1Ecx, features.leaf7Ebx) ? Sha256BlocksExtensions
                                                                      : Sha256BlocksPortable;
}

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const unsigned char* blocks, size_t count) {
  for (; count != 0; --count, blocks += kBlockBytes) {
    uint32_t w[16], v[8];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(blocks + 4 * i);
    std::memcpy(v, state, sizeof v);
    SixteenRounds<false>(v, w, kSha256RoundConstants);
    for (int group = 1; group < 4; ++group) SixteenRounds<true>(v, w, kSha256RoundConstants + 16 * group);
    for (int i = 0; i < 8; ++i) state[i] += v[i];
  }
}

bool Sha256ExtensionsUsable(uint32_t leaf1Ecx, uint32_t leaf7Ebx) {
  return (leaf7Ebx & kCpuSha) != 0 && (leaf1Ecx & kCpuSsse3) != 0 && (leaf1Ecx & kCpuSse41) != 0;
}

std::string Sha256DigestWith(Sha256BlockFunction blocks, const std::string& message) {
  uint32_t state[8];
  std::memcpy(state, kInitialState, sizeof state);

  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  const size_t whole = message.size() / kBlockBytes;
  blocks(state, bytes, whole);

  // The rest of the message, the 0x80 marker, zeros and the bit length fill
  // one or two final blocks.
  unsigned char tail[2 * kBlockBytes] = {};
  const size_t rest = message.size() - whole * kBlockBytes;
  std::memcpy(tail, bytes + whole * kBlockBytes, rest);
  tail[rest] = 0x80;
  const size_t tailBytes = rest + 1 + kLengthBytes <= kBlockBytes ? kBlockBytes : 2 * kBlockBytes;
  const uint64_t bitLength = static_cast<uint64_t>(message.size()) * 8;
  for (size_t i = 0; i < kLengthBytes; ++i)
    tail[tailBytes - 1 - i] = static_cast<unsigned char>(bitLength >> (8 * i));
  blocks(state, tail, tailBytes / kBlockBytes);

  std::string digest(32, '\0');
  for (size_t i = 0; i < 8; ++i) {
    for (size_t j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<char>(state[i] >> (24 - 8 * j));
  }
  return digest;
}

std::string Sha256Digest(std::string message) {
  static const Sha256BlockFunction blocks = ChosenBlockFunction();
  return Sha256DigestWith(blocks, message);
}
