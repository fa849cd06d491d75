#include "base/log.h"

#include <atomic>
#include <cstdarg>

#include "base/data_path.h"
#include "base/regional_time.h"
#include "base/text_format.h"

namespace {

constexpr char kLogPath[] = "data/skse/plugins/Quelbrand.log";
constexpr size_t kTimeTextLimit = 50;
// A longer line is written in pieces of this size.
constexpr size_t kLineBuffer = 1024;

const char* const kLevelNames[] = {"Always Show", "ERROR", "WARNING", "INFO", "DEBUG"};

std::atomic<bool> crashTimes{false};
// Read with the log, for the time stamps of crash lines.
RegionalTime regionalTime;
bool regionalTimeRead;

// Truncates or creates the log. The handle is left for the process exit to
// close: a crash report may still be written after the runtime has shut down.
HANDLE OpenLogFile(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void InitialiseLog(PluginLog& log) {
  log.threshold = LogInfo;
  log.file = OpenLogFile(ChooseDataFile(kLogPath, LogFile));
  log.positioned = log.file != INVALID_HANDLE_VALUE;
  if (!log.positioned) log.file = GetStdHandle(STD_ERROR_HANDLE);
  log.length = 0;
  regionalTimeRead = ReadRegionalTime(regionalTime);
}

void Flush(TextSink& sink) {
  PluginLog& log = *static_cast<PluginLog*>(sink.context);
  DWORD written = 0;
  if (sink.used == 0) return;
  if (log.positioned) {
    // Writes at offsets do not take the file's own position, which two
    // threads would race for.
    const uint64_t at = static_cast<uint64_t>(InterlockedExchangeAdd64(&log.length, sink.used));
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    WriteFile(log.file, sink.data, sink.used, &written, &where);
  } else {
    WriteFile(log.file, sink.data, sink.used, &written, nullptr);
  }
  sink.used = 0;
}

// The user's regional short date and time. The runtime's locale is left
// alone: msvcrt.dll is shared with the game and every other module, so
// changing it would change how they all print and parse numbers.
void FormatTime(char (&text)[kTimeTextLimit]) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  if (crashTimes.load()) {
    if (regionalTimeRead) {
      FormatRegionalTime(regionalTime, now, text, sizeof text);
    } else {
      FormatTextf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    }
    return;
  }
  int date = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, text, kTimeTextLimit);
  if (date <= 0 || static_cast<size_t>(date) >= kTimeTextLimit) {
    text[0] = '\0';
    return;
  }
  text[date - 1] = ' ';
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, text + date,
                     static_cast<int>(kTimeTextLimit) - date) <= 0) {
    text[date - 1] = '\0';
  }
}

void WriteLine(PluginLog& log, const char* prefix, const char* format, va_list args) {
  char buffer[kLineBuffer];
  TextSink sink = {buffer, sizeof buffer, 0, Flush, &log};
  AppendText(sink, prefix);
  FormatInto(sink, format, args);
  AppendText(sink, "\r\n");
  Flush(sink);
}

}  // namespace

PluginLog& GetLog() {
  static struct LogOwner {
    PluginLog log;
    LogOwner() { InitialiseLog(log); }
  } owner;
  return owner.log;
}

void LogCrashTimes() { crashTimes.store(true); }

void LogLine(PluginLog& log, LogLevel level, const char* format, ...) {
  if (level > log.threshold) return;
  char time[kTimeTextLimit];
  FormatTime(time);
  char prefix[kTimeTextLimit + 32];
  FormatTextf(prefix, sizeof prefix, "[%s]%s: ", time, kLevelNames[level]);
  va_list args;
  va_start(args, format);
  WriteLine(log, prefix, format, args);
  va_end(args);
}

void LogRaw(PluginLog& log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(log, "", format, args);
  va_end(args);
}
