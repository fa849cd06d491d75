#pragma once

#include <windows.h>
// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include "patching/patching.h"

// The process's debug-help symbol handler, loaded at run time so that a
// process which never needs it never loads dbghelp.dll.
using ImagehlpApiVersionExFn = LPAPI_VERSION(WINAPI*)(LPAPI_VERSION);
using SymInitializeFn = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
using SymSetOptionsFn = DWORD(WINAPI*)(DWORD);
using SymGetOptionsFn = DWORD(WINAPI*)();
using SymLoadModule64Fn = DWORD64(WINAPI*)(HANDLE, HANDLE, PCSTR, PCSTR, DWORD64, DWORD);
using SymGetModuleInfo64Fn = BOOL(WINAPI*)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
using SymFromNameFn = BOOL(WINAPI*)(HANDLE, PCSTR, PSYMBOL_INFO);

struct SymbolHandlerTable {
  HANDLE process;
  HMODULE dbghelp;
  ImagehlpApiVersionExFn imagehlpApiVersionEx;
  SymInitializeFn symInitialize;
  SymSetOptionsFn symSetOptions;  // optional
  SymGetOptionsFn symGetOptions;  // optional
  SymLoadModule64Fn symLoadModule64;
  SymGetModuleInfo64Fn symGetModuleInfo64;
  SymFromNameFn symFromName;
};

// Oldest debug-help interface version the handler accepts.
constexpr USHORT kSymbolApiVersion = 11;
// Options added to the handler's own: deferred loads, no unqualified loads,
// no critical-error boxes, exact symbols, 32-bit modules too.
constexpr DWORD kSymbolOptions = 0x2704;

// LoadSymbolHandler (patching.h) gives the table.
