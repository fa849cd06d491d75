#include "plugin/log.h"

#include <clocale>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace {

constexpr char kLogPath[] = "data/skse/plugins/Quelbrand.log";
constexpr DWORD kLockSpinCount = 10000;
constexpr size_t kTimeTextLimit = 50;

const char* const kLevelNames[] = {"Always Show", "ERROR", "WARNING", "INFO", "DEBUG"};

// Owns the log so that its critical section is deleted by the runtime's
// exit-time destructors. The file is left for the process exit to close:
// a crash report may still be written after the runtime has shut down.
struct LogOwner {
  PluginLog log;

  LogOwner() {
    std::memset(&log, 0, sizeof log);
    InitializeCriticalSectionAndSpinCount(&log.lock, kLockSpinCount);
    log.threshold = LogInfo;
    // Time stamps follow the user's regional format.
    std::setlocale(LC_ALL, "");
    log.stream = std::fopen(kLogPath, "w");
    if (log.stream == nullptr) log.stream = stderr;
  }

  ~LogOwner() { DeleteCriticalSection(&log.lock); }
};

void FormatTime(PluginLog& log) {
  __time64_t now = 0;
  _time64(&now);
  struct tm local = {};
  if (_localtime64_s(&local, &now) != 0 || std::strftime(log.timeText, kTimeTextLimit, "%c", &local) == 0) {
    log.timeText[0] = '\0';
  }
}

void WriteMessage(PluginLog& log, const char* format, va_list args) {
  std::vfprintf(log.stream, format, args);
  std::fputs("\n", log.stream);
  std::fflush(log.stream);
}

}  // namespace

PluginLog& GetLog() {
  static LogOwner owner;
  return owner.log;
}

void LogLine(PluginLog& log, LogLevel level, const char* format, ...) {
  EnterCriticalSection(&log.lock);
  if (level > log.threshold) {
    LeaveCriticalSection(&log.lock);
    return;
  }
  FormatTime(log);
  std::fprintf(log.stream, "[%s]%s: ", log.timeText, kLevelNames[level]);
  va_list args;
  va_start(args, format);
  WriteMessage(log, format, args);
  va_end(args);
  LeaveCriticalSection(&log.lock);
}

void LogRaw(PluginLog& log, const char* format, ...) {
  EnterCriticalSection(&log.lock);
  va_list args;
  va_start(args, format);
  WriteMessage(log, format, args);
  va_end(args);
  LeaveCriticalSection(&log.lock);
}
