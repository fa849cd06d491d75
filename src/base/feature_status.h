#pragma once

#include <windows.h>

#include <cstdint>

// What became of each feature at start-up, for the one line that lists what
// is in effect and why the rest is not. Installers fill it as they go; the
// start-up sequence settles it with each transaction's result.
enum class Feature : uint8_t {
  CrashHandler,
  HavokHeap,
  FormHeapLog,
  FormHeapLargerSpace,
  InfiniteLoad,
  HavokResources,
  Textures,
  ShaderCache,
  Camera,
  Math,
  Count,
};

enum class FeatureState : uint8_t {
  NotInstalled,  // its installer has not run
  Queued,        // its redirections wait for the transaction's commit
  On,
  SettingOff,
  RoutineMissing,
  CommitFailed,
};

// Sets a feature's state; `detail` (static text, may be null) is printed
// after its name, for example the kernels chosen.
void SetFeatureState(Feature feature, FeatureState state, const char* detail = nullptr);

// Reads a key that switches `feature`: queues it when on, records
// "setting off" when off. Gives the setting.
bool ReadFeatureSetting(Feature feature, const char* section, const char* key, bool defaultValue);

// Settles every queued feature with a transaction's result.
void SettleFeatures(LONG commitError);

// Writes "Active fixes: ..." with the features in effect, then those that are
// not and why.
void LogActiveFixes();
