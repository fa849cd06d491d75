#pragma once

#include <windows.h>

#include <cstdint>

// Writes a minidump of this process, with the exception of the crashed
// thread `threadId` (whose exception pointers these are; the caller may be
// another thread), to "data/skse/plugins/Quelbrand.dmp" (relative to the
// working folder, replaced at each crash): the full process memory when
// `fullMemory` is set, a normal dump otherwise. Logs "Minidump saved in
// Quelbrand.dmp" when the dump was written, an error line with the system's
// error code when not.
void WriteCrashDump(EXCEPTION_POINTERS* pointers, DWORD threadId, bool fullMemory);

// The size the dump file has reached while WriteCrashDump writes it, else 0.
uint64_t CrashDumpBytes();
