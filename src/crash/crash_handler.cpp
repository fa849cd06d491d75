#include "crash/crash_handler.h"

#include <atomic>

#include "base/log.h"
#include "crash/crash_reporter.h"
#include "crash/crash_settings.h"
#include "crash/havok_statistics.h"

namespace {

constexpr DWORD kPollMs = 20;
// After the first crash's verdict, the time its thread gets to end the
// process before a later crashing thread returns the same verdict.
constexpr DWORD kExitGraceMs = 5000;

// The thread whose crash is handled; once set it stays set, so that no later
// crash writes a second report or replaces the dump.
std::atomic<DWORD> crashThread{0};
std::atomic<LONG> verdict{EXCEPTION_EXECUTE_HANDLER};
std::atomic<bool> verdictReady{false};

CrashJob job;

// A later crashing thread: never reports, waits a bounded time for the first
// crash's verdict, then returns it.
LONG AwaitFirstVerdict() {
  const DWORD start = GetTickCount();
  const DWORD limit = CrashReportLimitMs() + kExitGraceMs;
  while (!verdictReady.load() && GetTickCount() - start < limit) Sleep(kPollMs);
  if (verdictReady.load()) Sleep(kExitGraceMs);
  return verdict.load();
}

}  // namespace

LONG HandleCrash(EXCEPTION_POINTERS* pointers) {
  const DWORD self = GetCurrentThreadId();
  DWORD owner = 0;
  if (!crashThread.compare_exchange_strong(owner, self))
    return owner == self ? EXCEPTION_EXECUTE_HANDLER : AwaitFirstVerdict();
  LogCrashTimes();
  const CrashSettings settings = LoadedCrashSettings();
  job = {
      pointers, self, CurrentHavokBlock(), settings.fullMemory, settings.autoSave, settings.reportToWindows};
  verdict.store(RunCrashReport(job));
  verdictReady.store(true);
  return verdict.load();
}
