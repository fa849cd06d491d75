#pragma once

#include <windows.h>

#include <cstdint>

#include "crash/crash_addresses.h"
#include "patching/patching.h"

// kernel32's SetUnhandledExceptionFilter, as this library's import table
// holds it (filled at static initialisation).
extern PatchSite ExceptionFilterSite;

// Queue the redirection of SetUnhandledExceptionFilter to ExceptionFilterHook
// in the open transaction, and its removal.
void InstallExceptionFilterHook();
void RemoveExceptionFilterHook();

// Replacement of SetUnhandledExceptionFilter: the game's filter is exchanged
// for CrashFilter, every other filter passes through. Returns what the system
// function returns.
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI ExceptionFilterHook(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// The plug-in's top-level filter: the crash report, the minidump, the
// autosave, then EXCEPTION_EXECUTE_HANDLER or EXCEPTION_CONTINUE_SEARCH.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers);

// At shut-down: when CrashFilter is the process's filter, the game's own filter
// (which it stood in for) goes back, so no filter points into an unloaded
// library.
void RestoreGameExceptionFilter();
