// Any bytes as one x86 instruction: the copier reads at most the longest
// instruction, writes at most that plus a widened jump, and always moves on
// by one to fifteen bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "patching/instruction_copier.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// A widened short jump grows by at most 4 bytes.
constexpr size_t kLongestCopy = kMaxInstructionLength + 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t shift = 0;
  if (size >= sizeof shift) {
    std::memcpy(&shift, data, sizeof shift);
    // A distance between two addresses: within 47 bits either way.
    shift = static_cast<int64_t>(static_cast<uint64_t>(shift) << 17) >> 17;
    data += sizeof shift;
    size -= sizeof shift;
  }
  // Exactly the longest instruction, so that the sanitizer sees any read
  // beyond it; bytes the input does not give are zero.
  const auto source = std::make_unique<uint8_t[]>(kMaxInstructionLength);
  std::memcpy(source.get(), data, size < kMaxInstructionLength ? size : kMaxInstructionLength);
  const auto copy = std::make_unique<uint8_t[]>(kLongestCopy);

  CopyOutcome outcome = {};
  const uint8_t* next = CopyInstruction(copy.get(), source.get(), shift, &outcome);
  Require(next > source.get() && next <= source.get() + kMaxInstructionLength);
  Require(outcome.extra <= 4);
  EndsFunction(source.get());
  return 0;
}
