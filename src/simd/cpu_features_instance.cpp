#include "base/init_order.h"
#include "simd/cpu_features.h"

const CpuFeatureRecord CpuFeatures __attribute__((init_priority(kInitCpuFeatures))) =
    DetectCpuFeatures(ExecuteCpuid);
