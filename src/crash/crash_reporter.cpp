#include "crash/crash_reporter.h"

#include <atomic>
#include <cstdint>

#include "base/guarded_call.h"
#include "base/log.h"
#include "crash/crash_settings.h"

namespace {

// Committed at once, so that the report never meets a guard page.
constexpr SIZE_T kReporterStack = 256 * 1024;
constexpr SIZE_T kWatchdogStack = 64 * 1024;
// Below this much stack the crashing thread hands the report over.
constexpr uintptr_t kOwnStackNeeded = 128 * 1024;
constexpr DWORD kPollMs = 20;
// How long load waits for a new thread to reach its own code.
constexpr DWORD kStartLimitMs = 10000;
// The whole handling, while a step still makes progress (a full-memory dump
// of a 3 GB game written at 5 MB/s fits).
constexpr DWORD kHandlingLimitMs = 20 * 60 * 1000;
// Between the verdict EXCEPTION_EXECUTE_HANDLER and the end of the process
// the system takes no time of its own; after this the watchdog ends it.
constexpr DWORD kExitGraceMs = 10000;

// Who runs the steps: the crashing thread, or one of the reporters.
constexpr uint32_t kCrashingThread = 0;
constexpr uint32_t kReporterCount = 2;
constexpr uint32_t kRunnerCount = 1 + kReporterCount;
constexpr uint32_t kNobody = 0xFE;
constexpr uint32_t kDone = 0xFF;

struct Helper {
  HANDLE thread;
  HANDLE started;  // set once the thread runs its own code
  HANDLE go;
};

// The watchdog first (runner 0, the crashing thread, needs no thread of its
// own), then the reporters, runners 1 and 2. A thread is ended at unload only once
// it has set `started`: before that it may still be in the loader's thread
// start-up, holding the loader or heap lock.
Helper helpers[kRunnerCount];
Helper& watchdog = helpers[kCrashingThread];
HANDLE doneEvent;
CrashJob* job;
// The state word: the runner in the high byte, the next step in the low one.
std::atomic<uint32_t> progress{0};
std::atomic<bool> crashStarted{false};
std::atomic<bool> verdictReturned{false};
// Runners that were handed the run and are abandoned in a step, or gone.
std::atomic<uint32_t> lostRunners{0};

uint32_t State(uint32_t runner, uint32_t next) { return runner << 8 | next; }
uint32_t RunnerOf(uint32_t state) { return state >> 8; }
uint32_t NextOf(uint32_t state) { return state & 0xFF; }

// Distance from here to the bottom of the reserved stack (the TEB's
// DeallocationStack).
uintptr_t StackLeft() {
  uintptr_t bottom;
  asm volatile("mov %%fs:0xE0C, %0" : "=r"(bottom));
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - bottom;
}

// TerminateProcess takes no lock of this process and allocates nothing.
[[noreturn]] void EndProcess() {
  TerminateProcess(GetCurrentProcess(), job->pointers->ExceptionRecord->ExceptionCode);
  for (;;) Sleep(INFINITE);
}

// Runs step after step while `runner` owns the run. True when it ran the
// last one and marked the report done.
bool RunSteps(uint32_t runner) {
  for (;;) {
    uint32_t state = progress.load();
    if (RunnerOf(state) != runner) return false;
    const uint32_t next = NextOf(state);
    if (next >= kReportStepCount) {
      if (!progress.compare_exchange_strong(state, State(kDone, next))) continue;
      SetEvent(doneEvent);
      return true;
    }
    if (!progress.compare_exchange_strong(state, State(runner, next + 1))) continue;
    const ReportStep& step = kReportSteps[next];
    const uint32_t code = GuardedCall(step.run, job);
    if (code != 0) LogLine(GetLog(), LogError, "%s failed with exception 0x%08x", step.name, code);
  }
}

DWORD WINAPI ReporterMain(void* index) {
  const uint32_t self = reinterpret_cast<uintptr_t>(index);
  SetEvent(helpers[self].started);
  WaitForSingleObject(helpers[self].go, INFINITE);
  RunSteps(self);
  return 0;
}

bool Started(const Helper& helper) {
  return helper.thread != nullptr && WaitForSingleObject(helper.started, 0) == WAIT_OBJECT_0;
}

// The step `state` is in (the one before its next), and its progress mark.
const ReportStep& CurrentStep(uint32_t state) {
  return kReportSteps[NextOf(state) == 0 ? 0 : NextOf(state) - 1];
}

// Threads that run steps, by runner: the crashing thread's own handle, then
// the reporters'.
HANDLE runnerThreads[kRunnerCount];

uint64_t ProcessorTime(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (thread == nullptr || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& time) {
    return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
  };
  return ticks(kernel) + ticks(user);
}

// A mark that changes whenever the step makes progress.
uint64_t StepProgress(uint32_t state) {
  const ReportStep& step = CurrentStep(state);
  uint64_t mark = step.progress != nullptr ? step.progress() : 0;
  if (step.busyIsProgress && RunnerOf(state) < kRunnerCount)
    mark += ProcessorTime(runnerThreads[RunnerOf(state)]);
  return mark;
}

// Gives the run from the step after the abandoned one to a reporter that was
// never handed it, or ends the process when none is left. Nothing happens
// when the step has just finished after all.
void TakeOver(uint32_t state) {
  uint32_t reporter = 1;
  while (reporter < kRunnerCount &&
         ((lostRunners.load() & 1u << reporter) != 0 || !Started(helpers[reporter])))
    ++reporter;
  // No runner left: the state names none, so that no step starts any more.
  const uint32_t runner = reporter < kRunnerCount ? reporter : kNobody;
  if (!progress.compare_exchange_strong(state, State(runner, NextOf(state)))) return;
  const ReportStep& step = CurrentStep(state);
  LogLine(GetLog(), LogError, "%s did not finish within %u ms", step.name,
          static_cast<unsigned>(step.limitMs));
  lostRunners.fetch_or(1u << RunnerOf(state));
  if (runner != kNobody) {
    lostRunners.fetch_or(1u << runner);
    SetEvent(helpers[runner].go);
    return;
  }
  if (NextOf(state) < kReportStepCount)
    LogLine(GetLog(), LogError, "Crash handling given up before %s: no thread left to run it",
            kReportSteps[NextOf(state)].name);
  EndProcess();
}

DWORD WINAPI WatchdogMain(void*) {
  SetEvent(watchdog.started);
  WaitForSingleObject(watchdog.go, INFINITE);
  const DWORD start = GetTickCount();
  uint32_t seen = progress.load();
  uint64_t seenProgress = StepProgress(seen);
  DWORD since = start;
  for (;;) {
    Sleep(kPollMs);
    const DWORD now = GetTickCount();
    const uint32_t state = progress.load();
    const uint64_t nowProgress = StepProgress(state);
    if (state != seen || nowProgress != seenProgress) {
      seen = state;
      seenProgress = nowProgress;
      since = now;
    }
    if (RunnerOf(state) == kDone) {
      // The crashing thread returns the verdict; when it is lost in an
      // abandoned step, or the process outlives the verdict, end it here.
      if (verdictReturned.load() && CrashVerdict(*job) == EXCEPTION_CONTINUE_SEARCH) return 0;
      if ((lostRunners.load() & 1u << kCrashingThread) != 0 || now - since > kExitGraceMs) EndProcess();
      continue;
    }
    if (now - start > kHandlingLimitMs) {
      LogLine(GetLog(), LogError, "Crash handling given up after %u s",
              static_cast<unsigned>(kHandlingLimitMs / 1000));
      EndProcess();
    }
    if (now - since > CurrentStep(state).limitMs) {
      TakeOver(state);
      seen = progress.load();
      seenProgress = StepProgress(seen);
      since = now;
    }
  }
}

bool Start(Helper& helper, SIZE_T stack, LPTHREAD_START_ROUTINE main, void* argument) {
  helper.started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  helper.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (helper.started == nullptr || helper.go == nullptr) return false;
  helper.thread = CreateThread(nullptr, stack, main, argument, 0, nullptr);
  return helper.thread != nullptr && WaitForSingleObject(helper.started, kStartLimitMs) == WAIT_OBJECT_0;
}

}  // namespace

void StartCrashReporter() {
  ReadCrashSettings();
  if (doneEvent != nullptr) return;
  doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (doneEvent == nullptr) return;
  bool ready = Start(watchdog, kWatchdogStack, WatchdogMain, nullptr);
  for (uintptr_t reporter = 1; reporter < kRunnerCount; ++reporter)
    ready =
        Start(helpers[reporter], kReporterStack, ReporterMain, reinterpret_cast<void*>(reporter)) && ready;
  if (!ready)
    LogLine(GetLog(), LogWarning, "Crash reporter threads did not start; crashes are reported without them");
}

void StopCrashReporter() {
  // The helpers hold nothing while they wait for a crash. One that never
  // reached its own code is left alone: ending it could leave a loader lock
  // held (and under Wine kills the process).
  if (crashStarted.load()) return;
  for (Helper& helper : helpers) {
    if (!Started(helper)) continue;
    TerminateThread(helper.thread, 0);
    CloseHandle(helper.thread);
    helper.thread = nullptr;
  }
}

LONG RunCrashReport(CrashJob& crashJob) {
  job = &crashJob;
  crashStarted.store(true);
  runnerThreads[kCrashingThread] = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
  for (uint32_t reporter = 1; reporter < kRunnerCount; ++reporter)
    runnerThreads[reporter] = helpers[reporter].thread;
  const bool watched = Started(watchdog);
  const bool handOver = watched && Started(helpers[1]) && StackLeft() < kOwnStackNeeded;
  if (handOver) lostRunners.fetch_or(1u << 1);
  progress.store(State(handOver ? 1 : kCrashingThread, 0));
  if (watched) SetEvent(watchdog.go);
  if (handOver) {
    // Too little stack here to run anything of the report.
    SetEvent(helpers[1].go);
    WaitForSingleObject(doneEvent, INFINITE);
  } else if (!RunSteps(kCrashingThread)) {
    // Taken over after a hang here: the watchdog ends the process if the
    // report never finishes.
    WaitForSingleObject(doneEvent, INFINITE);
  }
  verdictReturned.store(true);
  return CrashVerdict(crashJob);
}

DWORD CrashReportLimitMs() { return kHandlingLimitMs; }
