#include "crash/crash_reporter.h"

#include <atomic>
#include <cstdint>

#include "base/guarded_call.h"
#include "base/log.h"

namespace {

// Committed at once, so that the report never meets a guard page.
constexpr SIZE_T kReporterStack = 256 * 1024;
// Below this much stack the crashing thread hands the report over.
constexpr uintptr_t kOwnStackNeeded = 128 * 1024;
constexpr DWORD kPollMs = 20;
// How long load waits for the new reporter thread to reach its own code.
constexpr DWORD kStartLimitMs = 10000;

// Who runs the steps: the state word holds the runner and the next step.
enum Runner : uint32_t { CrashingThread = 1, Reporter = 2, Done = 3 };

HANDLE reporterThread;
// Set once the reporter runs its own code: before that it may still be in
// the loader's thread start-up, holding the loader or heap lock, and must
// not be ended.
HANDLE startedEvent;
HANDLE crashEvent;
HANDLE doneEvent;
CrashJob* job;
std::atomic<uint32_t> progress{0};

uint32_t Progress(Runner runner, uint32_t next) { return runner << 8 | next; }
Runner RunnerOf(uint32_t state) { return static_cast<Runner>(state >> 8); }
uint32_t NextOf(uint32_t state) { return state & 0xFF; }

// Distance from here to the bottom of the reserved stack (the TEB's
// DeallocationStack).
uintptr_t StackLeft() {
  uintptr_t bottom;
  asm volatile("mov %%fs:0xE0C, %0" : "=r"(bottom));
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - bottom;
}

// Runs step after step while `runner` owns the run. True when it ran the
// last one and marked the report done.
bool RunSteps(Runner runner) {
  for (;;) {
    uint32_t state = progress.load();
    if (RunnerOf(state) != runner) return false;
    const uint32_t next = NextOf(state);
    if (next >= kReportStepCount) {
      if (!progress.compare_exchange_strong(state, Progress(Done, next))) continue;
      SetEvent(doneEvent);
      return true;
    }
    if (!progress.compare_exchange_strong(state, Progress(runner, next + 1))) continue;
    const ReportStep& step = kReportSteps[next];
    const uint32_t code = GuardedCall(step.run, job);
    if (code != 0) LogLine(GetLog(), LogError, "%s failed with exception 0x%08x", step.name, code);
  }
}

// Watches the runner until the report is done (true) or a step overruns its
// limit, in which case `self` takes the run from the step after it (false,
// with the abandoned step in `overrun`).
bool WatchSteps(Runner self, uint32_t& overrun) {
  uint32_t seen = progress.load();
  uint64_t stepProgress = 0;
  DWORD since = GetTickCount();
  for (;;) {
    if (RunnerOf(seen) == Done) return true;
    WaitForSingleObject(doneEvent, kPollMs);
    const uint32_t state = progress.load();
    overrun = NextOf(state) == 0 ? 0 : NextOf(state) - 1;
    const ReportStep& step = kReportSteps[overrun];
    const uint64_t nowProgress = step.progress != nullptr ? step.progress() : 0;
    if (state != seen || nowProgress != stepProgress) {
      seen = state;
      stepProgress = nowProgress;
      since = GetTickCount();
      continue;
    }
    if (GetTickCount() - since > step.limitMs &&
        progress.compare_exchange_strong(seen, Progress(self, NextOf(seen))))
      return false;
  }
}

DWORD WINAPI ReporterMain(void*) {
  SetEvent(startedEvent);
  WaitForSingleObject(crashEvent, INFINITE);
  if (RunnerOf(progress.load()) == Reporter) {
    RunSteps(Reporter);
    return 0;
  }
  uint32_t overrun = 0;
  if (WatchSteps(Reporter, overrun)) return 0;
  LogLine(GetLog(), LogError, "%s did not finish within %u ms", kReportSteps[overrun].name,
          static_cast<unsigned>(kReportSteps[overrun].limitMs));
  RunSteps(Reporter);
  // The crashing thread is held in the abandoned step and cannot return its
  // verdict: end the process as that verdict would.
  TerminateProcess(GetCurrentProcess(), job->pointers->ExceptionRecord->ExceptionCode);
  return 0;
}

}  // namespace

void StartCrashReporter() {
  if (reporterThread != nullptr) return;
  startedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  crashEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (startedEvent == nullptr || crashEvent == nullptr || doneEvent == nullptr) return;
  reporterThread = CreateThread(nullptr, kReporterStack, ReporterMain, nullptr, 0, nullptr);
  if (reporterThread == nullptr) return;
  if (WaitForSingleObject(startedEvent, kStartLimitMs) != WAIT_OBJECT_0)
    LogLine(GetLog(), LogWarning, "Crash reporter thread did not start; crashes are reported without it");
}

void StopCrashReporter() {
  // The reporter holds nothing while it waits for a crash. One that never
  // reached its own code is left alone: ending it could leave a loader lock
  // held (and under Wine kills the process).
  if (reporterThread == nullptr || progress.load() != 0) return;
  if (WaitForSingleObject(startedEvent, 0) != WAIT_OBJECT_0) return;
  TerminateThread(reporterThread, 0);
  CloseHandle(reporterThread);
  reporterThread = nullptr;
}

LONG RunCrashReport(CrashJob& crashJob) {
  job = &crashJob;
  const bool reporterReady =
      reporterThread != nullptr && WaitForSingleObject(startedEvent, 0) == WAIT_OBJECT_0;
  const bool handOver = reporterReady && StackLeft() < kOwnStackNeeded;
  progress.store(Progress(handOver ? Reporter : CrashingThread, 0));
  if (reporterReady) SetEvent(crashEvent);
  if (!handOver) {
    // Taken over after a hang here: the reporter finishes and ends the process.
    if (!RunSteps(CrashingThread) && reporterReady) WaitForSingleObject(doneEvent, CrashReportLimitMs());
    return CrashVerdict(crashJob);
  }
  // Too little stack here to run anything of the report: an overrun step
  // ends the handling.
  uint32_t overrun = 0;
  WatchSteps(CrashingThread, overrun);
  return CrashVerdict(crashJob);
}

DWORD CrashReportLimitMs() {
  DWORD limit = 0;
  for (size_t i = 0; i < kReportStepCount; ++i) limit += kReportSteps[i].limitMs;
  return limit;
}
