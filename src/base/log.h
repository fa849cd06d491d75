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

// The one process-wide text log, created on first use.
struct PluginLog {
  CRITICAL_SECTION lock;
  int32_t threshold;
  char timeText[64];
  FILE* stream;
};

PluginLog& GetLog();

// Writes "[time]LEVEL: message" when `level` is not above the threshold.
void LogLine(PluginLog& log, LogLevel level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)));

// Writes the message alone: no time, no level, no threshold test.
void LogRaw(PluginLog& log, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
