#include "simd/cpu_features.h"

#include <gtest/gtest.h>

namespace {

uint32_t fakeHighestLeaf;
int fakeCalls;

void FakeCpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
  ++fakeCalls;
  EXPECT_EQ(subleaf, 0u);
  regs[0] = leaf == 0 ? fakeHighestLeaf : 0x11111111u;
  regs[1] = leaf == 7 ? kCpuSha : 0x22222222u;
  regs[2] = leaf == 1 ? 0x00080201u : 0x33333333u;
  regs[3] = 0x44444444u;
}

TEST(CpuFeatures, ReadsLeafZeroEaxLeafOneEcxAndLeafSevenEbx) {
  fakeHighestLeaf = 0x16;
  fakeCalls = 0;
  CpuFeatureRecord record = DetectCpuFeatures(FakeCpuid);
  EXPECT_EQ(record.highestLeaf, 0x16);
  EXPECT_EQ(record.leaf1Ecx, 0x00080201u);
  EXPECT_EQ(record.leaf7Ebx, kCpuSha);
  EXPECT_EQ(fakeCalls, 3);

  fakeHighestLeaf = 6;
  fakeCalls = 0;
  record = DetectCpuFeatures(FakeCpuid);
  EXPECT_EQ(record.leaf1Ecx, 0x00080201u);
  EXPECT_EQ(record.leaf7Ebx, 0u);
  EXPECT_EQ(fakeCalls, 2);
}

TEST(CpuFeatures, NoLeafOneLeavesFeatureWordZero) {
  for (uint32_t highest : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    fakeHighestLeaf = highest;
    fakeCalls = 0;
    CpuFeatureRecord record = DetectCpuFeatures(FakeCpuid);
    EXPECT_EQ(record.highestLeaf, static_cast<int32_t>(highest));
    EXPECT_EQ(record.leaf1Ecx, 0u) << std::hex << highest;
    EXPECT_EQ(record.leaf7Ebx, 0u) << std::hex << highest;
    EXPECT_EQ(fakeCalls, 1);
  }
}

TEST(CpuFeatures, RealProcessorMatchesDirectCpuid) {
  uint32_t leaf0[4];
  ExecuteCpuid(0, 0, leaf0);
  CpuFeatureRecord record = DetectCpuFeatures(ExecuteCpuid);
  EXPECT_EQ(record.highestLeaf, static_cast<int32_t>(leaf0[0]));
  ASSERT_GE(record.highestLeaf, 1);
  uint32_t leaf1[4];
  ExecuteCpuid(1, 0, leaf1);
  EXPECT_EQ(record.leaf1Ecx, leaf1[2]);
  // Every processor that runs these tests has SSE3 (bit 0).
  EXPECT_NE(record.leaf1Ecx & 1u, 0u);
}

}  // namespace
