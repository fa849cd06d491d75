#pragma once

// A set of DDS files and creation calls that covers every verdict of the
// direct texture path: each pixel format it serves, and each reason it
// refuses a file or a call for.

#include <cstdint>
#include <string>
#include <vector>

#include "textures/dds_verdict.h"

struct DdsSample {
  std::string name;  // also a file name
  std::vector<uint8_t> bytes;
  DdsCall call;
  DdsReason expected;
};

std::vector<DdsSample> DdsSamples();
