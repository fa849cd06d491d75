#pragma once

#include <windows.h>

// The report's sections after the call stack, for a mod author: the crashing
// thread and where it faulted, the registers and what they point to, what the
// stack holds that points into code or to named objects (the frame-pointer
// walk misses the frames of code built without frame pointers, as the
// game's), and the loaded modules. They read the crashed state guarded and
// take no lock and no heap.
void LogFaultingThread(const EXCEPTION_POINTERS* pointers, DWORD threadId);
void LogRegisters(const CONTEXT* context);
void LogStackScan(const CONTEXT* context);
void LogModules();
