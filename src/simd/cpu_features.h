#pragma once

#include <cstdint>

// Processor features as CPUID reports them.
struct CpuFeatureRecord {
  int32_t highestLeaf;  // EAX of leaf 0
  uint32_t leaf1Ecx;    // ECX of leaf 1; 0 when leaf 1 is not available
  uint32_t leaf7Ebx;    // EBX of leaf 7, sub-leaf 0; 0 when leaf 7 is not available
};

constexpr uint32_t kCpuSsse3 = 1u << 9;
constexpr uint32_t kCpuSse41 = 1u << 19;
constexpr uint32_t kCpuSha = 1u << 29;  // in leaf7Ebx

// Runs CPUID with `leaf` in EAX and `subleaf` in ECX; regs = EAX, EBX, ECX, EDX.
using CpuidFunction = void (*)(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);

void ExecuteCpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
CpuFeatureRecord DetectCpuFeatures(CpuidFunction cpuid);

// Filled at static initialisation, before the plug-in's entry runs; constant
// from then on.
extern const CpuFeatureRecord CpuFeatures;
