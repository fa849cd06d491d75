#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// One loaded module of this process.
struct LoadedModule {
  uintptr_t base;
  DWORD size;
  char path[MAX_PATH];
  // The file name part of the path.
  const char* name() const;
};

constexpr size_t kModuleListSize = 256;

struct ModuleTable {
  // False when the loader's list could not be read at all.
  bool readable;
  size_t count;
  LoadedModule modules[kModuleListSize];
};

// The process's modules in load order (the executable first), at most
// kModuleListSize, read from the loader's own list with guarded reads: no
// lock and no heap, so that it works whoever holds the loader lock or the
// heap. Read once per crash, on the first call; a table of static storage.
const ModuleTable& CrashModules();

// The module whose image holds `address` (the last match of the list), or
// null.
const LoadedModule* ModuleContaining(const ModuleTable& table, uintptr_t address);
