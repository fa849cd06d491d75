#pragma once

#include <cstdint>

// The plug-in's name as the host shows it; also the first line of the log.
extern const char kPluginName[];

// Oldest game runtime (1.9.32.0) whose fixed addresses this plug-in uses.
constexpr uint32_t kMinimumRuntimeVersion = 0x09200000;

// Filled by the plug-in for the host.
struct PluginDescriptor {
  uint32_t infoVersion;
  const char* name;
  uint32_t version;
};

// The host's record; only the fields named here are read.
struct HostInterface {
  uint32_t reserved0;
  uint32_t runtimeVersion;
  uint32_t reserved8;
  uint32_t isEditor;
  uint32_t reserved16;
  uint32_t (*hostFunction)();
};

static_assert(sizeof(void*) != 4 || sizeof(HostInterface) == 24, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(PluginDescriptor) == 12, "descriptor layout");

extern "C" bool SKSEPlugin_Query(const HostInterface* host, PluginDescriptor* info);
