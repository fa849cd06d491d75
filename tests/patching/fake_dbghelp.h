#pragma once

// A stand-in for dbghelp.dll's symbol handler: the tests load it (under the
// name dbghelp.dll) before the code under test does, tell it how to answer
// and read back how it was called.

#include <windows.h>

struct FakeSymbolHandler {
  // How to answer.
  USHORT reportedMajorVersion;  // written back by ImagehlpApiVersionEx
  BOOL initializeResult;
  DWORD currentOptions;  // what SymGetOptions returns
  DWORD64 loadModuleResult;
  DWORD loadModuleError;
  BOOL moduleInfoResult;
  char moduleName[32];  // not necessarily NUL-terminated
  BOOL fromNameResult;
  DWORD64 symbolAddress;

  // How it was called.
  int versionCalls;
  USHORT versionPassed;
  int initializeCalls;
  HANDLE initializeProcess;
  bool initializeSearchPathNull;
  BOOL initializeInvade;
  int setOptionsCalls;
  DWORD optionsSet;
  int loadModuleCalls;
  HANDLE loadModuleProcess;
  bool loadModuleFileNull;
  char loadModuleImageName[MAX_PATH];
  bool loadModuleNameNull;
  DWORD64 loadModuleBase;
  DWORD loadModuleSize;
  int moduleInfoCalls;
  DWORD64 moduleInfoBase;
  DWORD moduleInfoRecordSize;
  int fromNameCalls;
  char fromNameName[1024];
  DWORD fromNameRecordSize;
  DWORD fromNameMaxNameLength;
};

using FakeSymbolHandlerFn = FakeSymbolHandler*(__cdecl*)();
