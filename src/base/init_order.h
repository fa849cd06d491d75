#pragma once

// Order of the plug-in's static initialisation (lower runs first); exit-time
// clean-up runs in the reverse order.
constexpr int kInitCpuFeatures = 101;
constexpr int kInitExceptionFilterSite = 102;
constexpr int kInitShaderCacheDirectory = 103;
constexpr int kInitRetainedResources = 104;
