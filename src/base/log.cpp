#include "base/log.h"

#include <cstdarg>
#include <cstring>

#include "base/data_path.h"

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
    log.stream = std::fopen(ChooseDataFile(kLogPath, LogFile), "w");
    if (log.stream == nullptr) log.stream = stderr;
  }

  ~LogOwner() { DeleteCriticalSection(&log.lock); }
};

// The user's regional short date and time. The runtime's locale is left
// alone: msvcrt.dll is shared with the game and every other module, so
// changing it would change how they all print and parse numbers.
void FormatTime(PluginLog& log) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  int date = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, log.timeText, kTimeTextLimit);
  if (date <= 0 || static_cast<size_t>(date) >= kTimeTextLimit) {
    log.timeText[0] = '\0';
    return;
  }
  log.timeText[date - 1] = ' ';
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, log.timeText + date,
                     static_cast<int>(kTimeTextLimit) - date) <= 0) {
    log.timeText[date - 1] = '\0';
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
