#include "simd/cpu_features.h"

#include <cpuid.h>

void ExecuteCpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
  __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
}

CpuFeatureRecord DetectCpuFeatures(CpuidFunction cpuid) {
  CpuFeatureRecord record = {0, 0, 0};
  uint32_t regs[4] = {};
  cpuid(0, 0, regs);
  record.highestLeaf = static_cast<int32_t>(regs[0]);
  if (record.highestLeaf >= 1) {
    cpuid(1, 0, regs);
    record.leaf1Ecx = regs[2];
  }
  if (record.highestLeaf >= 7) {
    cpuid(7, 0, regs);
    record.leaf7Ebx = regs[1];
  }
  return record;
}
