#include "patching/symbol_handler.h"

namespace {

SymbolHandlerTable table;
bool loaded;
bool failed;

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool Initialise() {
  table.process = GetCurrentProcess();
  table.dbghelp = LoadLibraryExW(L"dbghelp.dll", nullptr, 0);
  if (table.dbghelp == nullptr) return false;

  table.imagehlpApiVersionEx = Lookup<ImagehlpApiVersionExFn>(table.dbghelp, "ImagehlpApiVersionEx");
  table.symInitialize = Lookup<SymInitializeFn>(table.dbghelp, "SymInitialize");
  table.symSetOptions = Lookup<SymSetOptionsFn>(table.dbghelp, "SymSetOptions");
  table.symGetOptions = Lookup<SymGetOptionsFn>(table.dbghelp, "SymGetOptions");
  table.symLoadModule64 = Lookup<SymLoadModule64Fn>(table.dbghelp, "SymLoadModule64");
  table.symGetModuleInfo64 = Lookup<SymGetModuleInfo64Fn>(table.dbghelp, "SymGetModuleInfo64");
  table.symFromName = Lookup<SymFromNameFn>(table.dbghelp, "SymFromName");
  if (table.imagehlpApiVersionEx == nullptr || table.symInitialize == nullptr ||
      table.symLoadModule64 == nullptr || table.symGetModuleInfo64 == nullptr || table.symFromName == nullptr)
    return false;

  API_VERSION version = {};
  version.MajorVersion = kSymbolApiVersion;
  table.imagehlpApiVersionEx(&version);
  if (version.MajorVersion < kSymbolApiVersion) return false;

  if (!table.symInitialize(table.process, nullptr, FALSE)) return false;

  if (table.symSetOptions != nullptr && table.symGetOptions != nullptr)
    table.symSetOptions((table.symGetOptions() & ~DWORD{7}) | kSymbolOptions);
  return true;
}

}  // namespace

const SymbolHandlerTable* LoadSymbolHandler() {
  if (failed) return nullptr;
  if (loaded) return &table;

  table = {};
  if (Initialise()) {
    loaded = true;
    return &table;
  }
  failed = true;
  if (table.dbghelp != nullptr) FreeLibrary(table.dbghelp);
  table = {};
  return nullptr;
}
