#include "fake_dbghelp.h"

// For its record types only; the functions are exported under the real names
// by fake_dbghelp.def.
#include <dbghelp.h>

#include <cstring>

namespace {

FakeSymbolHandler state = [] {
  FakeSymbolHandler s = {};
  s.reportedMajorVersion = 12;
  s.initializeResult = TRUE;
  s.loadModuleResult = 0x10000000;
  s.moduleInfoResult = TRUE;
  std::memcpy(s.moduleName, "kernel32", 9);
  s.fromNameResult = TRUE;
  s.symbolAddress = 0x12345678;
  return s;
}();

void CopyName(char* to, size_t capacity, const char* from) {
  if (from == nullptr) return;
  std::strncpy(to, from, capacity - 1);
}

}  // namespace

extern "C" {

__declspec(dllexport) FakeSymbolHandler* FakeSymbolHandlerState() { return &state; }

LPAPI_VERSION WINAPI FakeImagehlpApiVersionEx(LPAPI_VERSION version) {
  ++state.versionCalls;
  state.versionPassed = version->MajorVersion;
  version->MajorVersion = state.reportedMajorVersion;
  return version;
}

BOOL WINAPI FakeSymInitialize(HANDLE process, PCSTR searchPath, BOOL invade) {
  ++state.initializeCalls;
  state.initializeProcess = process;
  state.initializeSearchPathNull = searchPath == nullptr;
  state.initializeInvade = invade;
  return state.initializeResult;
}

DWORD WINAPI FakeSymGetOptions() { return state.currentOptions; }

DWORD WINAPI FakeSymSetOptions(DWORD options) {
  ++state.setOptionsCalls;
  state.optionsSet = options;
  return options;
}

DWORD64 WINAPI FakeSymLoadModule64(HANDLE process, HANDLE file, PCSTR imageName, PCSTR moduleName,
                                   DWORD64 base, DWORD size) {
  ++state.loadModuleCalls;
  state.loadModuleProcess = process;
  state.loadModuleFileNull = file == nullptr;
  CopyName(state.loadModuleImageName, sizeof state.loadModuleImageName, imageName);
  state.loadModuleNameNull = moduleName == nullptr;
  state.loadModuleBase = base;
  state.loadModuleSize = size;
  SetLastError(state.loadModuleError);
  return state.loadModuleResult;
}

BOOL WINAPI FakeSymGetModuleInfo64(HANDLE, DWORD64 base, PIMAGEHLP_MODULE64 info) {
  ++state.moduleInfoCalls;
  state.moduleInfoBase = base;
  state.moduleInfoRecordSize = info->SizeOfStruct;
  if (!state.moduleInfoResult) return FALSE;
  std::memcpy(info->ModuleName, state.moduleName, sizeof info->ModuleName);
  return TRUE;
}

BOOL WINAPI FakeSymFromName(HANDLE, PCSTR name, PSYMBOL_INFO symbol) {
  ++state.fromNameCalls;
  CopyName(state.fromNameName, sizeof state.fromNameName, name);
  state.fromNameRecordSize = symbol->SizeOfStruct;
  state.fromNameMaxNameLength = symbol->MaxNameLen;
  if (!state.fromNameResult) return FALSE;
  symbol->Address = state.symbolAddress;
  return TRUE;
}

}  // extern "C"
