#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

// Severity of a log line; the value indexes the printed names.
enum LogLevel : int32_t {
  LogAlwaysShow = 0,
  LogError = 1,
  LogWarning = 2,
  LogInfo = 3,
  LogDebug = 4,
};

// The one process-wide text log, created on first use. Lines are formatted
// on the writer's stack; each writer reserves the file's next bytes with one
// atomic addition and writes its line there: no lock, no heap, no C runtime
// stream, so that a crash report is written while other threads hold any of
// those, and lines of two threads never overwrite each other.
struct PluginLog {
  int32_t threshold;
  HANDLE file;
  bool positioned;         // a disk file, written at reserved offsets
  volatile LONG64 length;  // bytes reserved so far
};

PluginLog& GetLog();

// Writes "[time]LEVEL: message" when `level` is not above the threshold.
void LogLine(PluginLog& log, LogLevel level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)));

// Writes the message alone: no time, no level, no threshold test.
void LogRaw(PluginLog& log, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

// From now on, for every thread, the time stamp is made by the log itself
// from the regional patterns and names read when the log was created (or,
// when they could not be read, as "2026-12-08 17:53:25"): the system's
// locale code may take the heap lock. Called when a crash is handled.
void LogCrashTimes();
