#pragma once

#include <windows.h>

// Writes a minidump of this process, with the crashing thread's exception, to
// "data/skse/plugins/Quelbrand.dmp" (relative to the working folder, replaced
// at each crash): the full process memory when `fullMemory` is set, a normal
// dump otherwise. The log line after the attempt is written in every case.
void WriteCrashDump(EXCEPTION_POINTERS* pointers, bool fullMemory);
