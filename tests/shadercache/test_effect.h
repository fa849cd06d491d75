#pragma once

// Compiled effects for the tests: the smallest fx_2_0 effect object that
// D3DX accepts, holding one float parameter "value" with a default. Which
// default an effect carries tells a test which bytes it was created from.

#include <cstdint>
#include <cstring>
#include <string>

namespace testeffect {

inline void PutWord(std::string& bytes, uint32_t word) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((word >> shift) & 0xFF));
}

inline std::string CompiledEffect(float value) {
  constexpr uint32_t kEffectTag = 0xFEFF0901;  // fx_2_0
  constexpr uint32_t kFloat = 3, kScalar = 0;
  // Offsets count from the end of the two-word header.
  constexpr uint32_t kNameOffset = 4, kTypeOffset = 16, kValueOffset = 44, kMainOffset = 48;

  std::string bytes;
  PutWord(bytes, kEffectTag);
  PutWord(bytes, kMainOffset);
  PutWord(bytes, 0);  // an empty string, named by offset 0 (no semantic)
  PutWord(bytes, 6);  // "value" with its terminator, padded to 8
  bytes.append("value\0\0\0", 8);
  for (uint32_t word : {kFloat, kScalar, kNameOffset, 0u, 0u, 1u, 1u}) PutWord(bytes, word);
  uint32_t valueBits;
  std::memcpy(&valueBits, &value, sizeof valueBits);
  PutWord(bytes, valueBits);
  // Main part: 1 parameter, no technique, 1 object; the parameter; no strings
  // or resources.
  for (uint32_t word : {1u, 0u, 0u, 1u, kTypeOffset, kValueOffset, 0u, 0u, 0u, 0u}) PutWord(bytes, word);
  return bytes;
}

}  // namespace testeffect
