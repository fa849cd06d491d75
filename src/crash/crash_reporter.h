#pragma once

#include <windows.h>

#include "crash/report_steps.h"

// Starts, once at load and outside the loader lock, the threads of crash
// handling: two reporters with large stacks of their own, which run report
// steps when the crashing thread cannot, and the watchdog. Returns once each
// runs its own code. Also reads the crash settings.
void StartCrashReporter();

// At unload, when no crash was ever handled: ends the waiting threads.
void StopCrashReporter();

// Runs the report steps for `job`: on the crashing thread (the caller), or,
// when it is short of stack (a stack overflow), on a reporter while the
// caller waits. The watchdog watches either way: a step without progress for
// its limit is abandoned and the remaining steps go on on a reporter that is
// still free; when none is left, or the whole handling overruns its bound, or
// the verdict cannot be returned, the watchdog ends the process with the
// crash's code. Returns the verdict.
LONG RunCrashReport(CrashJob& job);

// The longest the whole handling may take while a step keeps making progress.
DWORD CrashReportLimitMs();
