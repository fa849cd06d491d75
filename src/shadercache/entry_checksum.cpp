#include "shadercache/entry_checksum.h"

#include <cstring>

namespace {

constexpr uint32_t kPrime1 = 0x9E3779B1u, kPrime2 = 0x85EBCA77u, kPrime3 = 0xC2B2AE3Du;
constexpr size_t kLanes = 8, kRoundBytes = kLanes * 4;

uint32_t Rotate(uint32_t value, int count) { return (value << count) | (value >> (32 - count)); }

uint32_t Word(const unsigned char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

uint32_t Step(uint32_t lane, uint32_t word) { return Rotate(lane + word * kPrime2, 13) * kPrime1; }

uint32_t Avalanche(uint32_t value) {
  value ^= value >> 15;
  value *= kPrime2;
  value ^= value >> 13;
  value *= kPrime3;
  return value ^ (value >> 16);
}

// All lanes into one word, each turned by its own count, then the rest of
// the bytes and the length.
uint32_t Finish(const uint32_t* lanes, const int* turns, const unsigned char* rest, size_t restBytes,
                uint32_t size) {
  uint32_t value = size;
  for (size_t i = 0; i < kLanes; ++i) value += Rotate(lanes[i], turns[i]);
  for (; restBytes >= 4; rest += 4, restBytes -= 4)
    value = Rotate(value + Word(rest) * kPrime3, 17) * kPrime1;
  for (; restBytes > 0; ++rest, --restBytes) value = Rotate(value + *rest * kPrime1, 11) * kPrime2;
  return Avalanche(value);
}

}  // namespace

uint64_t EntryChecksum(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  uint32_t lanes[kLanes];
  for (size_t i = 0; i < kLanes; ++i) lanes[i] = kPrime1 * static_cast<uint32_t>(i + 1) + kPrime3;
  const size_t whole = size - size % kRoundBytes;
  for (size_t at = 0; at < whole; at += kRoundBytes) {
    for (size_t i = 0; i < kLanes; ++i) lanes[i] = Step(lanes[i], Word(bytes + at + 4 * i));
  }
  static const int kLowTurns[kLanes] = {1, 7, 12, 18, 3, 9, 21, 27};
  static const int kHighTurns[kLanes] = {5, 14, 2, 25, 19, 8, 30, 11};
  const auto length = static_cast<uint32_t>(size);
  const uint64_t low = Finish(lanes, kLowTurns, bytes + whole, size - whole, length);
  const uint64_t high = Finish(lanes, kHighTurns, bytes + whole, size - whole, length ^ kPrime3);
  return high << 32 | low;
}
