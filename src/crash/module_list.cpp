#include "crash/module_list.h"

#include <psapi.h>

size_t ListModules(LoadedModule (&modules)[kModuleListSize]) {
  HMODULE handles[kModuleListSize] = {};
  DWORD bytes = 0;
  const HANDLE process = GetCurrentProcess();
  if (!K32EnumProcessModules(process, handles, sizeof handles, &bytes)) bytes = 0;
  DWORD listed = bytes / sizeof(HMODULE);
  if (listed > kModuleListSize) listed = kModuleListSize;
  size_t count = 0;
  for (DWORD i = 0; i < listed; ++i) {
    MODULEINFO info = {};
    if (!K32GetModuleInformation(process, handles[i], &info, sizeof info)) continue;
    modules[count++] = {handles[i], reinterpret_cast<uintptr_t>(info.lpBaseOfDll), info.SizeOfImage};
  }
  return count;
}

const LoadedModule* ModuleContaining(const LoadedModule* modules, size_t count, uintptr_t address) {
  const LoadedModule* found = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (address >= modules[i].base && address - modules[i].base < modules[i].size) found = &modules[i];
  }
  return found;
}
