#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// One loaded module of this process: its handle (= base) and image size.
struct LoadedModule {
  HMODULE handle;
  uintptr_t base;
  DWORD size;
};

constexpr size_t kModuleListSize = 256;

// The process's modules as K32EnumProcessModules lists them (at most
// kModuleListSize); modules whose information cannot be read are left out.
size_t ListModules(LoadedModule (&modules)[kModuleListSize]);

// The module whose image holds `address` (the last match of the list), or
// null.
const LoadedModule* ModuleContaining(const LoadedModule* modules, size_t count, uintptr_t address);
