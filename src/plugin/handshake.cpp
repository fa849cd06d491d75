#include "plugin/handshake.h"

#include "base/log.h"

const char kPluginName[] = "Quelbrand";

extern "C" bool SKSEPlugin_Query(const HostInterface* host, PluginDescriptor* info) {
  // The descriptor is filled before any check so the host can name a refused
  // plug-in.
  if (info != nullptr) {
    info->infoVersion = 1;
    info->name = kPluginName;
    info->version = 1;
  }
  if (host == nullptr) {
    LogLine(GetLog(), LogError, "no host interface, marking as incompatible");
    return false;
  }
  if (host->hostFunction != nullptr) host->hostFunction();

  if (host->isEditor != 0) {
    LogLine(GetLog(), LogError, "loaded in editor, marking as incompatible");
    return false;
  }
  if (host->runtimeVersion < kMinimumRuntimeVersion) {
    LogLine(GetLog(), LogError, "unsupported runtime version %08X", host->runtimeVersion);
    return false;
  }
  LogLine(GetLog(), LogInfo, "Queue OK");
  return true;
}
