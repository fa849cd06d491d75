#pragma once

#include <windows.h>

#include "crash/report_steps.h"

// Starts the reporter: a thread with a large stack of its own that waits for
// a crash. Called once at load, outside the loader lock.
void StartCrashReporter();

// At unload, when no crash was ever handled: ends the waiting reporter.
void StopCrashReporter();

// Runs the report steps for `job` on the crashing thread (the caller). When
// that thread is short of stack (a stack overflow) the reporter runs them
// while the caller waits. Either way the other thread watches: a step that
// overruns its limit is abandoned and the remaining steps go on without it
// (on the reporter; if it was the crashing thread that hung, the reporter ends
// the process itself afterwards). Returns the verdict.
LONG RunCrashReport(CrashJob& job);

// The longest the whole report may take.
DWORD CrashReportLimitMs();
