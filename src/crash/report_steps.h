#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// What the steps of a crash report work on: recorded by the crashing thread,
// read by whichever thread runs the steps.
struct CrashJob {
  EXCEPTION_POINTERS* pointers;
  DWORD threadId;
  const void* havokBlock;
  // From the settings read at load.
  bool fullMemory;
  bool autoSave;
  bool reportToWindows;
};

// One step of the report. Each runs guarded; `limitMs` is how long it may
// take without progress before the handling goes on without it. Progress is
// a change of what `progress` (if any) returns, and, when `busyIsProgress`,
// processor time spent by the thread running the step (a thread blocked on a
// lock spends none).
struct ReportStep {
  const char* name;
  DWORD limitMs;
  void (*run)(void* job);
  uint64_t (*progress)();
  bool busyIsProgress;
};

// The report's steps in order: heading, exception, call stack, Havok
// statistics, thread, registers, stack scan, module list, minidump, autosave.
extern const ReportStep kReportSteps[];
extern const size_t kReportStepCount;

// EXCEPTION_CONTINUE_SEARCH when "ReportToWindows" is on, EXCEPTION_EXECUTE_HANDLER
// otherwise.
LONG CrashVerdict(const CrashJob& job);
